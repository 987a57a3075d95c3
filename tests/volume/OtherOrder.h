// The voxels of a volume stored in another axis order or direction, as
// another tool would write the same grid.
#pragma once

#include <gtest/gtest.h>

#include <array>

#include "volume/Voxel.h"

namespace testvolumes {

// The grid's voxels stored another way, as another tool would write them: the
// stored volume's axis a runs along the grid's axis along[a], the other way
// when reversed[a]. Its geometry is worked out from the grid's voxel centres.
inline CVoxel StoredInOtherOrder(const CVoxel& grid, std::array<int, 3> along, std::array<bool, 3> reversed) {
  const int gridSize[3] = {grid.X, grid.Y, grid.Z};
  CVoxel v(gridSize[along[0]], gridSize[along[1]], gridSize[along[2]]);
  // Grid index of stored voxel (i, j, k).
  auto gridIndex = [&](int i, int j, int k) {
    const int stored[3] = {i, j, k};
    std::array<int, 3> g{};
    for (int a = 0; a < 3; ++a) {
      const int n = gridSize[along[a]];
      g[along[a]] = reversed[a] ? n - 1 - stored[a] : stored[a];
    }
    return g;
  };
  for (int k = 0; k < v.Z; ++k)
    for (int j = 0; j < v.Y; ++j)
      for (int i = 0; i < v.X; ++i) {
        const auto g = gridIndex(i, j, k);
        v.At(i, j, k) = grid.At(g[0], g[1], g[2]);
      }
  // Origin: the centre of stored voxel 0; axis a: from it to the next voxel along a.
  double origin[3], axes[3][3];
  const auto g0 = gridIndex(0, 0, 0);
  grid.PhysicalPoint(g0[0], g0[1], g0[2], origin);
  for (int a = 0; a < 3; ++a) {
    const int next[3] = {a == 0, a == 1, a == 2};
    const auto g1 = gridIndex(next[0], next[1], next[2]);
    double p[3];
    // An axis one voxel long has no next voxel: its direction is the grid's axis, signed.
    if (gridSize[along[a]] == 1) {
      for (int r = 0; r < 3; ++r)
        axes[r][a] = (reversed[a] ? -1 : 1) * grid.direction[r][along[a]] * grid.SpacingOrUnit(along[a]);
      continue;
    }
    grid.PhysicalPoint(g1[0], g1[1], g1[2], p);
    for (int r = 0; r < 3; ++r) axes[r][a] = p[r] - origin[r];
  }
  EXPECT_TRUE(v.SetGeometryFromMatrix(axes, origin));
  return v;
}

}  // namespace testvolumes
