// Header reading through DCMTK for the SEG reader and writer.
#include "volume/DicomFiles.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "volume/FileIO.h"

namespace dicom_files {

void QuietDcmtk() {
  static std::once_flag once;
  std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

namespace {

std::string Text(DcmItem& item, const DcmTagKey& tag, long pos = 0) {
  OFString value;
  if (item.findAndGetOFString(tag, value, pos).bad()) return {};
  return std::string(value.c_str());
}

bool Number(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(*out);
}

}  // namespace

bool ReadInstance(const std::string& file, Instance* out) {
  QuietDcmtk();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec) || !NotARegularFile(file).empty()) return false;
  DcmFileFormat format;
  if (format
          .loadFileUntilTag(file.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect,
                            DCM_PixelData)
          .bad()) {
    return false;
  }
  DcmDataset& data = *format.getDataset();
  Instance instance;
  instance.file = file;
  instance.sopClassUid = Text(data, DCM_SOPClassUID);
  instance.sopInstanceUid = Text(data, DCM_SOPInstanceUID);
  if (instance.sopClassUid.empty() || instance.sopInstanceUid.empty()) return false;
  instance.seriesUid = Text(data, DCM_SeriesInstanceUID);
  instance.studyUid = Text(data, DCM_StudyInstanceUID);
  instance.patientId = Text(data, DCM_PatientID);
  instance.frameOfReferenceUid = Text(data, DCM_FrameOfReferenceUID);
  instance.sliceThicknessText = Text(data, DCM_SliceThickness);
  Uint16 rows = 0, columns = 0;
  data.findAndGetUint16(DCM_Rows, rows);
  data.findAndGetUint16(DCM_Columns, columns);
  instance.rows = rows;
  instance.columns = columns;
  bool geometry = rows > 0 && columns > 0;
  for (int i = 0; i < 3; ++i) {
    instance.positionText[i] = Text(data, DCM_ImagePositionPatient, i);
    geometry = Number(instance.positionText[i], &instance.position[i]) && geometry;
  }
  for (int i = 0; i < 6; ++i) {
    instance.orientationText[i] = Text(data, DCM_ImageOrientationPatient, i);
    geometry = Number(instance.orientationText[i], &instance.orientation[i]) && geometry;
  }
  for (int i = 0; i < 2; ++i) {
    instance.pixelSpacingText[i] = Text(data, DCM_PixelSpacing, i);
    geometry = Number(instance.pixelSpacingText[i], &instance.pixelSpacing[i]) && geometry &&
               instance.pixelSpacing[i] > 0.0;
  }
  instance.hasGeometry = geometry;
  *out = std::move(instance);
  return true;
}

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (it->is_regular_file(kind)) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

bool DesignatedImage(const std::string& path, Instance* out) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) return ReadInstance(path, out) && out->hasGeometry;
  for (const std::string& file : FilesIn(path)) {
    if (ReadInstance(file, out) && out->hasGeometry) return true;
  }
  return false;
}

std::vector<Instance> SeriesImagesIn(const std::string& folder, const std::string& seriesUid) {
  std::vector<Instance> images;
  for (const std::string& file : FilesIn(folder)) {
    Instance instance;
    if (ReadInstance(file, &instance) && instance.hasGeometry && instance.seriesUid == seriesUid)
      images.push_back(std::move(instance));
  }
  return images;
}

}  // namespace dicom_files
