#include "geometry/BoundaryPoints.h"

#include <cstdint>
#include <cstring>

namespace {
// Face neighbours in the order x - 1, y - 1, z - 1, x + 1, y + 1, z + 1.
constexpr C3DPoint kNeighbours[6] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// The first voxel other than 0 among n (n when there is none); reads eight
// bytes at a time, as most rows of a label hold nothing at all.
std::size_t FirstNonZero(const CVoxel::value_type* voxels, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t word;
    std::memcpy(&word, voxels + i, sizeof word);
    if (word != 0) break;
  }
  while (i < n && voxels[i] == 0) ++i;
  return i;
}

}  // namespace

CBoundaryPoints::CBoundaryPoints(const CVoxel& label) {
  if (!label.HasData()) return;
  const std::ptrdiff_t X = label.X;
  const std::ptrdiff_t XY = X * label.Y;
  for (int z = 0; z < label.Z; ++z)
    for (int y = 0; y < label.Y; ++y) {
      const CVoxel::value_type* row = label.Data() + label.Index(0, y, z);
      // Only the span from the row's first to its last voxel other than 0.
      const int first = static_cast<int>(FirstNonZero(row, static_cast<std::size_t>(X)));
      if (first == label.X) continue;
      int last = label.X - 1;
      while (row[last] == 0) --last;
      for (int x = first; x <= last; ++x) {
        const CVoxel::value_type m = row[x];
        if (m == 0) continue;
        // Face neighbours inside the volume, in the order x - 1, y - 1, z - 1, x + 1, y + 1, z + 1.
        const bool boundary = (x > 0 && row[x - 1] != m) || (y > 0 && row[x - X] != m) ||
                              (z > 0 && row[x - XY] != m) || (x + 1 < label.X && row[x + 1] != m) ||
                              (y + 1 < label.Y && row[x + X] != m) || (z + 1 < label.Z && row[x + XY] != m);
        if (boundary) m_points.emplace_back(x, y, z);
      }
    }
}

std::unique_ptr<CVoxel> CBoundaryPoints::Rasterise(int X, int Y, int Z) const {
  auto volume = std::make_unique<CVoxel>(X, Y, Z);
  if (!volume->HasData()) return volume;
  for (const C3DPoint& p : m_points)
    if (volume->Contains(p.x, p.y, p.z)) volume->At(p.x, p.y, p.z) = 1;
  return volume;
}

namespace geometry {

std::unique_ptr<CVoxel> KeepSeedComponent(const CVoxel& label, const C3DPoint& seed) {
  auto result = std::make_unique<CVoxel>(label.Size());
  if (!result->HasData() || !label.HasData() || result->VoxelCount() == 0) return result;
  if (!label.Contains(seed.x, seed.y, seed.z)) return result;

  // Flood fill with a work list in joining order; every voxel joins once.
  std::vector<C3DPoint> work{seed};
  result->At(seed.x, seed.y, seed.z) = 1;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const C3DPoint p = work[i];
    for (const C3DPoint& d : kNeighbours) {
      const C3DPoint q(p.x + d.x, p.y + d.y, p.z + d.z);
      if (!label.Contains(q.x, q.y, q.z) || result->At(q.x, q.y, q.z) != 0 || label.At(q.x, q.y, q.z) <= 0)
        continue;
      result->At(q.x, q.y, q.z) = 1;
      work.push_back(q);
    }
  }
  return result;
}

}  // namespace geometry
