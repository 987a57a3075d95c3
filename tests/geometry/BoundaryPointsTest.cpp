#include <gtest/gtest.h>

#include "geometry/BoundaryPoints.h"

namespace {

TEST(BoundaryPoints, CubeListsEveryVoxelButTheCentreInScanOrder) {
  CVoxel label(7, 7, 7);
  for (int z = 2; z <= 4; ++z)
    for (int y = 2; y <= 4; ++y)
      for (int x = 2; x <= 4; ++x) label.At(x, y, z) = 1;
  CBoundaryPoints boundary(label);
  ASSERT_EQ(boundary.Count(), 26);
  std::vector<C3DPoint> expected;
  for (int z = 2; z <= 4; ++z)
    for (int y = 2; y <= 4; ++y)
      for (int x = 2; x <= 4; ++x)
        if (!(x == 3 && y == 3 && z == 3)) expected.emplace_back(x, y, z);
  EXPECT_EQ(boundary.Points(), expected);

  // Rasterising gives 1 exactly on the boundary voxels.
  auto raster = boundary.Rasterise(7, 7, 7);
  ASSERT_TRUE(raster && raster->HasData());
  EXPECT_EQ(raster->CountNonZero(), 26);
  EXPECT_EQ(raster->At(3, 3, 3), 0);
  EXPECT_EQ(raster->At(2, 3, 3), 1);
  EXPECT_FLOAT_EQ(raster->origin[1], -1.0f);

  // Points outside smaller dimensions are skipped.
  auto small = boundary.Rasterise(3, 3, 3);
  EXPECT_EQ(small->CountNonZero(), 1);  // only (2, 2, 2)
}

TEST(BoundaryPoints, OnlyInVolumeNeighboursCountAndLabelsMeet) {
  CVoxel single(5, 5, 5);
  single.At(2, 2, 2) = 1;
  EXPECT_EQ(CBoundaryPoints(single).Count(), 1);

  CVoxel full(4, 3, 2);
  for (std::size_t i = 0; i < full.VoxelCount(); ++i) full[i] = 1;
  EXPECT_EQ(CBoundaryPoints(full).Count(), 0);  // the volume border is no boundary

  CVoxel two(2, 1, 1);
  two.At(0, 0, 0) = 1;
  two.At(1, 0, 0) = 2;
  const std::vector<C3DPoint> both{{0, 0, 0}, {1, 0, 0}};
  EXPECT_EQ(CBoundaryPoints(two).Points(), both);

  EXPECT_EQ(CBoundaryPoints(CVoxel()).Count(), 0);
}

TEST(KeepSeedComponent, EdgeOrCornerContactDoesNotJoin) {
  CVoxel label(6, 6, 6);
  label.At(1, 1, 1) = 1;
  label.At(1, 2, 1) = 4;  // face neighbour: joins
  label.At(2, 3, 1) = 1;  // edge contact with (1, 2, 1): separate
  label.At(2, 3, 2) = 1;
  label.At(3, 4, 3) = 1;   // corner contact with (2, 3, 2): separate
  label.At(0, 1, 1) = -3;  // negative is outside
  auto kept = geometry::KeepSeedComponent(label, {1, 1, 1});
  ASSERT_TRUE(kept && kept->HasData());
  EXPECT_EQ(kept->CountNonZero(), 2);
  EXPECT_EQ(kept->At(1, 1, 1), 1);
  EXPECT_EQ(kept->At(1, 2, 1), 1);
  EXPECT_FLOAT_EQ(kept->spacing[0], -1.0f);

  auto other = geometry::KeepSeedComponent(label, {2, 3, 2});
  EXPECT_EQ(other->CountNonZero(), 2);
  EXPECT_EQ(other->At(2, 3, 1), 1);
  EXPECT_EQ(label.At(1, 2, 1), 4);  // the input is not changed
}

TEST(KeepSeedComponent, SeedIsAlwaysSetAndNeverReadOutside) {
  CVoxel ring(5, 5, 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x)
      if (x == 0 || y == 0 || x == 4 || y == 4) ring.At(x, y, 0) = 1;
  auto lonely = geometry::KeepSeedComponent(ring, {2, 2, 0});
  EXPECT_EQ(lonely->CountNonZero(), 1);
  EXPECT_EQ(lonely->At(2, 2, 0), 1);

  // A seed beside the ring joins it through its neighbour.
  auto joined = geometry::KeepSeedComponent(ring, {1, 2, 0});
  EXPECT_EQ(joined->CountNonZero(), 17);

  // A whole filled corner-to-corner volume is reached without leaving it.
  CVoxel full(3, 3, 3);
  for (std::size_t i = 0; i < full.VoxelCount(); ++i) full[i] = 1;
  EXPECT_EQ(geometry::KeepSeedComponent(full, {0, 0, 0})->CountNonZero(), 27);

  for (const C3DPoint& seed : {C3DPoint(-1, 0, 0), C3DPoint(0, 3, 0), C3DPoint(0, 0, 1 << 30)}) {
    auto none = geometry::KeepSeedComponent(full, seed);
    ASSERT_TRUE(none->HasData());
    EXPECT_EQ(none->CountNonZero(), 0);
  }
  EXPECT_EQ(geometry::KeepSeedComponent(CVoxel(0, 4, 4), {0, 0, 0})->CountNonZero(), 0);
}

}  // namespace
