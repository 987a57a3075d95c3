// Distance maps: one window (the region's enlarged bounding box) per scribble
// region and, inside it, the exact Euclidean distance to the region.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace fusion {

bool IsEmptyWindow(const RegionWindow& window) {
  const C3DPoint& origin = window.origin;
  const C3DPoint& end = window.end;
  return origin.x > end.x || origin.y > end.y || origin.z > end.z;
}

bool WindowInside(const RegionWindow& window, const C3DPoint& dimensions) {
  const C3DPoint& origin = window.origin;
  const C3DPoint& end = window.end;
  return !IsEmptyWindow(window) && origin.x >= 0 && origin.y >= 0 && origin.z >= 0 && end.x < dimensions.x &&
         end.y < dimensions.y && end.z < dimensions.z;
}

namespace {

// Integer square converted to float, as the parabola arithmetic takes it.
float SquareAsFloat(int value) {
  const std::int64_t v = value;
  return static_cast<float>(v * v);
}

}  // namespace

SquaredDistanceLine::SquaredDistanceLine(int maxLength)
    : m_parabolas(static_cast<std::size_t>(std::max(maxLength, 1))),
      m_bounds(static_cast<std::size_t>(std::max(maxLength, 1)) + 1) {}

void SquaredDistanceLine::Transform(const float* f, int n, float* d, float w2) {
  if (n <= 0 || static_cast<std::size_t>(n) > m_parabolas.size()) return;
  std::vector<int>& v = m_parabolas;
  std::vector<float>& b = m_bounds;

  // Where the parabola rooted at q overtakes the one rooted at p (p < q).
  // Multiplying by w2 = 1 changes no value, so unit steps give the unweighted result bit for bit.
  const auto intersection = [f, w2](int q, int p) {
    const std::int64_t twice = 2 * static_cast<std::int64_t>(q) - 2 * static_cast<std::int64_t>(p);
    return ((w2 * SquareAsFloat(q) + f[q]) - (w2 * SquareAsFloat(p) + f[p])) /
           (w2 * static_cast<float>(twice));
  };

  int k = 0;
  v[0] = 0;
  b[0] = -kFarAway;
  b[1] = kFarAway;
  for (int q = 1; q < n; ++q) {
    float s = intersection(q, v[k]);
    // s always lies above b[0]; the k > 0 test only guards the index.
    while (k > 0 && s <= b[k]) {
      --k;
      s = intersection(q, v[k]);
    }
    ++k;
    v[k] = q;
    b[k] = s;
    b[k + 1] = kFarAway;
  }

  k = 0;
  for (int q = 0; q < n; ++q) {
    while (b[k + 1] < static_cast<float>(q)) ++k;
    d[q] = w2 * SquareAsFloat(q - v[k]) + f[v[k]];
  }
}

void DistanceTransform(const CVoxel& mask, CFVoxel& map, const AxisLengths& lengths) {
  if (!mask.HasData()) return;
  if (map.X != mask.X || map.Y != mask.Y || map.Z != mask.Z || !map.HasData()) {
    map.X = mask.X;
    map.Y = mask.Y;
    map.Z = mask.Z;
    if (!map.Allocate()) return;
  }
  const int X = mask.X;
  const int Y = mask.Y;
  const int Z = mask.Z;
  if (X <= 0 || Y <= 0 || Z <= 0) return;

  for (std::size_t i = 0; i < mask.VoxelCount(); ++i) map[i] = mask[i] != 0 ? 0.0f : kFarAway;

  const auto squared = [](double length) { return static_cast<float>(length * length); };
  const float wx = squared(lengths.x);
  const float wy = squared(lengths.y);
  const float wz = squared(lengths.z);
  const int longest = std::max({X, Y, Z});
  SquaredDistanceLine line(longest);
  std::vector<float> in(static_cast<std::size_t>(longest));
  std::vector<float> out(static_cast<std::size_t>(longest));

  // Along z: x outer, y inner.
  for (int x = 0; x < X; ++x)
    for (int y = 0; y < Y; ++y) {
      for (int z = 0; z < Z; ++z) in[z] = map.At(x, y, z);
      line.Transform(in.data(), Z, out.data(), wz);
      for (int z = 0; z < Z; ++z) map.At(x, y, z) = out[z];
    }
  // Along y: z outer, x inner.
  for (int z = 0; z < Z; ++z)
    for (int x = 0; x < X; ++x) {
      for (int y = 0; y < Y; ++y) in[y] = map.At(x, y, z);
      line.Transform(in.data(), Y, out.data(), wy);
      for (int y = 0; y < Y; ++y) map.At(x, y, z) = out[y];
    }
  // Along x: y outer, z inner.
  for (int y = 0; y < Y; ++y)
    for (int z = 0; z < Z; ++z) {
      for (int x = 0; x < X; ++x) in[x] = map.At(x, y, z);
      line.Transform(in.data(), X, out.data(), wx);
      for (int x = 0; x < X; ++x) map.At(x, y, z) = out[x];
    }

  for (std::size_t i = 0; i < map.VoxelCount(); ++i) map[i] = std::sqrt(map[i]);
}

}  // namespace fusion

void ComputeDistanceMaps(const fusion::ScribbleRegionList& regions,
                         const fusion::CorrectionParameters& parameters, CFVoxelList& distanceMaps,
                         fusion::RegionWindowList& windows) {
  for (const fusion::ScribbleRegion& region : regions) {
    const fusion::RegionWindow window = fusion::WindowOf(region, parameters.neighbourhoodMargin);
    windows.push_back(window);
    if (fusion::IsEmptyWindow(window)) {
      distanceMaps.push_back(std::make_unique<CFVoxel>(C3DPoint{0, 0, 0}));
      continue;
    }
    // The region cut to its window: the mask of the distance transform.
    const C3DPoint& first = window.origin;
    const C3DPoint size = window.Size();
    CVoxel mask(size);
    if (!mask.HasData()) throw std::bad_alloc();
    for (int z = 0; z < size.z; ++z)
      for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x)
          mask.At(x, y, z) =
              static_cast<CVoxel::value_type>(region.At(first.x + x, first.y + y, first.z + z));
    auto map = std::make_unique<CFVoxel>(size);
    fusion::DistanceTransform(mask, *map, parameters.voxelLengths);
    distanceMaps.push_back(std::move(map));
  }
}
