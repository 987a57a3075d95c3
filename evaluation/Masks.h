// Foreground masks of label volumes and their boundary voxels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/Voxel.h"

namespace evaluation {

// Which voxel values count as foreground: every non-zero value, or exactly one
// label value.
struct Foreground {
  bool singleLabel = false;
  int label = 0;

  bool operator()(CVoxel::value_type v) const { return singleLabel ? v == label : v != 0; }
};

// Inclusive voxel box; empty when first.x > last.x.
struct VoxelBox {
  C3DPoint first{0, 0, 0};
  C3DPoint last{-1, -1, -1};

  bool Empty() const { return first.x > last.x; }
  void Add(int x, int y, int z);
  void Add(const VoxelBox& other);
};

// The foreground of a label volume, read in place: its count per slice and
// its bounding box. The volume must outlive the mask.
struct Mask {
  const CVoxel* volume = nullptr;
  Foreground foreground;
  C3DPoint size;
  std::vector<std::int64_t> perSlice;
  VoxelBox box;

  bool Inside(std::size_t i) const { return foreground((*volume)[i]); }
  std::int64_t Count() const;
};

Mask MakeMask(const CVoxel& volume, const Foreground& foreground);

// Foreground voxels with at least one of their six face neighbours background
// or outside the volume, as indices in volume order (ascending).
std::vector<std::size_t> BoundaryVoxels(const Mask& mask);

// Voxels inside both masks, per slice (the masks have the same size).
std::vector<std::int64_t> OverlapPerSlice(const Mask& a, const Mask& b);

}  // namespace evaluation
