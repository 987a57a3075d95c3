#include <gtest/gtest.h>

#include <utility>

#include "volume/Voxel.h"

TEST(C3DPoint, ArithmeticAndDefaults) {
  EXPECT_EQ(C3DPoint(), C3DPoint(0, 0, 0));
  EXPECT_EQ(C3DPoint(4, 5, 6) - C3DPoint(4, 5, 6), C3DPoint(0, 0, 0));
  EXPECT_EQ(C3DPoint(5, 5, 5) + -2, C3DPoint(3, 3, 3));
  EXPECT_EQ(C3DPoint(7, 1, 2) - C3DPoint(2, 3, 4), C3DPoint(5, -2, -2));
  C3DPoint p;
  p.Set(1, 2, 3);
  EXPECT_EQ(p, C3DPoint(1, 2, 3));
}

TEST(CVoxel, IndexesXFastestThenYThenZ) {
  CVoxel v(4, 5, 6, true);
  ASSERT_TRUE(v.HasData());
  EXPECT_EQ(v.CountNonZero(), 0);
  EXPECT_EQ(v.Index(1, 2, 3), 69u);
  v.At(1, 2, 3) = 7;
  EXPECT_EQ(v[69], 7);
  EXPECT_EQ(v.CountNonZero(), 1);
  EXPECT_EQ(v.spacing[0], -1.0f);
  EXPECT_EQ(v.origin[2], -1.0f);
}

TEST(CVoxel, CopiesAreIndependent) {
  CVoxel v(3, 3, 3);
  v.spacing[1] = 0.5f;
  v.origin[2] = 12.0f;
  v.At(1, 1, 1) = 9;
  v.maximum = 100;
  const auto copy = v.Clone();
  copy->At(1, 1, 1) = 2;
  EXPECT_EQ(v.At(1, 1, 1), 9);
  EXPECT_EQ(copy->spacing[1], 0.5f);
  EXPECT_EQ(copy->origin[2], 12.0f);
  EXPECT_EQ(copy->maximum, 0) << "the min/max pair is not copied";

  CVoxel assigned;
  assigned = v;
  EXPECT_TRUE(assigned.SameSize(v));
  EXPECT_EQ(assigned.At(1, 1, 1), 9);
}

TEST(CVoxel, ReleaseTwiceAndMovedFromVolumesHoldNoData) {
  CVoxel v(2, 2, 2);
  v.Release();
  v.Release();
  EXPECT_FALSE(v.HasData());
  EXPECT_EQ(v.Data(), nullptr);
  EXPECT_EQ(v.CountNonZero(), 0);

  CVoxel source(2, 2, 2);
  source[3] = 4;
  CVoxel target(std::move(source));
  EXPECT_TRUE(target.HasData());
  EXPECT_EQ(target[3], 4);
  EXPECT_FALSE(source.HasData());  // NOLINT(bugprone-use-after-move): a moved-from volume is empty
  CVoxel other;
  other = std::move(target);
  EXPECT_FALSE(target.HasData());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(other[3], 4);
}

TEST(CVoxel, ImpossibleSizesLeaveNoData) {
  EXPECT_EQ(VoxelCount(-1, 2, 2), -1);
  EXPECT_EQ(VoxelCount(2048, 2048, 512), -1);  // 2^31 voxels do not fit a signed 32-bit count
  EXPECT_EQ(VoxelCount(65536, 65536, 0), 0);
  EXPECT_FALSE(CVoxel(-3, 2, 2).HasData());
  EXPECT_FALSE(CVoxel(100000, 100000, 100000).HasData());

  CVoxel empty(0, 5, 5);
  EXPECT_TRUE(empty.HasData());
  EXPECT_EQ(empty.VoxelCount(), 0u);
  EXPECT_EQ(empty.CountNonZero(), 0);

  CVoxel v(2, 2, 2);
  v.X = -1;
  EXPECT_FALSE(v.Allocate());
  EXPECT_FALSE(v.HasData());
}

TEST(CFVoxel, AllocatesZeroedFloats) {
  CFVoxel f(3, 2, 1);
  ASSERT_TRUE(f.HasData());
  f.At(2, 1, 0) = 1.5f;
  EXPECT_EQ(f[5], 1.5f);
  EXPECT_TRUE(f.Allocate());
  EXPECT_EQ(f[5], 0.0f);
  CFVoxel moved(std::move(f));
  EXPECT_TRUE(moved.HasData());
  EXPECT_FALSE(f.HasData());  // NOLINT(bugprone-use-after-move)
  moved.Release();
  EXPECT_FALSE(moved.HasData());
}
