// File services of the volume readers and writers: the one place that opens a
// file, maps an open error to a cause name, and stages a write so that a
// failure never destroys the file that was there before.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace volume {

// Why a file could not be opened. The numbering is the one the messages show
// users and must not change.
enum class FileCause : int {
  none = 0,
  genericException = 1,
  fileNotFound = 2,
  badPath = 3,
  tooManyOpenFiles = 4,
  accessDenied = 5,
  invalidFile = 6,
  removeCurrentDir = 7,
  directoryFull = 8,
  badSeek = 9,
  hardIO = 10,
  sharingViolation = 11,
  lockViolation = 12,
  diskFull = 13,
  endOfFile = 14,
};

// "none", "genericException", "fileNotFound", ... for codes 0-14; "" otherwise.
const char* FileCauseName(int code);
inline const char* FileCauseName(FileCause cause) { return FileCauseName(static_cast<int>(cause)); }

// Maps an errno value from opening or creating `path` onto a cause. A missing
// entry is "fileNotFound" when its folder exists and "badPath" when it does not.
FileCause FileCauseFromErrno(int err, const std::string& path);

// The folder part of a path including its last "/" ("" when there is none).
std::string_view FolderOf(std::string_view path);
// The part after the last "/".
std::string_view FileNameOf(std::string_view path);

// Writes all `size` bytes to the descriptor (retrying interrupted and short
// writes); false when it cannot.
bool WriteAll(int fd, const void* data, std::size_t size);
// Reads exactly `size` bytes at `offset` of the descriptor; false at an error
// or when the file ends before.
bool ReadAllAt(int fd, void* data, std::size_t size, std::uint64_t offset);

namespace detail {
struct StreamCloser {
  bool owns = true;
  void operator()(std::FILE* f) const {
    if (owns) std::fclose(f);
  }
};
}  // namespace detail

// What `path` names when it exists but is not a regular file, as the end of a
// sentence ("it is a folder, not a file", "it is a FIFO (named pipe), not a
// regular file", ...); empty for a regular file or a path that cannot be examined.
// Looking never opens the path, so a FIFO or a device cannot block the caller.
std::string NotARegularFile(const std::string& path);

// A file opened for binary reading. Only regular files are opened: a folder is
// refused as accessDenied, a FIFO, device or socket as invalidFile, without
// waiting for a writer on the other end of a FIFO.
class InputFile {
 public:
  InputFile() = default;
  // Uses a stream opened elsewhere, which stays open when this object goes away
  // (fuzzers and tests read from memory streams).
  static InputFile Borrow(std::FILE* stream);

  // Opens `path`; on failure IsOpen() is false and *cause tells why. When the
  // path exists but is no regular file, *notRegular says what it is (see
  // NotARegularFile); otherwise it is cleared.
  static InputFile Open(const std::string& path, FileCause* cause = nullptr,
                        std::string* notRegular = nullptr);

  bool IsOpen() const { return m_file != nullptr; }
  std::FILE* Stream() const { return m_file.get(); }
  // Total size in bytes, or -1 when the stream cannot tell (a pipe).
  std::int64_t Size() const;
  std::int64_t Tell() const;
  bool Seek(std::int64_t offset);
  // Reads exactly n bytes; false on a short read or an error.
  bool ReadExact(void* dst, std::size_t n);
  // Reads up to n bytes and returns how many arrived.
  std::size_t ReadSome(void* dst, std::size_t n);

 private:
  std::unique_ptr<std::FILE, detail::StreamCloser> m_file;
};

// The path a write to `path` replaces: `path` itself, or, when it is a symbolic
// link (or a chain of them), the file the last link names, so that a save
// writes through the link as `cp` and shell redirection do. A dangling link
// gives the path the link names (the save creates that file).
std::string WriteTarget(const std::string& path);

// Why `path` cannot be written, before any work is done, as a sentence
// ("cannot write 'x/y.mhd': No such file or directory"); empty when it can be.
// Refused: a name ending in "/", an existing folder, device, FIFO or socket
// (through links), and a folder that is missing, not a folder or not writable.
std::string OutputProblem(const std::string& path);

// Temporary entries (staged files, a folder being filled) that an interruption
// removes. Recording happens together with the creation, under one lock, so an
// interruption never leaves a created but unrecorded entry behind.
namespace temporaries {
// Runs `create`, which makes the entry at `path`; records it when that succeeds.
bool Create(const std::string& path, bool folder, const std::function<bool()>& create);
// The entry has been renamed into place or removed.
void Forget(const std::string& path);
// Holds off an interruption's clean-up while the returned lock lives (a group
// of renames that must happen together).
std::unique_lock<std::mutex> Hold();
// Removes every recorded entry and keeps the lock, so no new entry appears;
// for the interruption handler, right before the process exits.
void RemoveAllForExit();
}  // namespace temporaries

// A file written under a temporary name beside `target` and renamed onto it by
// Commit. Destroying an uncommitted StagedFile removes the temporary file, so a
// failed save leaves whatever was at `target` untouched.
class StagedFile {
 public:
  explicit StagedFile(std::string target);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file beside the file the target names (through a
  // symbolic link). False (with Error()) when the folder is missing or not
  // writable, or when the target exists and is not a regular file (a device or
  // FIFO is never replaced by a file).
  bool Create();
  // Appends bytes; false once any write has failed (disk full, size limit).
  bool Write(const void* data, std::size_t n);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Flushes to disk and closes; the data is complete when this returns true.
  bool Finish();
  // Renames the finished temporary file onto the target.
  bool Commit();

  const std::string& Target() const { return m_target; }
  const std::string& Error() const { return m_error; }

 private:
  bool Fail(const char* what, int err);

  std::string m_target;
  std::string m_written;  // WriteTarget(m_target): the file the rename replaces
  std::string m_temp;
  std::string m_error;
  int m_fd = -1;
  bool m_failed = false;
  bool m_finished = false;
};

// Finishes every staged file and then renames them in the given order. Data
// files go first so that a header never names data that is not in place yet.
// On failure *error (if given) says what went wrong.
bool CommitStagedFiles(std::initializer_list<StagedFile*> files, std::string* error);

}  // namespace volume
