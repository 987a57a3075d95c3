// Feeds arbitrary bytes to the DICOM Segmentation reader (through DCMTK) as
// one file, seg.dcm, two folders deep in a private folder, so that the search
// for its series beside it stays inside that folder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/fuzz/FuzzFiles.h"
#include "volume/DicomSeg.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = fuzzfiles::FreshFolder() + "/study/seg";
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/seg.dcm";
  fuzzfiles::Write(path, std::string_view(reinterpret_cast<const char*>(data), size));
  CVoxel volume;
  volume::RecordingSink sink;
  const bool ok = volume::ReadDicomSegmentation(volume, path, &sink);
  if (ok != volume.HasData()) std::abort();
  if (!ok && sink.messages.size() != 1) std::abort();  // a refusal says why, once
  if (volume.HasData()) {
    if (static_cast<std::int64_t>(volume.VoxelCount()) != volume::VoxelCount(volume.X, volume.Y, volume.Z))
      std::abort();
    for (std::size_t i = 0; i < volume.VoxelCount(); ++i)
      if (volume[i] != 0 && volume[i] != 1) std::abort();
  }
  volume::DicomSegSummary summary;
  std::string why;
  volume::DescribeDicomSegmentation(path, &summary, &why);
  return 0;
}
