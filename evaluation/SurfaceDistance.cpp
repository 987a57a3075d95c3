#include "evaluation/SurfaceDistance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "evaluation/Masks.h"

namespace evaluation {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One-dimensional squared distance transform with sample distance w:
// d[q] = min over p of ((q - p) w)² + f[p]. Infinite f[p] (no seed reached
// this sample yet) take no part in the envelope; a line without any finite
// value stays infinite.
class EnvelopeLine {
 public:
  explicit EnvelopeLine(int maxLength)
      : m_parabolas(static_cast<std::size_t>(std::max(maxLength, 1))),
        m_bounds(static_cast<std::size_t>(std::max(maxLength, 1)) + 1) {}

  void Transform(const double* f, int n, double w, double* d) {
    int* v = m_parabolas.data();
    double* b = m_bounds.data();
    const double w2 = w * w;
    int k = -1;
    for (int q = 0; q < n; ++q) {
      if (!(f[q] < kInfinity)) continue;
      if (k < 0) {
        k = 0;
        v[0] = q;
        b[0] = -kInfinity;
        b[1] = kInfinity;
        continue;
      }
      double s = 0.0;
      for (;;) {
        // Where the parabola rooted at q overtakes the one rooted at p (in samples).
        const int p = v[k];
        const double squares =
            static_cast<double>(static_cast<std::int64_t>(q) * q - static_cast<std::int64_t>(p) * p);
        s = ((f[q] - f[p]) / w2 + squares) / (2.0 * static_cast<double>(q - p));
        if (s > b[k]) break;
        --k;  // b[0] is -infinity, so k never drops below 0
      }
      ++k;
      v[k] = q;
      b[k] = s;
      b[k + 1] = kInfinity;
    }
    if (k < 0) {
      std::fill(d, d + n, kInfinity);
      return;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
      while (b[k + 1] < static_cast<double>(q)) ++k;
      const double t = static_cast<double>(q - v[k]) * w;
      d[q] = t * t + f[v[k]];
    }
  }

 private:
  std::vector<int> m_parabolas;
  std::vector<double> m_bounds;
};

}  // namespace

void SquaredDistanceTransform(std::vector<double>& grid, const C3DPoint& size, const double spacing[3]) {
  if (size.x <= 0 || size.y <= 0 || size.z <= 0) return;
  const std::size_t X = static_cast<std::size_t>(size.x), Y = static_cast<std::size_t>(size.y),
                    Z = static_cast<std::size_t>(size.z);
  const int longest = std::max({size.x, size.y, size.z});
  EnvelopeLine line(longest);
  std::vector<double> in(static_cast<std::size_t>(longest)), out(static_cast<std::size_t>(longest));

  // Along x: rows are contiguous.
  for (std::size_t r = 0; r < Y * Z; ++r) {
    double* row = grid.data() + r * X;
    line.Transform(row, size.x, spacing[0], out.data());
    std::copy(out.begin(), out.begin() + size.x, row);
  }
  // Along y, then along z: lines are gathered into a scratch array.
  const auto strided = [&](std::size_t start, std::size_t stride, int n, double w) {
    for (int i = 0; i < n; ++i)
      in[static_cast<std::size_t>(i)] = grid[start + stride * static_cast<std::size_t>(i)];
    line.Transform(in.data(), n, w, out.data());
    for (int i = 0; i < n; ++i)
      grid[start + stride * static_cast<std::size_t>(i)] = out[static_cast<std::size_t>(i)];
  };
  for (std::size_t z = 0; z < Z; ++z)
    for (std::size_t x = 0; x < X; ++x) strided(x + X * Y * z, X, size.y, spacing[1]);
  for (std::size_t y = 0; y < Y; ++y)
    for (std::size_t x = 0; x < X; ++x) strided(x + X * y, X * Y, size.z, spacing[2]);
}

std::vector<double> NearestSeedDistances(const std::vector<std::size_t>& seeds,
                                         const std::vector<std::size_t>& queries, const C3DPoint& volumeSize,
                                         const double spacing[3]) {
  std::vector<double> distances(queries.size(), kInfinity);
  if (seeds.empty() || queries.empty()) return distances;
  const std::size_t X = static_cast<std::size_t>(volumeSize.x),
                    XY = X * static_cast<std::size_t>(volumeSize.y);
  const auto position = [&](std::size_t i) {
    return C3DPoint(static_cast<int>(i % X), static_cast<int>((i % XY) / X), static_cast<int>(i / XY));
  };
  VoxelBox box;
  for (const std::vector<std::size_t>* set : {&seeds, &queries})
    for (std::size_t i : *set) {
      const C3DPoint p = position(i);
      box.Add(p.x, p.y, p.z);
    }
  const C3DPoint size = box.last - box.first + 1;
  const std::size_t bx = static_cast<std::size_t>(size.x), bxy = bx * static_cast<std::size_t>(size.y);
  const auto inBox = [&](std::size_t i) {
    const C3DPoint p = position(i) - box.first;
    return static_cast<std::size_t>(p.x) + bx * static_cast<std::size_t>(p.y) +
           bxy * static_cast<std::size_t>(p.z);
  };
  std::vector<double> grid(bxy * static_cast<std::size_t>(size.z), kInfinity);
  for (std::size_t i : seeds) grid[inBox(i)] = 0.0;
  SquaredDistanceTransform(grid, size, spacing);
  for (std::size_t k = 0; k < queries.size(); ++k) distances[k] = std::sqrt(grid[inBox(queries[k])]);
  return distances;
}

}  // namespace evaluation
