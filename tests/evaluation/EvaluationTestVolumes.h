// Small label volumes for the evaluation tests.
#pragma once

#include "volume/Voxel.h"

namespace evaluation_test {

inline CVoxel Volume(int X, int Y, int Z, float sx = 1.0f, float sy = 1.0f, float sz = 1.0f) {
  CVoxel v(X, Y, Z);
  v.spacing[0] = sx;
  v.spacing[1] = sy;
  v.spacing[2] = sz;
  v.origin[0] = v.origin[1] = v.origin[2] = 0.0f;
  return v;
}

// Sets the voxels of the inclusive box [first, last] to `value`.
inline void Fill(CVoxel& v, C3DPoint first, C3DPoint last, CVoxel::value_type value = 1) {
  for (int z = first.z; z <= last.z; ++z)
    for (int y = first.y; y <= last.y; ++y)
      for (int x = first.x; x <= last.x; ++x) v.At(x, y, z) = value;
}

}  // namespace evaluation_test
