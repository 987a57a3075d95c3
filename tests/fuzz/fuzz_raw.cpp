// Feeds arbitrary bytes to the own raw volume readers; the first byte picks the
// byte ("bin") or 16-bit ("raw", "lab") variant.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int bytesPerVoxel = (data[0] & 1) ? 2 : 1;
  std::FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
  if (!stream) return 0;
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = volume::ReadRawVolumeStream(volume, stream, bytesPerVoxel, "input.raw", &sink);
  std::fclose(stream);
  if (ok != volume.HasData()) std::abort();
  if (volume.HasData() &&
      static_cast<std::int64_t>(volume.VoxelCount()) != volume::VoxelCount(volume.X, volume.Y, volume.Z)) {
    std::abort();
  }
  return 0;
}
