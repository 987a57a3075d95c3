#include "volume/DicomSegSupport.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/oflog/oflog.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "volume/FileIO.h"
#include "volume/Readers.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace volume {

void QuietDcmtk() {
  static std::once_flag once;
  std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

std::string SopClassOf(const std::string& path) {
  QuietDcmtk();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec) || !NotARegularFile(path).empty()) return {};
  DcmFileFormat format;
  if (format
          .loadFileUntilTag(path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect,
                            DCM_SOPInstanceUID)
          .bad())
    return {};
  OFString uid;
  if (format.getDataset()->findAndGetOFString(DCM_SOPClassUID, uid).bad() || uid.empty())
    format.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPClassUID, uid);
  return uid.c_str();
}

bool LocateDicomStackIsolated(const std::string& path, dicom::DicomStack* stack, std::string* why) {
  if (SopClassOf(path) == dicom::kSegmentationStorage) {
    *why = "it is a DICOM Segmentation, not an image";
    return false;
  }
  CVoxel image;
  RecordingSink messages;
  if (!ReadDicomSeries(image, path, &messages)) {
    *why = messages.messages.empty() ? "no DICOM image series is there" : messages.messages.front();
    return false;
  }
  return dicom::LocateDicomStack(path, stack, why);
}

}  // namespace volume
