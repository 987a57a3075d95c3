// The load dispatcher: the reader is chosen by the path's last three characters.
#include <string_view>

#include "volume/DicomSeg.h"
#include "volume/Readers.h"
#include "volume/Voxel.h"

namespace volume {

namespace {

struct DispatchEntry {
  std::string_view key;
  VolumeFormat format;
};

// Compared exactly and in this order; the first match wins.
constexpr DispatchEntry kDispatch[] = {
    {"bin", VolumeFormat::ByteRaw},      {"BIN", VolumeFormat::ByteRaw},
    {"raw", VolumeFormat::ShortRaw},     {"RAW", VolumeFormat::ShortRaw},
    {"lab", VolumeFormat::ShortRaw},     {"LAB", VolumeFormat::ShortRaw},
    {"mhd", VolumeFormat::MetaImage},    {"MHD", VolumeFormat::MetaImage},
    {"mha", VolumeFormat::MetaImage},    {"MHA", VolumeFormat::MetaImage},
    {"hdr", VolumeFormat::AnalyzeNifti}, {"HDR", VolumeFormat::AnalyzeNifti},
    {"nii", VolumeFormat::AnalyzeNifti}, {"NII", VolumeFormat::AnalyzeNifti},
    {".gz", VolumeFormat::AnalyzeNifti}, {".GZ", VolumeFormat::AnalyzeNifti},
    {"img", VolumeFormat::Image2048},    {"IMG", VolumeFormat::Image2048},
};

}  // namespace

VolumeFormat FormatForPath(const std::string& path) {
  if (path.size() >= 3) {
    const std::string_view key = std::string_view(path).substr(path.size() - 3);
    for (const DispatchEntry& entry : kDispatch) {
      if (entry.key == key) return entry.format;
    }
  }
  return VolumeFormat::DicomSeries;
}

}  // namespace volume

bool LoadVolume(CVoxel& volume, const std::string& path, volume::MessageSink* sink) {
  switch (volume::FormatForPath(path)) {
    case volume::VolumeFormat::ByteRaw:
      return ReadRawVolume(volume, path, 1, sink);
    case volume::VolumeFormat::ShortRaw:
      return ReadRawVolume(volume, path, 2, sink);
    case volume::VolumeFormat::MetaImage:
      return ReadMetaImage(volume, path, sink);
    case volume::VolumeFormat::AnalyzeNifti:
      return ReadAnalyzeNifti(volume, path, sink);
    case volume::VolumeFormat::Image2048:
      return ReadImage2048(volume, path, sink);
    case volume::VolumeFormat::DicomSeries:
      // A chosen SEG file is a label volume, not one image of a series.
      if (volume::IsDicomSegmentation(path)) return volume::ReadDicomSegmentation(volume, path, sink);
      return ReadDicomSeries(volume, path, sink);
  }
  return false;
}

CVoxel::CVoxel(const std::string& path, volume::MessageSink* sink) { LoadVolume(*this, path, sink); }
