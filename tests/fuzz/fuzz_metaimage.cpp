// Feeds arbitrary bytes to the MetaImage reader as a header. Data named by
// ElementDataFile lies under a folder that does not exist, so only LOCAL data
// (after the header, plain or compressed) is ever read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (!stream) return 0;
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = volume::ReadMetaImageStream(volume, stream, "/nonexistent-corvane-fuzz/input.mhd", &sink);
  std::fclose(stream);
  if (ok != volume.HasData()) std::abort();
  if (volume.HasData() &&
      static_cast<std::int64_t>(volume.VoxelCount()) != volume::VoxelCount(volume.X, volume.Y, volume.Z)) {
    std::abort();
  }
  return 0;
}
