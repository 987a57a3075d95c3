#include "volume/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <vector>

namespace volume {

const char* FileCauseName(int code) {
  static constexpr const char* kNames[] = {
      "none",         "genericException", "fileNotFound",     "badPath",       "tooManyOpenFiles",
      "accessDenied", "invalidFile",      "removeCurrentDir", "directoryFull", "badSeek",
      "hardIO",       "sharingViolation", "lockViolation",    "diskFull",      "endOfFile",
  };
  if (code < 0 || code >= static_cast<int>(std::size(kNames))) return "";
  return kNames[code];
}

std::string_view FolderOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1);
}

std::string_view FileNameOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = ::write(fd, at, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

bool ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset) {
  auto* at = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t done = ::pread(fd, at, size, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    offset += static_cast<std::uint64_t>(done);
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

namespace {
bool FolderExists(const std::string& path) {
  std::string folder(FolderOf(path));
  if (folder.empty()) folder = ".";
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

FileCause FileCauseFromErrno(int err, const std::string& path) {
  switch (err) {
    case 0:
      return FileCause::none;
    case ENOENT:
      return FolderExists(path) ? FileCause::fileNotFound : FileCause::badPath;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FileCause::badPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return FileCause::accessDenied;
    case EMFILE:
    case ENFILE:
      return FileCause::tooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileCause::diskFull;
    case EIO:
      return FileCause::hardIO;
    case ETXTBSY:
    case EBUSY:
      return FileCause::sharingViolation;
    default:
      return FileCause::genericException;
  }
}

namespace {
// The end of a sentence naming what a non-regular entry is; empty for a regular file.
std::string DescribeNonRegular(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "it is a folder, not a file";
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}
}  // namespace

std::string NotARegularFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  return DescribeNonRegular(st.st_mode);
}

InputFile InputFile::Open(const std::string& path, FileCause* cause, std::string* notRegular) {
  if (notRegular) notRegular->clear();
  auto report = [&](int err) {
    if (cause) *cause = FileCauseFromErrno(err, path);
    return InputFile();
  };
  auto refuse = [&](mode_t mode) {
    if (notRegular) *notRegular = DescribeNonRegular(mode);
    if (cause) *cause = S_ISDIR(mode) ? FileCause::accessDenied : FileCause::invalidFile;
    return InputFile();
  };
  // Looked at before opening, so that no device is opened at all; the check is
  // repeated on the open descriptor in case the entry was replaced meanwhile.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return report(errno);
  if (!S_ISREG(st.st_mode)) return refuse(st.st_mode);
  // Without O_NONBLOCK, opening a FIFO waits for a writer, possibly forever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return report(errno);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    const mode_t mode = st.st_mode;
    ::close(fd);
    return S_ISREG(mode) ? report(err) : refuse(mode);
  }
  // Reads of the regular file block as usual.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    const int err = errno;
    ::close(fd);
    return report(err);
  }
  InputFile file;
  file.m_file.reset(f);
  if (cause) *cause = FileCause::none;
  return file;
}

InputFile InputFile::Borrow(std::FILE* stream) {
  InputFile file;
  file.m_file = std::unique_ptr<std::FILE, detail::StreamCloser>(stream, detail::StreamCloser{false});
  return file;
}

std::int64_t InputFile::Size() const {
  if (!m_file) return -1;
  std::FILE* f = m_file.get();
  const off_t here = ::ftello(f);
  if (here < 0 || ::fseeko(f, 0, SEEK_END) != 0) return -1;
  const off_t end = ::ftello(f);
  ::fseeko(f, here, SEEK_SET);
  return end;
}

std::int64_t InputFile::Tell() const { return m_file ? ::ftello(m_file.get()) : -1; }

bool InputFile::Seek(std::int64_t offset) {
  return m_file && offset >= 0 && ::fseeko(m_file.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool InputFile::ReadExact(void* dst, std::size_t n) { return ReadSome(dst, n) == n; }

std::size_t InputFile::ReadSome(void* dst, std::size_t n) {
  if (!m_file || n == 0) return 0;
  return std::fread(dst, 1, n, m_file.get());
}

// ---------------------------------------------------------------------------

std::string WriteTarget(const std::string& path) {
  std::string target = path;
  // The kernel's own limit on links followed in one lookup.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(target.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return target;
    const std::string link(buffer.data(), static_cast<std::size_t>(n));
    // A relative link is read from the folder the link lies in.
    target = link.front() == '/' ? link : std::string(FolderOf(target)) + link;
  }
  return target;
}

std::string OutputProblem(const std::string& path) {
  const std::string prefix = "cannot write '" + path + "': ";
  if (path.empty()) return "cannot write an output without a name";
  if (path.back() == '/') return prefix + "the name ends in '/', so it names a folder, not a file";
  const std::string target = WriteTarget(path);
  if (const std::string kind = NotARegularFile(target); !kind.empty()) return prefix + kind;
  std::string folder(FolderOf(target));
  if (folder.empty()) folder = ".";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return prefix + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return prefix + std::strerror(ENOTDIR);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return prefix + std::strerror(errno);
  return {};
}

namespace temporaries {
namespace {
struct Entry {
  std::string path;
  bool folder;
};
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::vector<Entry>& Entries() {
  static std::vector<Entry> entries;
  return entries;
}
}  // namespace

bool Create(const std::string& path, bool folder, const std::function<bool()>& create) {
  const std::lock_guard<std::mutex> hold(Lock());
  if (!create()) return false;
  Entries().push_back({path, folder});
  return true;
}

void Forget(const std::string& path) {
  const std::lock_guard<std::mutex> hold(Lock());
  std::vector<Entry>& entries = Entries();
  std::erase_if(entries, [&](const Entry& e) { return e.path == path; });
}

std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(Lock()); }

void RemoveAllForExit() {
  Lock().lock();  // never unlocked: the process exits next
  // Newest first: files inside a temporary folder go before the folder.
  std::vector<Entry>& entries = Entries();
  for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
    std::error_code ignored;
    if (e->folder) {
      std::filesystem::remove_all(e->path, ignored);
    } else {
      ::unlink(e->path.c_str());
    }
  }
  entries.clear();
}
}  // namespace temporaries

StagedFile::StagedFile(std::string target) : m_target(std::move(target)) {}

StagedFile::~StagedFile() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_temp.empty()) {
    ::unlink(m_temp.c_str());
    temporaries::Forget(m_temp);
  }
}

bool StagedFile::Fail(const char* what, int err) {
  m_failed = true;
  if (m_error.empty()) m_error = std::string(what) + " '" + m_target + "': " + std::strerror(err);
  return false;
}

bool StagedFile::Create() {
  static std::atomic<unsigned> counter{0};
  m_written = WriteTarget(m_target);
  // Renaming onto a device or FIFO would replace it with a plain file.
  if (const std::string kind = NotARegularFile(m_written); !kind.empty()) {
    m_failed = true;
    m_error = "cannot write '" + m_target + "': " + kind;
    return false;
  }
  const std::string base =
      std::string(FolderOf(m_written)) + "." + std::string(FileNameOf(m_written)) + ".tmp";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = base + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int err = 0;
    // The kernel applies the umask to 0666, so the result gets ordinary permissions.
    const bool made = temporaries::Create(name, false, [&] {
      m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      err = errno;
      return m_fd >= 0;
    });
    if (made) {
      m_temp = std::move(name);
      return true;
    }
    if (err != EEXIST) return Fail("cannot write", err);
  }
  return Fail("cannot write", EEXIST);
}

bool StagedFile::Write(const void* data, std::size_t n) {
  if (m_failed || m_fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(m_fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return Fail("cannot write", errno);
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool StagedFile::Finish() {
  if (m_finished) return true;
  if (m_failed || m_fd < 0) return false;
  // fsync may be unsupported on special file systems (EINVAL); that is no failure.
  if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) return Fail("cannot write", errno);
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) return Fail("cannot write", errno);
  m_finished = true;
  return true;
}

bool StagedFile::Commit() {
  if (!Finish()) return false;
  if (::rename(m_temp.c_str(), m_written.c_str()) != 0) {
    const int err = errno;
    m_error.clear();
    return Fail("cannot replace", err);
  }
  temporaries::Forget(m_temp);
  m_temp.clear();
  return true;
}

bool CommitStagedFiles(std::initializer_list<StagedFile*> files, std::string* error) {
  for (StagedFile* f : files) {
    if (!f->Finish()) {
      if (error) *error = f->Error();
      return false;
    }
  }
  for (StagedFile* f : files) {
    if (!f->Commit()) {
      if (error) *error = f->Error();
      return false;
    }
  }
  return true;
}

}  // namespace volume
