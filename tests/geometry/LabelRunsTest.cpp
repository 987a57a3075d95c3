#include <gtest/gtest.h>

#include <random>

#include "geometry/LabelRuns.h"

namespace {

// Runs hold exactly the voxels > 0, wherever they lie in their row (at either
// end, alone, side by side with negative values), and give the label back.
TEST(LabelRuns, HoldExactlyTheVoxelsAboveZero) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> value(-1, 2);
  CVoxel label(9, 4, 3);
  for (std::size_t i = 0; i < label.VoxelCount(); ++i)
    label[i] = static_cast<CVoxel::value_type>(value(random));
  for (int x = 0; x < label.X; ++x) label.At(x, 1, 1) = 5;  // a full row
  for (int x = 0; x < label.X; ++x) label.At(x, 2, 1) = 0;  // an empty one
  const geometry::LabelRuns runs(label);
  ASSERT_EQ(runs.Size(), label.Size());
  const auto back = runs.ToVolume();
  for (int z = 0; z < label.Z; ++z)
    for (int y = 0; y < label.Y; ++y) {
      // Runs are separated by at least one voxel <= 0.
      for (auto run = runs.RowBegin(y, z); run != runs.RowEnd(y, z); ++run) {
        EXPECT_LT(run->first, run->second);
        if (run + 1 != runs.RowEnd(y, z)) {
          EXPECT_LT(run->second, (run + 1)->first);
        }
      }
      for (int x = 0; x < label.X; ++x) {
        EXPECT_EQ(runs.Inside(x, y, z), label.At(x, y, z) > 0) << x << "," << y << "," << z;
        EXPECT_EQ(back->At(x, y, z), label.At(x, y, z) > 0 ? 1 : 0);
      }
    }
  EXPECT_EQ(runs.RowEnd(1, 1) - runs.RowBegin(1, 1), 1);
  EXPECT_EQ(runs.RowEnd(2, 1) - runs.RowBegin(2, 1), 0);
  // Positions outside the volume are outside the label.
  EXPECT_FALSE(runs.Inside(-1, 1, 1));
  EXPECT_FALSE(runs.Inside(9, 1, 1));
  EXPECT_FALSE(runs.Inside(0, 4, 1));
  EXPECT_FALSE(runs.HasRow(0, 3));

  // A volume without data has no rows.
  const geometry::LabelRuns none{CVoxel()};
  EXPECT_FALSE(none.HasRow(0, 0));
  EXPECT_FALSE(none.Inside(0, 0, 0));
}

}  // namespace
