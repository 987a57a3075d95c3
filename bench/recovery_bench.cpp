// The recovery file on a 512 x 512 x 32 case: what an edit costs the window's
// thread (the history step plus the snapshot handed to the writing thread),
// how long until the edit is safe on the disk, and the file's size, for
// strokes and after a correction changed the segmentation.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "session/CaseRecovery.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The calling thread's processor time: unlike the wall clock, it leaves out
// the time other processes of a loaded machine hold the processor.
double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

class SilentSink final : public volume::MessageSink, public volume::LogSink {
 public:
  void ShowMessage(const std::string&) override {}
  void AppendLine(const std::string&) override {}
};

void Report(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("  %-44s median %6.2f ms, worst %6.2f ms (%zu)\n", what, times[times.size() / 2], times.back(),
              times.size());
}

}  // namespace

int main() {
  const int X = 512, Y = 512, Z = 32;
  const std::string folder = (std::filesystem::temp_directory_path() / "corvane-recovery-bench").string();
  std::filesystem::remove_all(folder);

  SilentSink sink;
  session::CaseSession session(sink, sink);
  auto recovery = std::make_unique<session::CaseRecovery>(session, folder);
  session.AdoptImage(std::make_unique<CVoxel>(X, Y, Z), "/bench/image.mhd");
  auto segmentation = std::make_unique<CVoxel>(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        const double dx = (x - 256) / 120.0, dy = (y - 240) / 100.0, dz = (z - 16) / 12.0;
        if (dx * dx + dy * dy + dz * dz <= 1.0) segmentation->At(x, y, z) = 1;
      }
  session.AdoptSegmentation(std::move(segmentation), "/bench/segmentation.mhd");
  session.SetCorrectionMode(session::CorrectionMode::kManual);
  session.SetMarkingFlag(true);
  session.ApplyMarking();

  // A stroke: a disc of radius 4 dragged across 120 voxels of one slice.
  auto paint = [&](int s) {
    CVoxel& map = *session.StrokeMap();
    const int z = 8 + s % 16, y0 = 150 + 9 * (s % 20);
    for (int y = y0 - 4; y <= y0 + 4; ++y)
      for (int x = 180; x < 300; ++x) map.At(x, y, z) = static_cast<CVoxel::value_type>(s % 3 == 0 ? 1 : 2);
  };

  // The recovery's part of an edit: its snapshot, timed where the case calls it.
  std::vector<double> snapshot, snapshotCpu;
  session.SetEditListener([&] {
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuMilliseconds();
    recovery->Note();
    snapshotCpu.push_back(ThreadCpuMilliseconds() - cpuStart);
    snapshot.push_back(Milliseconds(Clock::now() - start));
  });

  std::vector<double> endStroke, toSafe;
  for (int s = 0; s < 30; ++s) {
    session.BeginStroke();
    paint(s);
    // EndStroke records the history step and hands the snapshot over.
    auto start = Clock::now();
    session.EndStroke();
    const auto handed = Clock::now();
    recovery->Store().Flush();
    const auto safe = Clock::now();
    endStroke.push_back(Milliseconds(handed - start));
    toSafe.push_back(Milliseconds(safe - start));
  }
  std::printf("recovery file on %d x %d x %d, 30 strokes (disc radius 4, 120 voxels long):\n", X, Y, Z);
  Report("window's thread, whole end of a stroke", endStroke);
  std::printf(
      "  window's thread, the first stroke's snapshot (the whole volumes): %.2f ms (processor %.2f ms)\n",
      snapshot.front(), snapshotCpu.front());
  snapshot.erase(snapshot.begin());
  snapshotCpu.erase(snapshotCpu.begin());
  Report("window's thread, the snapshot of a later stroke", snapshot);
  Report("  the same, processor time only", snapshotCpu);
  snapshot.clear();
  snapshotCpu.clear();
  Report("stroke to safe on the disk", toSafe);
  std::printf("  file after 30 strokes: %zu bytes (segmentation unchanged: its file gives it back)\n",
              recovery->Store().LastFileBytes());

  // A correction: the segmentation changes and is kept in the file.
  auto job = session.StartCorrection();
  job->Run(sink, sink);
  auto start = Clock::now();
  session.FinishCorrection(std::move(job));
  const double finish = Milliseconds(Clock::now() - start);
  recovery->Store().Flush();
  const double finishSafe = Milliseconds(Clock::now() - start);
  const double finishSnapshot = snapshot.empty() ? 0.0 : snapshot.back();
  const double finishSnapshotCpu = snapshotCpu.empty() ? 0.0 : snapshotCpu.back();
  snapshot.clear();
  snapshotCpu.clear();
  std::printf(
      "after a manual correction: end of run on the window's thread %.2f ms (the snapshot %.2f ms,\n"
      "  processor %.2f ms), safe after %.2f ms, file %zu bytes\n",
      finish, finishSnapshot, finishSnapshotCpu, finishSafe, recovery->Store().LastFileBytes());
  // Strokes after the run reuse the segmentation's copy.
  std::vector<double> after;
  for (int s = 0; s < 10; ++s) {
    session.BeginStroke();
    paint(s + 40);
    start = Clock::now();
    session.EndStroke();
    after.push_back(Milliseconds(Clock::now() - start));
    recovery->Store().Flush();
  }
  Report("window's thread, end of a stroke after the run", after);
  Report("window's thread, its snapshot", snapshot);
  Report("  the same, processor time only", snapshotCpu);
  std::printf("  file with the corrected segmentation and 10 strokes: %zu bytes\n",
              recovery->Store().LastFileBytes());
  recovery->Store().Remove();
  recovery.reset();
  std::filesystem::remove_all(folder);
  return 0;
}
