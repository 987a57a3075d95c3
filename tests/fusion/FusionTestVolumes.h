// Small volumes for the fusion tests.
#pragma once

#include <initializer_list>

#include "volume/Voxel.h"

struct VoxelValue {
  int x, y, z, value;
};

// An X x Y x Z volume, zero except for the listed voxels.
inline CVoxel VolumeWith(const C3DPoint& size, std::initializer_list<VoxelValue> voxels = {}) {
  CVoxel volume(size);
  for (const VoxelValue& v : voxels) volume.At(v.x, v.y, v.z) = static_cast<CVoxel::value_type>(v.value);
  return volume;
}

// Sets every voxel of the inclusive box [first, last] to value.
inline void FillBox(CVoxel& volume, const C3DPoint& first, const C3DPoint& last, int value) {
  for (int z = first.z; z <= last.z; ++z)
    for (int y = first.y; y <= last.y; ++y)
      for (int x = first.x; x <= last.x; ++x) volume.At(x, y, z) = static_cast<CVoxel::value_type>(value);
}
