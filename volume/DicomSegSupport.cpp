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

bool RunIsolated(const std::function<std::string()>& body, unsigned seconds, std::string* result,
                 std::string* why) {
  int fds[2];
  if (::pipe(fds) != 0) {
    *why = "no process could be started";
    return false;
  }
  // Output still buffered here would be written a second time should the
  // child flush its copy (a library's message on std::cerr flushes stdout).
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    *why = "no process could be started";
    return false;
  }
  if (pid == 0) {
    ::close(fds[0]);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::alarm(seconds);
    std::string text;
    try {
      text = body();
    } catch (...) {
      ::_exit(2);
    }
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t done = ::write(fds[1], data, left);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) ::_exit(3);
      data += done;
      left -= static_cast<std::size_t>(done);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string bytes;
  char block[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(block, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    *why = "it did not finish (a corrupt file keeps the DICOM library busy)";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *why = "the DICOM library failed on a corrupt or unsupported file";
    return false;
  }
  *result = std::move(bytes);
  return true;
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
