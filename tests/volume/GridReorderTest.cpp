// A volume holding another's grid in another axis order or direction is put
// on that grid by position; anything else is left alone.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tests/volume/OtherOrder.h"
#include "volume/GridReorder.h"
#include "volume/Voxel.h"

namespace {

// A 4 x 3 x 5 grid, rotated about two axes (or not), voxel (x, y, z) holding x + 10 y + 100 z.
CVoxel Grid(bool oblique) {
  CVoxel grid(4, 3, 5);
  const double cx = std::cos(0.3), sx = std::sin(0.3), cy = std::cos(-0.5), sy = std::sin(-0.5);
  // Columns of the rotation about x by 0.3, then about y by -0.5.
  const double rotation[3][3] = {{cy, sy * sx, sy * cx}, {0, cx, -sx}, {-sy, cy * sx, cy * cx}};
  const double spacing[3] = {0.5, 0.75, 2.0};
  double axes[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) axes[r][c] = (oblique ? rotation[r][c] : r == c ? 1.0 : 0.0) * spacing[c];
  const double origin[3] = {-31.5, 12.25, 47.0};
  EXPECT_TRUE(grid.SetGeometryFromMatrix(axes, origin));
  for (int z = 0; z < grid.Z; ++z)
    for (int y = 0; y < grid.Y; ++y)
      for (int x = 0; x < grid.X; ++x)
        grid.At(x, y, z) = static_cast<CVoxel::value_type>(x + 10 * y + 100 * z);
  return grid;
}

void ExpectOnGrid(const CVoxel& v, const CVoxel& grid) {
  ASSERT_TRUE(v.HasData());
  ASSERT_TRUE(v.SameSize(grid));
  EXPECT_TRUE(SameGeometry(v, grid));
  for (std::size_t i = 0; i < grid.VoxelCount(); ++i) ASSERT_EQ(v[i], grid[i]) << "voxel " << i;
}

}  // namespace

TEST(GridReorder, SlicesStackedTheOtherWayAreReversed) {
  // ITK stacks a series along the slice normal, VTK's reader the other way.
  for (bool oblique : {false, true}) {
    const CVoxel grid = Grid(oblique);
    CVoxel other = testvolumes::StoredInOtherOrder(grid, {0, 1, 2}, {false, false, true});
    ASSERT_FALSE(SameGeometry(other, grid));
    std::string how;
    EXPECT_EQ(volume::ReorderOntoGrid(other, grid, &how), volume::GridMatch::Reordered);
    EXPECT_EQ(how, "x, y, -z");
    ExpectOnGrid(other, grid);
  }
}

TEST(GridReorder, EveryAxisOrderAndDirectionComesBackOntoTheGrid) {
  const CVoxel grid = Grid(true);
  std::array<int, 3> along{0, 1, 2};
  int orders = 0;
  do {
    for (int flips = 0; flips < 8; ++flips) {
      const std::array<bool, 3> reversed{(flips & 1) != 0, (flips & 2) != 0, (flips & 4) != 0};
      CVoxel other = testvolumes::StoredInOtherOrder(grid, along, reversed);
      const bool same = along == std::array<int, 3>{0, 1, 2} && flips == 0;
      EXPECT_EQ(volume::ReorderOntoGrid(other, grid),
                same ? volume::GridMatch::Same : volume::GridMatch::Reordered)
          << along[0] << along[1] << along[2] << " flips " << flips;
      ExpectOnGrid(other, grid);
      ++orders;
    }
  } while (std::next_permutation(along.begin(), along.end()));
  EXPECT_EQ(orders, 48);

  // The description names the grid's axis each stored axis runs along.
  CVoxel swapped = testvolumes::StoredInOtherOrder(grid, {1, 0, 2}, {true, false, false});
  std::string how;
  ASSERT_EQ(volume::ReorderOntoGrid(swapped, grid, &how), volume::GridMatch::Reordered);
  EXPECT_EQ(how, "-y, x, z");
}

TEST(GridReorder, VoxelsThatDoNotCoincideAreLeftAlone) {
  const CVoxel grid = Grid(true);
  const CVoxel flipped = testvolumes::StoredInOtherOrder(grid, {0, 1, 2}, {false, false, true});
  auto expectLeft = [&](CVoxel other, const char* why) {
    const CVoxel before = other;
    std::string how = "untouched";
    EXPECT_EQ(volume::ReorderOntoGrid(other, grid, &how), volume::GridMatch::Different) << why;
    EXPECT_EQ(how, "untouched") << why;
    ASSERT_TRUE(other.SameSize(before));
    EXPECT_TRUE(SameGeometry(other, before, 0, 0, 0)) << why;
    for (std::size_t i = 0; i < before.VoxelCount(); ++i) ASSERT_EQ(other[i], before[i]) << why;
  };
  // Moved by 0.01 mm (beyond 1e-3 mm), or 0.0005 mm (within it: reordered).
  CVoxel moved = flipped;
  moved.origin[0] += 0.01f;
  expectLeft(moved, "moved");
  CVoxel nudged = flipped;
  nudged.origin[0] += 0.0005f;
  EXPECT_EQ(volume::ReorderOntoGrid(nudged, grid), volume::GridMatch::Reordered);
  // Another slice distance: the reversed stack would start elsewhere.
  CVoxel thicker = flipped;
  thicker.spacing[2] = 2.1f;
  expectLeft(thicker, "thicker");
  // One slice fewer.
  CVoxel shorter(grid.X, grid.Y, grid.Z - 1);
  shorter.CopyGeometry(flipped);
  expectLeft(shorter, "shorter");
  // Turned by a hundredth of a radian about z.
  CVoxel turned = flipped;
  const double c = std::cos(0.01), s = std::sin(0.01);
  for (int col = 0; col < 3; ++col) {
    const double x = turned.direction[0][col], y = turned.direction[1][col];
    turned.direction[0][col] = c * x - s * y;
    turned.direction[1][col] = s * x + c * y;
  }
  expectLeft(turned, "turned");
  // Without geometry, a permuted size cannot be matched to a placed grid.
  CVoxel unplaced(grid.Y, grid.X, grid.Z);
  expectLeft(unplaced, "unplaced");
  // A volume already on the grid is the same, voxel for voxel.
  CVoxel same = grid;
  EXPECT_EQ(volume::ReorderOntoGrid(same, grid), volume::GridMatch::Same);
}

TEST(GridReorder, TheNoticeNamesBothFilesAndTheAxes) {
  EXPECT_EQ(
      volume::ReorderedText("ground truth", "gt.nii", "segmentation", "seg.mhd", "x, y, -z"),
      "The ground truth 'gt.nii' holds the voxels of the segmentation 'seg.mhd' in another axis order or "
      "direction (its x, y, z run along the segmentation's x, y, -z); it was reordered by position onto "
      "the segmentation's grid.");
}
