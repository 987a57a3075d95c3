#include "session/RecoveryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "volume/FileIO.h"

namespace fs = std::filesystem;

namespace session {

namespace {
constexpr const char* kRecoverySuffix = ".recovery";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTemporarySuffix = ".tmp";
constexpr const char* kUnreadableSuffix = ".unreadable";
// A recovery file larger than this is not read (no case comes near it).
constexpr std::uintmax_t kLargestFile = std::uintmax_t{1} << 30;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::int64_t ModifiedSeconds(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return static_cast<std::int64_t>(info.st_mtime);
}

void RemoveQuietly(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

// Reads a whole regular file of bounded size; false with a reason otherwise.
bool ReadSmallFile(const fs::path& path, std::vector<unsigned char>& bytes, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    error = "it cannot be opened";
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kLargestFile) {
    ::close(fd);
    error = "it is not a recovery file";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + at, bytes.size() - at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    at += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(at);
  return true;
}

// A later handover that follows the one still pending takes over its base
// (the state's volume, or its runs) and its changes, before its own.
void FollowPending(VolumeHandover& later, std::shared_ptr<const CVoxel>& laterVolume, VolumeHandover& earlier,
                   std::shared_ptr<const CVoxel>& earlierVolume) {
  if (!later.follows || laterVolume) return;
  later.follows = earlier.follows;
  later.grid = earlier.grid;
  later.runs = std::move(earlier.runs);
  laterVolume = std::move(earlierVolume);
  std::move(later.changes.begin(), later.changes.end(), std::back_inserter(earlier.changes));
  later.changes = std::move(earlier.changes);
}

// Brings the thread's copy of a volume to what the handover describes and
// puts it into the state. False when the changes do not fit the copy.
bool TakeVolume(VolumeHandover& handover, std::shared_ptr<const CVoxel>& volume,
                std::shared_ptr<CVoxel>& copy) {
  if (volume) {
    // A volume only the state holds (made for it) becomes the thread's copy;
    // one shared with others is copied.
    copy = volume.use_count() == 1 ? std::const_pointer_cast<CVoxel>(std::move(volume))
                                   : std::make_shared<CVoxel>(*volume);
  } else if (!handover.follows) {
    const CVoxel& grid = handover.grid;
    if (grid.X <= 0 || grid.Y <= 0 || grid.Z <= 0) {
      copy.reset();
    } else {
      // The copy's memory is reused when it has the size.
      if (copy && copy->SameSize(grid) && copy->HasData() && copy.use_count() == 1) {
        std::fill(copy->Data(), copy->Data() + copy->VoxelCount(), CVoxel::value_type{0});
      } else {
        copy = std::make_shared<CVoxel>(grid.X, grid.Y, grid.Z, true);
      }
      copy->CopyGeometry(grid);
      if (!copy->HasData()) copy.reset();
      if (copy) handover.runs.ApplyTo(*copy);
    }
  }
  bool complete = !handover.changes.empty() ? copy && copy->HasData() : true;
  for (const VolumeChange& change : handover.changes) {
    const std::size_t count = complete ? copy->VoxelCount() : 0;
    complete = complete && change.first <= count && change.voxels.size() <= count - change.first;
    if (complete) std::copy(change.voxels.begin(), change.voxels.end(), copy->Data() + change.first);
  }
  volume = copy;
  return complete;
}

// A name no other window of any process uses: the process number, the time
// of creation and a counter for windows of one process.
std::string NewFileStem() {
  static std::atomic<unsigned> counter{0};
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  return "corvane-" + std::to_string(::getpid()) + "-" + std::to_string(nanoseconds) + "-" +
         std::to_string(counter++);
}
}  // namespace

// ---- Folder -----------------------------------------------------------------------------

std::string DefaultRecoveryFolder() {
  fs::path state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg && fs::path(xdg).is_absolute()) {
    state = xdg;
  } else {
    const char* home = std::getenv("HOME");
    state = fs::path(home && *home ? home : "/tmp") / ".local" / "state";
  }
  return (state / "corvane" / "recovery").string();
}

bool MakeRecoveryFolder(const std::string& folder) {
  std::error_code error;
  const fs::path path(folder);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  // A folder made by someone else's umask, or earlier with wider rights, is narrowed.
  if ((info.st_mode & 0077) != 0 && info.st_uid == ::getuid()) ::chmod(folder.c_str(), 0700);
  return true;
}

// ---- Lock ---------------------------------------------------------------------------------

std::unique_ptr<FileLock> FileLock::TryLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(fd, path));
}

FileLock::~FileLock() { ::close(m_fd); }

// ---- Atomic write ---------------------------------------------------------------------------

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  const std::string temporary = path + kTemporarySuffix;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = volume::WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  // The rename is the moment the new state replaces the old one: before it the
  // previous file is whole, after it the new one is (its data already flushed).
  if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolder(fs::path(path).parent_path().string());
  return true;
}

// ---- Store ------------------------------------------------------------------------------------

RecoveryStore::RecoveryStore(std::string folder) : m_folder(std::move(folder)) {
  if (MakeRecoveryFolder(m_folder)) {
    m_path = (fs::path(m_folder) / (NewFileStem() + kRecoverySuffix)).string();
    m_lock = FileLock::TryLock(m_path + kLockSuffix);
  }
  m_thread = std::thread([this] {
    m_started.count_down();
    Run();
  });
  // A DICOM series is read by a forked child, which starts threads of its own;
  // a fork made while this thread is still starting could copy a lock it holds
  // into that child.
  m_started.wait();
}

RecoveryStore::~RecoveryStore() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
  if (m_lock) {
    // The lock file goes with the window; a recovery file left beside it is
    // then one of a window that no longer runs.
    RemoveQuietly(m_lock->Path());
    m_lock.reset();
  }
}

void RecoveryStore::Submit(RecoverySnapshot snapshot) {
  {
    std::lock_guard lock(m_mutex);
    if (!m_lock || m_stop) return;
    if (m_pending) {
      FollowPending(snapshot.strokeMap, snapshot.state.strokeMap, m_pending->strokeMap,
                    m_pending->state.strokeMap);
      FollowPending(snapshot.segmentation, snapshot.state.segmentation, m_pending->segmentation,
                    m_pending->state.segmentation);
    }
    m_pending = std::move(snapshot);
    ++m_submitted;
  }
  m_wake.notify_one();
}

bool RecoveryStore::Flush() {
  std::unique_lock lock(m_mutex);
  m_idle.wait(lock, [this] { return !m_pending && !m_busy; });
  return m_lock && m_lastOk;
}

void RecoveryStore::Remove() {
  Flush();
  std::lock_guard lock(m_mutex);
  // Nothing more is written for this window.
  m_stop = true;
  m_wake.notify_all();
  if (!m_path.empty()) RemoveQuietly(m_path);
}

bool RecoveryStore::TakeChangesLost() {
  std::lock_guard lock(m_mutex);
  return std::exchange(m_changesLost, false);
}

std::uint64_t RecoveryStore::Written() const {
  std::lock_guard lock(m_mutex);
  return m_written;
}

std::size_t RecoveryStore::LastFileBytes() const {
  std::lock_guard lock(m_mutex);
  return m_lastBytes;
}

void RecoveryStore::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || m_pending; });
    if (!m_pending) break;  // stopping with nothing left to write
    RecoverySnapshot snapshot = std::move(*m_pending);
    m_pending.reset();
    m_busy = true;
    lock.unlock();

    RecoveryState& state = snapshot.state;
    const bool follows = (snapshot.strokeMap.follows && !state.strokeMap) ||
                         (snapshot.segmentation.follows && !state.segmentation);
    bool complete = TakeVolume(snapshot.strokeMap, state.strokeMap, m_strokeMap) &
                    TakeVolume(snapshot.segmentation, state.segmentation, m_segmentation);
    // After changes that did not fit, only whole volumes make a complete state again.
    complete = complete && !(follows && m_awaitWhole);
    m_awaitWhole = !complete || (m_awaitWhole && follows);
    // A segmentation equal to its file is not kept: the file gives it back.
    if (state.segmentation && snapshot.savedSegmentation &&
        SameVolume(*state.segmentation, *snapshot.savedSegmentation)) {
      state.segmentation.reset();
    }
    // Changes that do not fit the thread's copy (never made by CaseRecovery)
    // are not written: the file keeps the last complete state.
    const std::vector<unsigned char> bytes =
        complete ? EncodeRecoveryState(state) : std::vector<unsigned char>();
    const bool ok = complete && WriteFileAtomically(m_path, bytes);
    // The other volumes are let go here, off the window's thread.
    snapshot = RecoverySnapshot();

    lock.lock();
    if (!complete) {
      m_strokeMap.reset();
      m_segmentation.reset();
      m_changesLost = true;
    }
    m_busy = false;
    m_lastOk = ok;
    if (ok) {
      ++m_written;
      m_lastBytes = bytes.size();
    }
    m_idle.notify_all();
  }
  m_busy = false;
  m_idle.notify_all();
}

// ---- Start-up scan ------------------------------------------------------------------------------

void FoundRecovery::Discard() {
  RemoveQuietly(path);
  if (lock) RemoveQuietly(lock->Path());
  lock.reset();
}

RecoveryScan ScanRecoveryFolder(const std::string& folder, std::int64_t now, std::int64_t maxAgeSeconds) {
  RecoveryScan scan;
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end());
  const auto old = [&](const fs::path& path) { return now - ModifiedSeconds(path) > maxAgeSeconds; };
  const auto exists = [](const fs::path& path) {
    std::error_code e;
    return fs::exists(fs::symlink_status(path, e));
  };

  for (const fs::path& entry : entries) {
    const std::string name = entry.filename().string();
    if (name.rfind("corvane-", 0) != 0) continue;  // not ours: left alone
    if (EndsWith(name, kUnreadableSuffix)) {
      if (old(entry)) {
        RemoveQuietly(entry);
        ++scan.removedOld;
      }
      continue;
    }
    const bool temporary = EndsWith(name, kRecoverySuffix + std::string(kTemporarySuffix));
    const bool lockFile = EndsWith(name, kRecoverySuffix + std::string(kLockSuffix));
    if (temporary || lockFile) {
      // Leftovers of a window that no longer runs: its half-written temporary
      // file, or its lock file once its recovery file is gone.
      const std::string recovery = entry.string().substr(0, entry.string().rfind('.'));
      if (lockFile && exists(recovery)) continue;  // handled with its recovery file
      const std::string lockPath = recovery + kLockSuffix;
      if (const auto lock = FileLock::TryLock(lockPath)) {
        if (temporary) RemoveQuietly(entry);
        if (!exists(recovery)) RemoveQuietly(lockPath);
      }
      continue;
    }
    if (!EndsWith(name, kRecoverySuffix)) continue;

    const std::string lockPath = entry.string() + kLockSuffix;
    auto lock = FileLock::TryLock(lockPath);
    if (!lock) continue;  // a running window's file
    if (old(entry)) {
      RemoveQuietly(entry);
      RemoveQuietly(lockPath);
      ++scan.removedOld;
      continue;
    }
    std::vector<unsigned char> bytes;
    std::string reason;
    FoundRecovery found;
    if (!ReadSmallFile(entry, bytes, reason) ||
        !DecodeRecoveryState(bytes.data(), bytes.size(), found.state, reason)) {
      const std::string aside = entry.string() + kUnreadableSuffix;
      std::error_code moved;
      fs::rename(entry, aside, moved);
      if (moved) RemoveQuietly(entry);
      RemoveQuietly(lockPath);
      scan.unreadable.push_back(entry.string() + ": " + reason);
      continue;
    }
    found.path = entry.string();
    found.lock = std::move(lock);
    scan.found.push_back(std::move(found));
  }
  std::stable_sort(scan.found.begin(), scan.found.end(), [](const FoundRecovery& a, const FoundRecovery& b) {
    return a.state.lastEdit > b.state.lastEdit;
  });
  return scan;
}

}  // namespace session
