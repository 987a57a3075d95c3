#include <gtest/gtest.h>

#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"

namespace {

std::vector<int> Values(const CVoxel& v) { return {v.Data(), v.Data() + v.VoxelCount()}; }

TEST(ManualCorrection, MergeKeepsEveryNonZeroStrokeAndIgnoresErasers) {
  CVoxel accumulated = VolumeWith({5, 1, 1}, {{0, 0, 0, 2}, {1, 0, 0, 3}, {3, 0, 0, 1}});
  const CVoxel strokes = VolumeWith({5, 1, 1}, {{0, 0, 0, 3}, {2, 0, 0, 2}, {4, 0, 0, 7}});
  MergeStrokes(accumulated, strokes);
  EXPECT_EQ(Values(accumulated), (std::vector<int>{3, 3, 2, 1, 7}));
  MergeStrokes(accumulated, CVoxel(5, 1, 1));
  EXPECT_EQ(Values(accumulated), (std::vector<int>{3, 3, 2, 1, 7}));
}

TEST(ManualCorrection, ApplyWritesOnlyForegroundAndBackgroundScribbles) {
  CVoxel label = VolumeWith({6, 1, 1}, {{1, 0, 0, 1}, {2, 0, 0, 1}, {4, 0, 0, 5}, {5, 0, 0, 1}});
  const CVoxel map =
      VolumeWith({6, 1, 1}, {{0, 0, 0, 2}, {1, 0, 0, 3}, {2, 0, 0, 1}, {3, 0, 0, 4}, {4, 0, 0, 2}});
  ApplyScribbles(label, map);
  EXPECT_EQ(Values(label), (std::vector<int>{1, 0, 1, 0, 1, 1}));
  ApplyScribbles(label, map);
  EXPECT_EQ(Values(label), (std::vector<int>{1, 0, 1, 0, 1, 1}));
}

TEST(ManualCorrection, LaterBackgroundStrokeTurnsTheLabelOff) {
  CVoxel label(2, 1, 1);
  CVoxel accumulated(2, 1, 1);
  MergeStrokes(accumulated, VolumeWith({2, 1, 1}, {{1, 0, 0, 2}}));
  ApplyScribbles(label, accumulated);
  EXPECT_EQ(label.At(1, 0, 0), 1);
  MergeStrokes(accumulated, VolumeWith({2, 1, 1}, {{1, 0, 0, 3}}));
  ApplyScribbles(label, accumulated);
  EXPECT_EQ(label.At(1, 0, 0), 0);
}

TEST(ManualCorrection, VolumesOfDifferentSizesOrWithoutDataAreRefused) {
  CVoxel accumulated = VolumeWith({3, 2, 1}, {{1, 1, 0, 3}});
  CVoxel label = VolumeWith({2, 3, 1}, {{0, 0, 0, 1}});
  const CVoxel strokes = VolumeWith({2, 3, 1}, {{1, 1, 0, 2}});
  EXPECT_FALSE(MergeStrokes(accumulated, strokes));
  EXPECT_FALSE(ApplyScribbles(label, accumulated));
  EXPECT_EQ(Values(accumulated), (std::vector<int>{0, 0, 0, 0, 3, 0}));
  EXPECT_EQ(Values(label), (std::vector<int>{1, 0, 0, 0, 0, 0}));

  CVoxel noData;
  EXPECT_FALSE(ApplyScribbles(label, noData));
  EXPECT_FALSE(MergeStrokes(noData, CVoxel()));
  EXPECT_TRUE(ApplyScribbles(label, strokes));
  EXPECT_EQ(Values(label), (std::vector<int>{1, 0, 0, 1, 0, 0}));
}

}  // namespace
