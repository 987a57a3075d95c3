// Feeds arbitrary bytes to the Analyze/NIfTI reader through files, as the
// window reads them. The first byte picks the layout:
//   0: the rest is one ".nii" file;
//   1: the first 348 bytes of the rest are an Analyze ".hdr", the remainder its ".img";
//   2: the rest, gzip-compressed, is a ".nii.gz" file;
//   3: the first 540 bytes of the rest are a NIfTI-2 ".hdr", the remainder its ".img".
// A volume read is written back as NIfTI and read again.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tests/fuzz/FuzzFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string& folder = fuzzfiles::FreshFolder();
  std::string path;
  switch (data[0] % 4) {
    case 0:
      path = folder + "/input.nii";
      fuzzfiles::Write(path, rest);
      break;
    case 1:
    case 3: {
      const std::size_t headerBytes = data[0] % 4 == 1 ? 348 : 540;
      path = folder + "/input.hdr";
      fuzzfiles::Write(path, rest.substr(0, headerBytes));
      fuzzfiles::Write(folder + "/input.img", rest.size() > headerBytes ? rest.substr(headerBytes) : "");
      break;
    }
    case 2: {
      path = folder + "/input.nii.gz";
      gzFile gz = gzopen(path.c_str(), "wb");
      if (!gz) std::abort();
      if (!rest.empty()) gzwrite(gz, rest.data(), static_cast<unsigned>(rest.size()));
      gzclose(gz);
      break;
    }
  }
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = ReadAnalyzeNifti(volume, path, &sink);
  if (ok != volume.HasData()) std::abort();
  if (!volume.HasData()) return 0;
  if (static_cast<std::int64_t>(volume.VoxelCount()) != volume::VoxelCount(volume.X, volume.Y, volume.Z))
    std::abort();
  // Whatever geometry was read, the volume is written back as NIfTI and reads
  // back with the same voxels and the same qform and sform codes.
  // NIfTI-1 holds at most 32767 voxels along an axis; a longer NIfTI-2 volume is refused.
  const std::string back = folder + "/back.nii";
  if (!volume::SaveNifti(volume, back, volume::ElementStorage::Short)) {
    if (std::max({volume.X, volume.Y, volume.Z}) > 32767) return 0;
    std::abort();
  }
  CVoxel reread;
  if (!ReadAnalyzeNifti(reread, back, &sink) || !reread.SameSize(volume) ||
      !std::equal(volume.Data(), volume.Data() + volume.VoxelCount(), reread.Data()) ||
      reread.niftiQformCode != volume.niftiQformCode || reread.niftiSformCode != volume.niftiSformCode) {
    std::abort();
  }
  return 0;
}
