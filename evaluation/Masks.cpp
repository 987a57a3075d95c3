#include "evaluation/Masks.h"

#include <algorithm>
#include <numeric>

namespace evaluation {

void VoxelBox::Add(int x, int y, int z) {
  if (Empty()) {
    first = last = {x, y, z};
    return;
  }
  first = {std::min(first.x, x), std::min(first.y, y), std::min(first.z, z)};
  last = {std::max(last.x, x), std::max(last.y, y), std::max(last.z, z)};
}

void VoxelBox::Add(const VoxelBox& other) {
  if (other.Empty()) return;
  Add(other.first.x, other.first.y, other.first.z);
  Add(other.last.x, other.last.y, other.last.z);
}

std::int64_t Mask::Count() const {
  return std::accumulate(perSlice.begin(), perSlice.end(), std::int64_t{0});
}

Mask MakeMask(const CVoxel& volume, const Foreground& foreground) {
  Mask mask;
  mask.volume = &volume;
  mask.foreground = foreground;
  mask.size = volume.Size();
  if (!volume.HasData() || volume.X <= 0 || volume.Y <= 0 || volume.Z <= 0) return mask;
  mask.perSlice.assign(static_cast<std::size_t>(volume.Z), 0);
  const CVoxel::value_type* v = volume.Data();
  std::size_t i = 0;
  for (int z = 0; z < volume.Z; ++z)
    for (int y = 0; y < volume.Y; ++y) {
      // The row's extent is tracked first so the box costs nothing per voxel.
      int rowFirst = volume.X, rowLast = -1;
      std::int64_t rowCount = 0;
      for (int x = 0; x < volume.X; ++x, ++i) {
        if (foreground(v[i])) {
          rowFirst = std::min(rowFirst, x);
          rowLast = x;
          ++rowCount;
        }
      }
      if (rowCount > 0) {
        mask.box.Add(rowFirst, y, z);
        mask.box.Add(rowLast, y, z);
        mask.perSlice[static_cast<std::size_t>(z)] += rowCount;
      }
    }
  return mask;
}

std::vector<std::size_t> BoundaryVoxels(const Mask& mask) {
  std::vector<std::size_t> boundary;
  if (mask.box.Empty()) return boundary;
  const int X = mask.size.x, Y = mask.size.y, Z = mask.size.z;
  const std::size_t row = static_cast<std::size_t>(X);
  const std::size_t slice = row * static_cast<std::size_t>(Y);
  const CVoxel::value_type* v = mask.volume->Data();
  const Foreground& in = mask.foreground;
  for (int z = mask.box.first.z; z <= mask.box.last.z; ++z)
    for (int y = mask.box.first.y; y <= mask.box.last.y; ++y)
      for (int x = mask.box.first.x; x <= mask.box.last.x; ++x) {
        const std::size_t i = static_cast<std::size_t>(x) + row * static_cast<std::size_t>(y) +
                              slice * static_cast<std::size_t>(z);
        if (!in(v[i])) continue;
        const bool edge = x == 0 || y == 0 || z == 0 || x == X - 1 || y == Y - 1 || z == Z - 1;
        if (edge || !in(v[i - 1]) || !in(v[i + 1]) || !in(v[i - row]) || !in(v[i + row]) ||
            !in(v[i - slice]) || !in(v[i + slice]))
          boundary.push_back(i);
      }
  return boundary;
}

std::vector<std::int64_t> OverlapPerSlice(const Mask& a, const Mask& b) {
  std::vector<std::int64_t> both(static_cast<std::size_t>(std::max(a.size.z, 0)), 0);
  if (a.box.Empty() || b.box.Empty()) return both;
  const C3DPoint first{std::max(a.box.first.x, b.box.first.x), std::max(a.box.first.y, b.box.first.y),
                       std::max(a.box.first.z, b.box.first.z)};
  const C3DPoint last{std::min(a.box.last.x, b.box.last.x), std::min(a.box.last.y, b.box.last.y),
                      std::min(a.box.last.z, b.box.last.z)};
  const std::size_t X = static_cast<std::size_t>(a.size.x), Y = static_cast<std::size_t>(a.size.y);
  for (int z = first.z; z <= last.z; ++z) {
    std::int64_t count = 0;
    for (int y = first.y; y <= last.y; ++y) {
      const std::size_t start = static_cast<std::size_t>(first.x) +
                                X * (static_cast<std::size_t>(y) + Y * static_cast<std::size_t>(z));
      for (std::size_t i = start; i <= start + static_cast<std::size_t>(last.x - first.x); ++i)
        count += a.Inside(i) && b.Inside(i);
    }
    both[static_cast<std::size_t>(z)] = count;
  }
  return both;
}

}  // namespace evaluation
