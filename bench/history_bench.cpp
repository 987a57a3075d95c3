// The undo history on a 512 x 512 x 200 case: the cost of recording one large
// 3-D brush stroke (the copy at the press and the difference at the release),
// of undoing and redoing it, the bytes one stroke and one correction-sized
// change keep, and how many such strokes fit the history's budget.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "session/EditHistory.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A 3-D brush of radius r dragged along x on row y: every slice of its reach.
void DragBall(CVoxel& v, int x0, int x1, int y, int zc, int r, int value) {
  for (int z = std::max(0, zc - r); z <= std::min(v.Z - 1, zc + r); ++z) {
    const int rz = static_cast<int>(std::sqrt(static_cast<double>(r * r - (z - zc) * (z - zc))));
    for (int yy = std::max(0, y - rz); yy <= std::min(v.Y - 1, y + rz); ++yy) {
      const int half = static_cast<int>(std::sqrt(static_cast<double>(rz * rz - (yy - y) * (yy - y))));
      for (int x = std::max(0, x0 - half); x <= std::min(v.X - 1, x1 + half); ++x)
        v.At(x, yy, z) = static_cast<CVoxel::value_type>(value);
    }
  }
}

}  // namespace

int main() {
  const int X = 512, Y = 512, Z = 200;
  auto strokes = std::make_unique<CVoxel>(X, Y, Z);
  auto segmentation = std::make_unique<CVoxel>(X, Y, Z);
  session::EditHistory history({&strokes, &segmentation});

  // One stroke: radius 50 ball dragged across 300 voxels.
  auto start = Clock::now();
  history.Begin(1);
  const double begin = MillisecondsSince(start);
  DragBall(*strokes, 100, 400, 256, 100, 50, 2);
  start = Clock::now();
  history.Commit();
  const double commit = MillisecondsSince(start);
  const std::size_t strokeBytes = history.Bytes();
  start = Clock::now();
  history.Undo();
  const double undo = MillisecondsSince(start);
  start = Clock::now();
  history.Redo();
  const double redo = MillisecondsSince(start);
  std::printf("one stroke (3-D brush radius 50, 300 voxels long) on %d x %d x %d:\n", X, Y, Z);
  std::printf("  copy at press %.1f ms, difference at release %.1f ms, undo %.1f ms, redo %.1f ms\n", begin,
              commit, undo, redo);
  // A second stroke: the copy reuses the first one's memory.
  start = Clock::now();
  history.Begin(1);
  const double secondBegin = MillisecondsSince(start);
  DragBall(*strokes, 100, 400, 300, 100, 50, 3);
  history.Commit();
  history.Undo();
  std::printf("  the next stroke's copy at press %.1f ms\n", secondBegin);
  std::printf("  kept: %zu bytes (the stroke map itself: %zu bytes)\n", strokeBytes,
              strokes->VoxelCount() * sizeof(CVoxel::value_type));

  // A correction-sized change: a sphere of radius 80 set in the segmentation.
  history.Begin(2);
  DragBall(*segmentation, 256, 256, 256, 100, 80, 1);
  history.Commit();
  std::printf("  a segmentation change of a radius-80 ball keeps %zu bytes\n", history.Bytes() - strokeBytes);

  // Strokes until the budget is reached.
  int kept = 0;
  for (int s = 0; s < 150; ++s) {
    history.Begin(1);
    DragBall(*strokes, 60 + (s * 7) % 100, 400, 60 + (s * 37) % 390, 20 + (s * 13) % 160, 50, 2 + s % 2);
    history.Commit();
    kept = static_cast<int>(history.StepCount());
  }
  std::printf("after 150 more such strokes: %d steps kept, %.1f MB (budget %.0f MB)\n", kept,
              static_cast<double>(history.Bytes()) / 1e6, static_cast<double>(history.BudgetBytes()) / 1e6);
  return 0;
}
