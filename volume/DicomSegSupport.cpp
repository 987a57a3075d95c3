#include "volume/DicomSegSupport.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/oflog/oflog.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "volume/FileIO.h"
#include "volume/Isolated.h"
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
  // The folder's headers are read first in a child with a bounded address
  // space: GDCM allocates (and fills) a value of the length a header declares
  // before reading it, so one corrupt file beside the series would otherwise
  // cost gigabytes and seconds here. This process then reads only the files
  // of the stack the child found. The child answers "+" and the paths, or "-"
  // and the reason, separated by NUL characters.
  std::string answer;
  const bool done = ReadHeadersIsolated(
      [&path] {
        dicom::DicomStack found;
        std::string reason;
        if (!dicom::LocateDicomStack(path, &found, &reason)) return "-" + reason;
        std::string paths = "+";
        for (const dicom::DicomInstance& instance : found.instances) paths += instance.path + '\0';
        return paths;
      },
      &answer);
  if (!done || answer.empty()) {
    *why = "its headers could not be read";
    return false;
  }
  if (answer[0] != '+') {
    *why = answer.substr(1);
    return false;
  }
  std::vector<std::string> files;
  for (std::size_t start = 1, end; (end = answer.find('\0', start)) != std::string::npos; start = end + 1)
    files.push_back(answer.substr(start, end - start));
  std::sort(files.begin(), files.end());  // in the folder scan's order, so that ties are broken alike
  return dicom::LocateDicomStack(path, stack, why, &files);
}

}  // namespace volume
