// The recovery file on the disk: written off the caller's thread and
// atomically, found again only once its window is gone, old and unreadable
// files cleared away; the case's edits reach it; a painting process killed at
// any moment leaves a complete state no older than its last safe edit.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>

#include "../volume/TestFiles.h"
#include "SessionFixture.h"
#include "session/CaseRecovery.h"
#include "session/RecoveryStore.h"

namespace {

// The state in the recovery file at `path` (a failure to decode fails the test).
session::RecoveryState ReadRecoveryFile(const std::string& path) {
  const std::string bytes = testfiles::ReadFile(path);
  session::RecoveryState state;
  std::string error;
  EXPECT_TRUE(session::DecodeRecoveryState(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                           state, error))
      << error;
  return state;
}

using sessiontest::MakeBox;
using sessiontest::SessionFixture;
using testfiles::TempDir;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

session::RecoverySnapshot SnapshotWithImage(const std::string& image) {
  session::RecoverySnapshot snapshot;
  snapshot.state.imagePath = image;
  snapshot.state.strokeMap = std::make_shared<CVoxel>(8, 8, 2);
  return snapshot;
}

void SetAge(const std::string& path, std::int64_t seconds) {
  const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(seconds);
  const struct timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST(RecoveryStore, WritesOwnerOnlyIntoItsFolderAndRemovesOnRequest) {
  TempDir dir;
  const std::string folder = dir.Path("state/corvane/recovery");
  std::string file;
  {
    session::RecoveryStore store(folder);
    ASSERT_TRUE(store.Usable());
    file = store.FilePath();
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(folder));
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing is written before the first edit";
    store.Submit(SnapshotWithImage("a.mhd"));
    store.Submit(SnapshotWithImage("b.mhd"));
    ASSERT_TRUE(store.Flush());
    const session::RecoveryState state = ReadRecoveryFile(file);
    EXPECT_EQ(state.imagePath, "b.mhd") << "the newest state is on the disk";
    ASSERT_TRUE(::stat(file.c_str(), &info) == 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Only the file and its lock: no temporary file is left.
    EXPECT_EQ(dir.List("state/corvane/recovery").size(), 2u);
  }
  // A window gone without a clean close leaves its file (and only that).
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(dir.List("state/corvane/recovery").size(), 1u);
  {
    session::RecoveryStore store(folder);
    store.Submit(SnapshotWithImage("c.mhd"));
    store.Remove();
    EXPECT_FALSE(std::filesystem::exists(store.FilePath()));
    store.Submit(SnapshotWithImage("d.mhd"));  // after a clean close nothing more is written
    store.Flush();
    EXPECT_FALSE(std::filesystem::exists(store.FilePath()));
  }
}

TEST(RecoveryStore, TheDefaultFolderFollowsXdgStateHome) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  const std::string restore = saved ? saved : "";
  ::setenv("XDG_STATE_HOME", "/somewhere/state", 1);
  EXPECT_EQ(session::DefaultRecoveryFolder(), "/somewhere/state/corvane/recovery");
  ::setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: ignored, as the convention says
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(session::DefaultRecoveryFolder(), std::string(home) + "/.local/state/corvane/recovery");
  }
  if (saved) {
    ::setenv("XDG_STATE_HOME", restore.c_str(), 1);
  } else {
    ::unsetenv("XDG_STATE_HOME");
  }
}

// A state may carry only the stroke map voxels that changed since the state
// handed over before it; states that arrive faster than the disk keep every
// change, and changes that do not fit the map are never written.
TEST(RecoveryStore, StrokeMapChangesBuildOnTheStatesBeforeThem) {
  TempDir dir;
  session::RecoveryStore store(dir.Path("recovery"));
  auto whole = std::make_shared<CVoxel>(8, 8, 2);
  CVoxel expected(8, 8, 2);
  const auto read = [&] { return ReadRecoveryFile(store.FilePath()); };
  session::RecoverySnapshot first = SnapshotWithImage("a.mhd");
  first.state.strokeMap = whole;
  whole.reset();
  store.Submit(std::move(first));
  for (int round = 0; round < 50; ++round) {
    // Several states in a row: some are taken over by the ones after them.
    for (int k = 0; k < 4; ++k) {
      session::RecoverySnapshot next = SnapshotWithImage("a.mhd");
      next.state.strokeMap.reset();
      next.strokeMap.follows = true;
      session::VolumeChange change;
      change.first = static_cast<std::size_t>((round * 7 + k * 13) % 120);
      for (std::size_t i = 0; i < 1 + static_cast<std::size_t>(k); ++i) {
        const auto value = static_cast<CVoxel::value_type>(1 + (round + k + i) % 2);
        change.voxels.push_back(value);
        expected[change.first + i] = value;
      }
      next.strokeMap.changes.push_back(std::move(change));
      store.Submit(std::move(next));
    }
    if (round % 5 == 0) {
      ASSERT_TRUE(store.Flush());
      const session::RecoveryState state = read();
      ASSERT_TRUE(state.strokeMap);
      ASSERT_TRUE(session::SameVolume(*state.strokeMap, expected)) << "round " << round;
    }
  }
  ASSERT_TRUE(store.Flush());
  EXPECT_FALSE(store.TakeChangesLost());
  const std::uint64_t written = store.Written();

  session::RecoverySnapshot beyond = SnapshotWithImage("b.mhd");
  beyond.state.strokeMap.reset();
  beyond.strokeMap.follows = true;
  beyond.strokeMap.changes.push_back({120, volume::Block<CVoxel::value_type>(9, 1)});
  store.Submit(std::move(beyond));
  EXPECT_FALSE(store.Flush());
  EXPECT_EQ(store.Written(), written) << "the file keeps the last complete state";
  EXPECT_EQ(read().imagePath, "a.mhd");
  EXPECT_TRUE(store.TakeChangesLost());
  EXPECT_FALSE(store.TakeChangesLost()) << "told once";
  store.Submit(SnapshotWithImage("c.mhd"));  // a whole map again
  EXPECT_TRUE(store.Flush());
  EXPECT_EQ(read().imagePath, "c.mhd");
}

TEST(RecoveryScan, OffersOnlyFilesOfWindowsThatAreGoneAndEachToOneScanner) {
  TempDir dir;
  const std::string folder = dir.Path("recovery");
  auto gone = std::make_unique<session::RecoveryStore>(folder);
  gone->Submit(SnapshotWithImage("gone.mhd"));
  gone->Flush();
  session::RecoveryStore running(folder);
  running.Submit(SnapshotWithImage("running.mhd"));
  running.Flush();

  EXPECT_TRUE(session::ScanRecoveryFolder(folder, Now()).found.empty()) << "both windows still run";
  gone.reset();
  session::RecoveryScan first = session::ScanRecoveryFolder(folder, Now());
  ASSERT_EQ(first.found.size(), 1u);
  EXPECT_EQ(first.found[0].state.imagePath, "gone.mhd");
  // While the first scanner holds it, a second window starting is not offered it.
  EXPECT_TRUE(session::ScanRecoveryFolder(folder, Now()).found.empty());
  first.found[0].Discard();
  EXPECT_FALSE(std::filesystem::exists(first.found[0].path));
  EXPECT_TRUE(session::ScanRecoveryFolder(folder, Now()).found.empty());
  EXPECT_TRUE(std::filesystem::exists(running.FilePath()));
}

TEST(RecoveryScan, OldFilesGoAndUnreadableOnesAreMovedAsideAndReportedOnce) {
  TempDir dir;
  const std::string folder = dir.Path("recovery");
  std::string oldFile, cutFile, goodFile;
  {
    session::RecoveryStore old(folder), cut(folder), good(folder);
    for (auto* store : {&old, &cut, &good}) {
      store->Submit(SnapshotWithImage("x.mhd"));
      store->Flush();
    }
    oldFile = old.FilePath();
    cutFile = cut.FilePath();
    goodFile = good.FilePath();
  }
  SetAge(oldFile, session::kRecoveryMaxAgeSeconds + 3600);
  SetAge(goodFile, session::kRecoveryMaxAgeSeconds - 3600);
  const std::string bytes = testfiles::ReadFile(cutFile);
  testfiles::WriteFile(cutFile, bytes.substr(0, bytes.size() / 2));
  testfiles::WriteFile(dir.Path("recovery/notes.txt"), "someone else's file");

  session::RecoveryScan scan = session::ScanRecoveryFolder(folder, Now());
  EXPECT_EQ(scan.removedOld, 1);
  EXPECT_FALSE(std::filesystem::exists(oldFile));
  ASSERT_EQ(scan.unreadable.size(), 1u);
  EXPECT_EQ(scan.unreadable[0], cutFile + ": the file is cut short");
  EXPECT_TRUE(std::filesystem::exists(cutFile + ".unreadable"));
  ASSERT_EQ(scan.found.size(), 1u);
  EXPECT_EQ(scan.found[0].path, goodFile);
  scan.found.clear();  // kept, offered again

  session::RecoveryScan again = session::ScanRecoveryFolder(folder, Now());
  EXPECT_TRUE(again.unreadable.empty()) << "reported once";
  EXPECT_EQ(again.found.size(), 1u);
  again.found.clear();
  // The file moved aside goes once it is old too; other files are never touched.
  SetAge(cutFile + ".unreadable", session::kRecoveryMaxAgeSeconds + 1);
  EXPECT_EQ(session::ScanRecoveryFolder(folder, Now()).removedOld, 1);
  EXPECT_TRUE(std::filesystem::exists(dir.Path("recovery/notes.txt")));
}

TEST(RecoveryScan, AMissingFolderIsNoError) {
  TempDir dir;
  const session::RecoveryScan scan = session::ScanRecoveryFolder(dir.Path("nowhere"), Now());
  EXPECT_TRUE(scan.found.empty());
  EXPECT_TRUE(scan.unreadable.empty());
}

// ---- The case's edits and its unsaved work ----------------------------------------------

class CaseRecoveryTest : public SessionFixture {
 protected:
  session::RecoveryState ReadBack(session::CaseRecovery& recovery) {
    EXPECT_TRUE(recovery.Store().Flush());
    return ReadRecoveryFile(recovery.Store().FilePath());
  }
};

TEST_F(CaseRecoveryTest, EveryEditAndNoLoadOrResetIsHeard) {
  int edits = 0;
  m_case.SetEditListener([&edits] { ++edits; });
  StartManualCase();
  EXPECT_EQ(edits, 0) << "loading files is no edit";
  Stroke(2, 6, 3, 2, 1);
  EXPECT_EQ(edits, 1);
  m_case.BeginStroke();  // a press that paints nothing
  m_case.EndStroke();
  EXPECT_EQ(edits, 1);
  const std::string map = Write("map.mhd", *m_case.StrokeMap());
  m_case.LoadStrokeMap(m_case.LoadVolume(map), map);
  Stroke(2, 6, 4, 2, 2);
  m_case.ClearStrokeMap();
  EXPECT_EQ(edits, 3);
  Stroke(9, 12, 8, 2, 1);
  RunCorrection();
  EXPECT_EQ(edits, 5);
  ASSERT_TRUE(m_case.StartRestore());
  ASSERT_TRUE(m_case.FinishRestore());
  EXPECT_EQ(edits, 6);
  ASSERT_TRUE(m_case.Undo());
  ASSERT_TRUE(m_case.Redo());
  EXPECT_EQ(edits, 8);
  m_case.Reset();
  EXPECT_EQ(edits, 8);
}

TEST_F(CaseRecoveryTest, UnsavedWorkFollowsLoadsSavesAndUndo) {
  StartManualCase();
  EXPECT_FALSE(m_case.SegmentationUnsaved());
  EXPECT_FALSE(m_case.StrokesUnsaved());
  Stroke(9, 12, 8, 2, 1);
  EXPECT_TRUE(m_case.StrokesUnsaved());
  ASSERT_TRUE(m_case.SaveStrokeMap(m_dir.Path("strokes.mhd")));
  EXPECT_FALSE(m_case.StrokesUnsaved());
  Stroke(2, 4, 3, 2, 2);
  EXPECT_TRUE(m_case.StrokesUnsaved());
  m_case.Undo();
  EXPECT_FALSE(m_case.StrokesUnsaved()) << "back to what was saved";
  m_case.Redo();
  RunCorrection();
  EXPECT_TRUE(m_case.SegmentationUnsaved());
  EXPECT_FALSE(m_case.StrokesUnsaved()) << "a run starts a fresh stroke map";
  m_case.Undo();
  EXPECT_FALSE(m_case.SegmentationUnsaved());
  m_case.Redo();
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("corrected.mhd")));
  EXPECT_FALSE(m_case.SegmentationUnsaved());
  EXPECT_EQ(m_case.SegmentationPath(), m_dir.Path("corrected.mhd"));
  m_case.Reset();
  EXPECT_FALSE(m_case.SegmentationUnsaved());
  EXPECT_TRUE(m_case.SegmentationPath().empty());
}

TEST_F(CaseRecoveryTest, TheFileFollowsTheCaseAndKeepsTheSegmentationOnlyWhenChanged) {
  session::CaseRecovery recovery(m_case, m_dir.Path("recovery"));
  StartManualCase();
  const std::string boundary = Write("truth.mhd", MakeBox(kX, kY, kZ, 4, 9, 4, 9, 1, 3));
  m_case.AdoptBoundary(m_case.LoadBoundaryVolume(boundary), boundary);
  m_case.SetBrushSize(5);
  Stroke(2, 6, 3, 2, 2);  // foreground outside the segmentation: the run changes it
  session::RecoveryState state = ReadBack(recovery);
  EXPECT_EQ(state.imagePath, m_dir.Path("image.mhd"));
  EXPECT_EQ(state.segmentationPath, m_dir.Path("segmentation.mhd"));
  EXPECT_EQ(state.boundaryPath, boundary);
  EXPECT_EQ(state.brushSize, 5);
  EXPECT_EQ(state.mode, static_cast<int>(session::CorrectionMode::kManual));
  EXPECT_TRUE(state.marking);
  EXPECT_FALSE(state.segmentation) << "unchanged: its file gives it back";
  ASSERT_TRUE(state.strokeMap);
  EXPECT_TRUE(session::SameVolume(*state.strokeMap, *m_case.StrokeMap()));

  RunCorrection();
  state = ReadBack(recovery);
  ASSERT_TRUE(state.segmentation);
  EXPECT_TRUE(session::SameVolume(*state.segmentation, *m_case.Segmentation()));
  // An undo is an edit like any other: the file goes back with the case.
  m_case.Undo();
  state = ReadBack(recovery);
  EXPECT_FALSE(state.segmentation);
  EXPECT_TRUE(session::SameVolume(*state.strokeMap, *m_case.StrokeMap()));
}

// Any mix of edits, and of what happens between them (Reset, a new image, a
// map of another grid), with the file read back now and then: it always holds
// the case's stroke map and segmentation as they are, voxel for voxel, though
// a stroke hands over only the rows it changed.
TEST_F(CaseRecoveryTest, AnyMixOfEditsLeavesExactlyTheCaseInTheFile) {
  session::CaseRecovery recovery(m_case, m_dir.Path("recovery"));
  StartManualCase();
  std::mt19937 random(11);
  int checked = 0;
  for (int step = 0; step < 400; ++step) {
    bool edited = false;  // the last action was an edit the recovery heard
    const int action = static_cast<int>(random() % 20);
    if (action < 10) {
      // A stroke over a few rows and slices that changes at least one voxel.
      m_case.SetMarkingFlag(true);
      m_case.ApplyMarking();
      const int x0 = random() % kX, y0 = random() % kY, z0 = random() % kZ;
      const int w = 1 + random() % 10, h = 1 + random() % 3, d = 1 + random() % 2;
      const auto value = static_cast<CVoxel::value_type>(1 + (m_case.StrokeMap()->At(x0, y0, z0) % 2));
      m_case.BeginStroke();
      for (int z = z0; z < std::min(kZ, z0 + d); ++z)
        for (int y = y0; y < std::min(kY, y0 + h); ++y)
          for (int x = x0; x < std::min(kX, x0 + w); ++x) m_case.StrokeMap()->At(x, y, z) = value;
      m_case.EndStroke();
      edited = true;
    } else if (action < 12) {
      edited = m_case.Undo();
    } else if (action < 14) {
      edited = m_case.Redo();
    } else if (action == 14 && m_case.StrokeMap()->CountNonZero() > 0) {
      m_case.ClearStrokeMap();
      edited = true;
    } else if (action == 15 && m_case.StrokeMap()->CountNonZero() > 0) {
      m_case.SetMarkingFlag(true);
      m_case.ApplyMarking();
      RunCorrection();
      edited = true;
    } else if (action == 16 && m_case.SegmentationBackup()) {
      ASSERT_TRUE(m_case.StartRestore());
      edited = m_case.FinishRestore();
    } else if (action == 17) {
      // Load UI: a map of the image's size, sometimes placed elsewhere.
      CVoxel map(kX, kY, kZ);
      map.CopyGeometry(*m_case.StrokeMap());
      if (random() % 2) map.origin[0] += 1.5f;
      for (std::size_t i = 0; i < map.VoxelCount(); ++i)
        map[i] = static_cast<CVoxel::value_type>(random() % 7 == 0 ? 1 + random() % 2 : 0);
      auto loaded = std::make_unique<CVoxel>(map);
      m_case.LoadStrokeMap(std::move(loaded), m_dir.Path("map.mhd"));
      edited = true;
    } else if (action == 18) {
      m_case.Reset();
      StartManualCase();
    }
    if (!edited || random() % 4 == 0) recovery.Note();
    if (random() % 3 != 0) continue;
    const session::RecoveryState state = ReadBack(recovery);
    ASSERT_TRUE(state.strokeMap) << "step " << step;
    ASSERT_TRUE(session::SameVolume(*state.strokeMap, *m_case.StrokeMap())) << "step " << step;
    if (state.segmentation) {
      ASSERT_TRUE(session::SameVolume(*state.segmentation, *m_case.Segmentation())) << "step " << step;
    } else {
      ASSERT_FALSE(m_case.SegmentationUnsaved()) << "step " << step;
    }
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

// ---- Processes ----------------------------------------------------------------------------------

constexpr int kPainterX = 64, kPainterY = 64, kPainterZ = 16;
constexpr int kPainterStrokes = kPainterY * kPainterZ;

// Stroke k (from 1) paints one row, its value telling its parity.
void PaintStroke(CVoxel& map, int k) {
  const int y = k % kPainterY, z = (k / kPainterY) % kPainterZ;
  for (int x = 4; x < 44; ++x) map.At(x, y, z) = static_cast<CVoxel::value_type>(1 + k % 2);
}

// The number of strokes in `map` when it is exactly the state after them, else -1.
int StrokesIn(const CVoxel& map) {
  if (map.X != kPainterX || map.Y != kPainterY || map.Z != kPainterZ) return -1;
  const int count = map.CountNonZero() / 40;
  CVoxel expected(kPainterX, kPainterY, kPainterZ);
  for (int k = 1; k <= count; ++k) PaintStroke(expected, k);
  return session::SameVolume(map, expected) ? count : -1;
}

// A child process painting strokes through the case model, telling the parent
// through `fd` the number of each stroke that is safe on the disk.
[[noreturn]] void PaintUntilKilled(const std::string& folder, int fd, bool waitForDisk) {
  volume::RecordingSink sink;
  session::CaseSession session(sink, sink);
  session::CaseRecovery recovery(session, folder);
  session.AdoptImage(std::make_unique<CVoxel>(kPainterX, kPainterY, kPainterZ), "/cases/painter.mhd");
  session.SetCorrectionMode(session::CorrectionMode::kManual);
  session.SetMarkingFlag(true);
  session.ApplyMarking();
  for (int k = 1; k < kPainterStrokes; ++k) {
    session.BeginStroke();
    PaintStroke(*session.StrokeMap(), k);
    session.EndStroke();
    if (waitForDisk) recovery.Store().Flush();
    if (::write(fd, &k, sizeof(k)) != sizeof(k)) ::_exit(3);
  }
  for (;;) ::pause();
}

struct Painter {
  pid_t pid = -1;
  int fd = -1;
  int lastReported = 0;

  void Start(const std::string& folder, bool waitForDisk) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      PaintUntilKilled(folder, fds[1], waitForDisk);
    }
    ::close(fds[1]);
    fd = fds[0];
  }
  // Reads what the child reported; waits until at least `atLeast` strokes.
  void Drain(int atLeast) {
    for (;;) {
      pollfd poll{fd, POLLIN, 0};
      const bool must = lastReported < atLeast;
      if (::poll(&poll, 1, must ? 10000 : 0) <= 0) return;
      int k = 0;
      if (::read(fd, &k, sizeof(k)) != sizeof(k)) return;
      lastReported = k;
    }
  }
  void Kill() {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Drain(0);
    ::close(fd);
  }
};

TEST(RecoveryProcesses, AKillAtAnyMomentLeavesACompleteStateNoOlderThanTheLastSafeEdit) {
  std::mt19937 random(20261209);
  constexpr int kRounds = 40;
  for (int round = 0; round < kRounds; ++round) {
    TempDir dir;
    const std::string folder = dir.Path("recovery");
    // Half the rounds wait for the disk after each stroke (the reported stroke
    // is safe), half hand strokes over as fast as they are painted.
    const bool waitForDisk = round % 2 == 0;
    Painter painter;
    painter.Start(folder, waitForDisk);
    painter.Drain(1);
    ASSERT_GE(painter.lastReported, 1);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    painter.Drain(0);
    const int safeBefore = painter.lastReported;
    painter.Kill();
    const int reported = painter.lastReported;

    session::RecoveryScan scan = session::ScanRecoveryFolder(folder, Now());
    EXPECT_TRUE(scan.unreadable.empty())
        << round << ": " << (scan.unreadable.empty() ? "" : scan.unreadable[0]);
    if (!waitForDisk && scan.found.empty()) continue;  // killed before its first write
    ASSERT_EQ(scan.found.size(), 1u) << round;
    const session::RecoveryState& state = scan.found[0].state;
    EXPECT_EQ(state.imagePath, "/cases/painter.mhd");
    ASSERT_TRUE(state.strokeMap) << round;
    const int strokes = StrokesIn(*state.strokeMap);
    EXPECT_GE(strokes, 0) << round << ": the stroke map is not one the painter ever had";
    // A stroke reported is at most one ahead of what it painted (the next is under way).
    EXPECT_LE(strokes, reported + 1) << round;
    if (waitForDisk) {
      EXPECT_GE(strokes, safeBefore) << round << ": older than the last safe stroke";
    }
  }
}

TEST(RecoveryProcesses, TwoProcessesKeepSeparateFiles) {
  TempDir dir;
  const std::string folder = dir.Path("recovery");
  Painter first, second;
  first.Start(folder, true);
  second.Start(folder, true);
  first.Drain(3);
  second.Drain(3);
  // Two running windows: neither file is offered.
  EXPECT_TRUE(session::ScanRecoveryFolder(folder, Now()).found.empty());
  first.Kill();
  second.Kill();
  session::RecoveryScan scan = session::ScanRecoveryFolder(folder, Now());
  ASSERT_EQ(scan.found.size(), 2u);
  EXPECT_NE(scan.found[0].path, scan.found[1].path);
  for (const session::FoundRecovery& found : scan.found) {
    ASSERT_TRUE(found.state.strokeMap);
    EXPECT_GE(StrokesIn(*found.state.strokeMap), 3);
  }
}

}  // namespace
