#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "geometry/LabelGeometry.h"

namespace {

TEST(EnlargedBoundingBox, ClipsTheMarginAtEveryBorder) {
  CVoxel label(100, 100, 40);
  label.At(0, 0, 0) = 1;
  C3DPoint lo, hi;
  geometry::EnlargedBoundingBox(label, {20, 20, 20}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(0, 0, 0));
  EXPECT_EQ(hi, C3DPoint(20, 20, 20));

  label.At(0, 0, 0) = 0;
  label.At(99, 99, 39) = 1;
  geometry::EnlargedBoundingBox(label, {20, 20, 20}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(79, 79, 19));
  EXPECT_EQ(hi, C3DPoint(99, 99, 39));
}

TEST(EnlargedBoundingBox, IgnoresNegativeValuesAndInvertsForAnEmptyLabel) {
  CVoxel label(10, 10, 10);
  label.At(1, 2, 3) = -5;
  C3DPoint lo, hi;
  geometry::EnlargedBoundingBox(label, {2, 3, 4}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(INT_MAX - 2, INT_MAX - 3, INT_MAX - 4));
  EXPECT_EQ(hi, C3DPoint(-INT_MAX + 2, -INT_MAX + 3, -INT_MAX + 4));

  label.At(4, 5, 6) = 1;
  label.At(7, 5, 2) = 3;
  geometry::EnlargedBoundingBox(label, {1, 1, 1}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(3, 4, 1));
  EXPECT_EQ(hi, C3DPoint(8, 6, 7));
}

TEST(Centroid, RoundsHalfUpAndCountsNegativeValues) {
  CVoxel label(5, 3, 3);
  label.At(0, 1, 1) = 1;
  label.At(1, 1, 1) = -1;  // a non-zero value counts, whatever its sign
  C3DPoint centre;
  geometry::Centroid(label, centre);
  EXPECT_EQ(centre, C3DPoint(1, 1, 1));

  // Means 2/3 -> 1 and 1/3 -> 0: rounding, not truncation.
  CVoxel three(5, 5, 5);
  three.At(0, 0, 0) = 1;
  three.At(1, 0, 1) = 1;
  three.At(1, 1, 1) = 1;
  geometry::Centroid(three, centre);
  EXPECT_EQ(centre, C3DPoint(1, 0, 1));
}

TEST(Centroid, LeavesThePointOfAnEmptyVolumeAlone) {
  CVoxel label(4, 4, 4);
  C3DPoint centre(7, 8, 9);
  geometry::Centroid(label, centre);
  EXPECT_EQ(centre, C3DPoint(7, 8, 9));
  CVoxel noData;
  geometry::Centroid(noData, centre);
  EXPECT_EQ(centre, C3DPoint(7, 8, 9));
}

TEST(Centroid, FollowsSinglePrecisionArithmetic) {
  // A full 326 x 326 slice: the float sums lose precision and give 162 on both
  // axes, where an exact (double) mean of 162.5 would round to 163.
  CVoxel label(326, 326, 1);
  for (std::size_t i = 0; i < label.VoxelCount(); ++i) label[i] = 1;
  C3DPoint centre;
  geometry::Centroid(label, centre);
  EXPECT_EQ(centre, C3DPoint(162, 162, 0));
}

TEST(Crop, AcceptsWindowsUpToTheFarEdgeOnly) {
  CVoxel source(6, 5, 4);
  for (std::size_t i = 0; i < source.VoxelCount(); ++i) source[i] = static_cast<CVoxel::value_type>(i);
  source.origin[0] = 12.5f;
  source.spacing[2] = 3.0f;

  auto window = geometry::Crop(source, {2, 1, 1}, {4, 4, 3});
  ASSERT_TRUE(window);
  EXPECT_EQ(window->Size(), C3DPoint(4, 4, 3));
  EXPECT_EQ(window->At(0, 0, 0), source.At(2, 1, 1));
  EXPECT_EQ(window->At(3, 3, 2), source.At(5, 4, 3));
  EXPECT_FLOAT_EQ(window->origin[0], 12.5f);  // the window's corner does not move the origin
  EXPECT_FLOAT_EQ(window->spacing[2], 3.0f);

  EXPECT_FALSE(geometry::Crop(source, {2, 1, 1}, {5, 4, 3}));   // one voxel beyond
  EXPECT_FALSE(geometry::Crop(source, {6, 0, 0}, {0, 1, 1}));   // starts at the dimension
  EXPECT_FALSE(geometry::Crop(source, {-1, 0, 0}, {2, 2, 2}));  // starts before the volume
  EXPECT_FALSE(geometry::Crop(source, {3, 3, 3}, {-2, 1, 1}));  // inverted window of an empty label
  EXPECT_FALSE(geometry::Crop(source, {1, 1, 1}, {INT_MAX, 1, 1}));
  EXPECT_FALSE(geometry::Crop(CVoxel(), {0, 0, 0}, {0, 0, 0}));
}

TEST(Threshold, IncludesTheThresholdAndRejectsNaN) {
  CFVoxel p(4, 1, 1);
  p[0] = 0.5f;
  p[1] = 0.49999f;
  p[2] = std::numeric_limits<float>::quiet_NaN();
  p[3] = 1.0f;
  auto label = geometry::Threshold(p, 0.5);
  ASSERT_TRUE(label && label->HasData());
  EXPECT_EQ((*label)[0], 1);
  EXPECT_EQ((*label)[1], 0);
  EXPECT_EQ((*label)[2], 0);
  EXPECT_EQ((*label)[3], 1);
  EXPECT_FLOAT_EQ(label->origin[0], -1.0f);
  EXPECT_FLOAT_EQ(label->spacing[0], -1.0f);
}

TEST(CopyBox, CopiesOnlyTheInsidePartOfTheBox) {
  CVoxel source(4, 4, 4);
  for (std::size_t i = 0; i < source.VoxelCount(); ++i) source[i] = 1 + static_cast<CVoxel::value_type>(i);
  CVoxel whole(4, 4, 4);
  geometry::CopyBox(whole, {0, 0, 0}, {3, 3, 3}, source);
  for (std::size_t i = 0; i < whole.VoxelCount(); ++i) EXPECT_EQ(whole[i], source[i]);

  CVoxel part(4, 4, 4);
  geometry::CopyBox(part, {2, -3, 3}, {9, 0, 5}, source);
  int copied = 0;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        const bool inside = x >= 2 && y == 0 && z == 3;
        EXPECT_EQ(part.At(x, y, z), inside ? source.At(x, y, z) : 0);
        copied += inside;
      }
  EXPECT_EQ(copied, 2);

  CVoxel untouched(4, 4, 4);
  geometry::CopyBox(untouched, {3, 0, 0}, {2, 3, 3}, source);  // inverted box: nothing
  EXPECT_EQ(untouched.CountNonZero(), 0);
  CVoxel small(2, 2, 2);
  geometry::CopyBox(untouched, {0, 0, 0}, {3, 3, 3}, small);  // never reads past a smaller source
  EXPECT_EQ(untouched.CountNonZero(), 0);
}

}  // namespace
