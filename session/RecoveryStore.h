// Where recovery files live and how they are written and found again.
//
// Every window keeps one file, "corvane-<pid>-<start>.recovery", in the
// recovery folder ($XDG_STATE_HOME/corvane/recovery, by default
// ~/.local/state/corvane/recovery, created owner-only). Beside it the window
// holds an exclusive flock on "<same name>.lock" for as long as it lives: the
// lock, not the process number, tells a running window's file (never offered)
// from one left behind by a crash or a kill (the system drops the lock of a
// process that dies, whatever the cause).
//
// RecoveryStore writes its window's file on a thread of its own: Submit hands
// a state over and returns at once; the thread writes the newest state handed
// over into a temporary file, flushes it to the disk and renames it over the
// previous one, so that a kill at any instant leaves either the previous
// complete state or the new one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session/EditHistory.h"
#include "session/RecoveryState.h"
#include "volume/VolumeMemory.h"

namespace session {

// $XDG_STATE_HOME/corvane/recovery, or ~/.local/state/corvane/recovery when
// XDG_STATE_HOME is unset or not absolute.
std::string DefaultRecoveryFolder();
// Creates the folder (and missing parents) owner-only; false when it cannot.
bool MakeRecoveryFolder(const std::string& folder);

// An exclusive flock on a file, released when the object goes.
class FileLock {
 public:
  // Takes the lock without waiting; empty when another holder has it or the
  // file cannot be opened.
  static std::unique_ptr<FileLock> TryLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  FileLock(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
  int m_fd;
  std::string m_path;
};

// Writes `bytes` to `path` through a temporary file beside it, flushed to the
// disk and renamed into place. False (the previous file untouched) on failure.
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes);

// Voxels of a volume from index `first` on, as they are now.
struct VolumeChange {
  std::size_t first = 0;
  volume::Block<CVoxel::value_type> voxels;
};

// How a volume of a state reaches the recovery thread without the window's
// thread copying all of it. When `follows`, it is the same volume of the
// state handed over before; otherwise it is the volume of `grid`'s size and
// geometry whose runs `runs` holds (toggled from zeros; a grid of no size: no
// volume), unless the state itself holds the volume. Then `changes` are
// written over it in order. An edit so hands over the rows it changed.
struct VolumeHandover {
  bool follows = false;
  CVoxel grid;  // size and geometry, no voxels
  VolumeDelta runs;
  std::vector<VolumeChange> changes;
};

// What the recovery thread is handed: the state, and the segmentation as it
// was loaded or last saved, against which the thread decides whether the
// segmentation needs to be kept (null: there is no such file). The state's
// segmentation and stroke map, when it does not hold them, come as handovers.
struct RecoverySnapshot {
  RecoveryState state;
  std::shared_ptr<const CVoxel> savedSegmentation;
  VolumeHandover segmentation;
  VolumeHandover strokeMap;
};

class RecoveryStore {
 public:
  // Takes this window's lock in `folder` (created when missing) and starts the
  // writing thread. Nothing is written before the first Submit.
  explicit RecoveryStore(std::string folder);
  // Writes what is still pending, then stops the thread. The file stays
  // (unless Remove was called): work not saved survives a quit without a question.
  ~RecoveryStore();
  RecoveryStore(const RecoveryStore&) = delete;
  RecoveryStore& operator=(const RecoveryStore&) = delete;

  // Hands the newest state over and returns without waiting for the disk. A
  // state not yet written when a newer one arrives is replaced by it (its
  // volume changes are kept as the base of the newer one's).
  void Submit(RecoverySnapshot snapshot);
  // Waits until every state handed over is on the disk; false when the last
  // write failed or the store cannot write at all.
  bool Flush();
  // The window closed cleanly: its file goes (after pending writes end).
  void Remove();

  const std::string& Folder() const { return m_folder; }
  const std::string& FilePath() const { return m_path; }
  // Whether the folder and the lock could be set up (else nothing is written).
  bool Usable() const { return m_lock != nullptr; }
  // Whether volume changes arrived that did not fit the thread's copy of
  // their volume (and so were not written) since the last call: the next
  // snapshot must then hand over whole volumes.
  bool TakeChangesLost();

  // Number of states written so far.
  std::uint64_t Written() const;
  // The size of the last file written, in bytes.
  std::size_t LastFileBytes() const;

 private:
  void Run();

  const std::string m_folder;
  std::string m_path;
  std::unique_ptr<FileLock> m_lock;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::optional<RecoverySnapshot> m_pending;
  bool m_busy = false;
  bool m_stop = false;
  bool m_lastOk = true;
  std::uint64_t m_submitted = 0;
  std::uint64_t m_written = 0;
  std::size_t m_lastBytes = 0;
  // The thread's copies of the volumes of the last state taken over; only the
  // thread touches them.
  std::shared_ptr<CVoxel> m_segmentation;
  std::shared_ptr<CVoxel> m_strokeMap;
  bool m_changesLost = false;
  bool m_awaitWhole = false;
  std::latch m_started{1};
  std::thread m_thread;
};

// A recovery file left behind by a window that no longer runs. While the
// object lives it holds that window's lock, so that no other starting window
// offers the same file.
struct FoundRecovery {
  std::string path;
  RecoveryState state;
  std::unique_ptr<FileLock> lock;
  // Removes the file and its lock file.
  void Discard();
};

struct RecoveryScan {
  // Readable files of windows that no longer run, newest first.
  std::vector<FoundRecovery> found;
  // Files that could not be read: each with the reason, already moved aside
  // (renamed to "<name>.unreadable") so that it is reported only once.
  std::vector<std::string> unreadable;
  // Files removed for being older than the age limit.
  int removedOld = 0;
};

inline constexpr std::int64_t kRecoveryMaxAgeSeconds = std::int64_t{30} * 24 * 60 * 60;

// Looks through the folder at start: removes leftovers older than the age
// limit, moves unreadable files aside, and returns the files of windows that
// no longer run. Files of running windows are left alone. Never touches
// anything outside the folder.
RecoveryScan ScanRecoveryFolder(const std::string& folder, std::int64_t now,
                                std::int64_t maxAgeSeconds = kRecoveryMaxAgeSeconds);

}  // namespace session
