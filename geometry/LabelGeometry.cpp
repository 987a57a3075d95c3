#include "geometry/LabelGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace geometry {

namespace {
// Narrows a 64-bit corner back to int; only a hostile margin can leave the range.
int Saturate(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }
}  // namespace

void EnlargedBoundingBox(const CVoxel& label, const C3DPoint& margin, C3DPoint& minCorner,
                         C3DPoint& maxCorner) {
  // One above INT_MIN for the maximum, as the empty-label box is defined from it.
  int lo[3] = {INT_MAX, INT_MAX, INT_MAX};
  int hi[3] = {-INT_MAX, -INT_MAX, -INT_MAX};
  if (label.HasData()) {
    for (int z = 0; z < label.Z; ++z)
      for (int y = 0; y < label.Y; ++y)
        for (int x = 0; x < label.X; ++x) {
          if (label.At(x, y, z) <= 0) continue;
          lo[0] = std::min(lo[0], x);
          lo[1] = std::min(lo[1], y);
          lo[2] = std::min(lo[2], z);
          hi[0] = std::max(hi[0], x);
          hi[1] = std::max(hi[1], y);
          hi[2] = std::max(hi[2], z);
        }
  }
  const int m[3] = {margin.x, margin.y, margin.z};
  const int dims[3] = {label.X, label.Y, label.Z};
  int first[3];
  int last[3];
  for (int a = 0; a < 3; ++a) {
    std::int64_t low = static_cast<std::int64_t>(lo[a]) - m[a];
    std::int64_t high = static_cast<std::int64_t>(hi[a]) + m[a];
    if (low < 0) low = 0;
    if (high > dims[a] - 1) high = dims[a] - 1;
    first[a] = Saturate(low);
    last[a] = Saturate(high);
  }
  minCorner.Set(first[0], first[1], first[2]);
  maxCorner.Set(last[0], last[1], last[2]);
}

bool HasForeground(const CVoxel& label) {
  const CVoxel::value_type* data = label.Data();
  return data && std::any_of(data, data + label.VoxelCount(), [](CVoxel::value_type v) { return v > 0; });
}

void Centroid(const CVoxel& label, C3DPoint& centre) {
  if (!label.HasData()) return;
  // Float accumulators in scan order: the rounding of the result depends on it.
  int count = 0;
  float sx = 0.0f;
  float sy = 0.0f;
  float sz = 0.0f;
  for (int z = 0; z < label.Z; ++z)
    for (int y = 0; y < label.Y; ++y)
      for (int x = 0; x < label.X; ++x) {
        if (label.At(x, y, z) == 0) continue;
        ++count;
        sx += static_cast<float>(x);
        sy += static_cast<float>(y);
        sz += static_cast<float>(z);
      }
  if (count == 0) return;
  const float n = static_cast<float>(count);
  centre.Set(static_cast<int>(std::floor(sx / n + 0.5f)), static_cast<int>(std::floor(sy / n + 0.5f)),
             static_cast<int>(std::floor(sz / n + 0.5f)));
}

bool BoxInsideVolume(const C3DPoint& dimensions, const C3DPoint& minCorner, const C3DPoint& size) {
  const int c[3] = {minCorner.x, minCorner.y, minCorner.z};
  const int s[3] = {size.x, size.y, size.z};
  const int dims[3] = {dimensions.x, dimensions.y, dimensions.z};
  for (int a = 0; a < 3; ++a) {
    const std::int64_t end = static_cast<std::int64_t>(c[a]) + s[a];
    if (c[a] < 0 || c[a] >= dims[a] || s[a] < 0 || end > dims[a]) return false;
  }
  return true;
}

std::unique_ptr<CVoxel> Crop(const CVoxel& source, const C3DPoint& minCorner, const C3DPoint& size) {
  if (!source.HasData() || !BoxInsideVolume(source.Size(), minCorner, size)) return nullptr;
  const int c[3] = {minCorner.x, minCorner.y, minCorner.z};
  auto window = std::make_unique<CVoxel>(size);
  if (!window->HasData()) return nullptr;
  window->CopyGeometry(source);
  for (int z = 0; z < size.z; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < size.x; ++x) window->At(x, y, z) = source.At(c[0] + x, c[1] + y, c[2] + z);
  return window;
}

std::unique_ptr<CVoxel> Threshold(const CFVoxel& probabilities, double threshold) {
  auto label = std::make_unique<CVoxel>(probabilities.Size());
  if (!label->HasData() || !probabilities.HasData()) return label;
  const std::size_t n = std::min(label->VoxelCount(), probabilities.VoxelCount());
  for (std::size_t i = 0; i < n; ++i)
    (*label)[i] = static_cast<double>(probabilities[i]) >= threshold ? 1 : 0;
  return label;
}

void CopyBox(CVoxel& destination, const C3DPoint& first, const C3DPoint& last, const CVoxel& source) {
  if (!destination.HasData() || !source.HasData()) return;
  // Clip the box to both volumes once instead of testing every position.
  const int x0 = std::max(first.x, 0);
  const int y0 = std::max(first.y, 0);
  const int z0 = std::max(first.z, 0);
  const int x1 = std::min({last.x, destination.X - 1, source.X - 1});
  const int y1 = std::min({last.y, destination.Y - 1, source.Y - 1});
  const int z1 = std::min({last.z, destination.Z - 1, source.Z - 1});
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) destination.At(x, y, z) = source.At(x, y, z);
}

}  // namespace geometry
