// Small volumes for tests of the case and the window, and an exact comparison.
#pragma once

#include <algorithm>

#include "volume/Voxel.h"

namespace testvolumes {

// An image whose voxels all differ a little: x + 2y + 50z.
inline CVoxel MakeImage(int X, int Y, int Z) {
  CVoxel image(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) image.At(x, y, z) = static_cast<CVoxel::value_type>(x + 2 * y + 50 * z);
  return image;
}

// A label with `value` inside the box [x0, x1) x [y0, y1) x [z0, z1).
inline CVoxel MakeBox(int X, int Y, int Z, int x0, int x1, int y0, int y1, int z0, int z1, int value = 1) {
  CVoxel label(X, Y, Z);
  for (int z = z0; z < z1; ++z)
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) label.At(x, y, z) = static_cast<CVoxel::value_type>(value);
  return label;
}

// Same size and the same value in every voxel.
inline bool SameVoxels(const CVoxel& a, const CVoxel& b) {
  return a.SameSize(b) && std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

}  // namespace testvolumes
