// Feeds arbitrary bytes to the DICOM series reader (through GDCM): the input
// is cut at every "\n--next-file--\n" into files slice00.dcm, slice01.dcm, ...
// (at most 8) of one folder, and the series in that folder is read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzFiles.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::string_view kSeparator = "\n--next-file--\n";
  constexpr int kMaxFiles = 8;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string& folder = fuzzfiles::FreshFolder();
  for (int n = 0; n < kMaxFiles && !rest.empty(); ++n) {
    const std::size_t cut = n + 1 < kMaxFiles ? rest.find(kSeparator) : std::string_view::npos;
    char name[32];
    std::snprintf(name, sizeof name, "/slice%02d.dcm", n);
    fuzzfiles::Write(folder + name, rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + kSeparator.size());
  }
  CVoxel volume;
  RecordingSink sink;
  const bool ok = ReadDicomSeries(volume, folder + "/slice00.dcm", &sink);
  if (ok != volume.HasData()) std::abort();
  if (volume.HasData() &&
      static_cast<std::int64_t>(volume.VoxelCount()) != ::VoxelCount(volume.X, volume.Y, volume.Z)) {
    std::abort();
  }
  return 0;
}
