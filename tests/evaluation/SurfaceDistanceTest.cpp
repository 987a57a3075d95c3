// The fast distances against a brute-force computation straight from the
// definitions, on random small masks with random anisotropic spacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "EvaluationTestVolumes.h"
#include "evaluation/Masks.h"
#include "evaluation/Metrics.h"
#include "evaluation/SurfaceDistance.h"

using namespace evaluation;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Voxel {
  int x, y, z;
};

// Boundary voxels by looking at the six neighbours one by one.
std::vector<Voxel> BruteBoundary(const CVoxel& v) {
  std::vector<Voxel> boundary;
  const int steps[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  for (int z = 0; z < v.Z; ++z)
    for (int y = 0; y < v.Y; ++y)
      for (int x = 0; x < v.X; ++x) {
        if (v.At(x, y, z) == 0) continue;
        bool onBoundary = false;
        for (const auto& s : steps) {
          const int nx = x + s[0], ny = y + s[1], nz = z + s[2];
          onBoundary = onBoundary || !v.Contains(nx, ny, nz) || v.At(nx, ny, nz) == 0;
        }
        if (onBoundary) boundary.push_back({x, y, z});
      }
  return boundary;
}

// Distance to the nearest voxel of `others`, trying every one of them.
double BruteDistance(const Voxel& p, const std::vector<Voxel>& others, const double s[3]) {
  double best = kInf;
  for (const Voxel& o : others) {
    const double dx = (p.x - o.x) * s[0], dy = (p.y - o.y) * s[1], dz = (p.z - o.z) * s[2];
    best = std::min(best, dz * dz + (dy * dy + dx * dx));
  }
  return std::sqrt(best);
}

// The region of slice z, straight from the definition: rank among the
// truth's slices by superior coordinate; below is apex, above is base; an
// empty slice inside the range follows the nearest occupied slice below it.
int BruteRegion(const CVoxel& truth, int z) {
  const auto superior = [&](int slice) {
    double p[3];
    truth.PhysicalPoint(0, 0, slice, p);
    return p[2];
  };
  std::vector<std::pair<double, int>> occupied;
  for (int k = 0; k < truth.Z; ++k) {
    bool any = false;
    for (int y = 0; y < truth.Y; ++y)
      for (int x = 0; x < truth.X; ++x) any = any || truth.At(x, y, k) != 0;
    if (any) occupied.push_back({superior(k), k});
  }
  std::sort(occupied.begin(), occupied.end());
  const int n = static_cast<int>(occupied.size());
  const double s = superior(z);
  if (s < occupied.front().first) return kApex;
  if (s > occupied.back().first) return kBase;
  int i = 0;
  while (i + 1 < n && occupied[i + 1].first <= s) ++i;  // the nearest occupied slice at or below
  return 3 * i < n ? kApex : (3 * i >= 2 * n ? kBase : kMid);
}

CVoxel RandomMask(std::mt19937& random, C3DPoint size, const double spacing[3], int kind) {
  CVoxel v = evaluation_test::Volume(size.x, size.y, size.z, static_cast<float>(spacing[0]),
                                     static_cast<float>(spacing[1]), static_cast<float>(spacing[2]));
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  if (kind == 0) {  // scattered voxels
    for (std::size_t i = 0; i < v.VoxelCount(); ++i) v[i] = unit(random) < 0.15;
  } else {  // a blob with ragged edges
    const double cx = unit(random) * size.x, cy = unit(random) * size.y, cz = unit(random) * size.z;
    const double r = 1.5 + unit(random) * 4.0;
    for (int z = 0; z < size.z; ++z)
      for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x) {
          const double d = std::hypot(x - cx, y - cy, z - cz);
          v.At(x, y, z) = d < r + unit(random) - 0.5;
        }
  }
  return v;
}

}  // namespace

TEST(SurfaceDistance, TransformMatchesBruteForceOnRandomSeeds) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> side(1, 11);
  std::uniform_real_distribution<double> step(0.2, 3.5);
  for (int trial = 0; trial < 60; ++trial) {
    const C3DPoint size(side(random), side(random), side(random));
    const double spacing[3] = {step(random), step(random), step(random)};
    std::vector<double> grid(static_cast<std::size_t>(size.x * size.y * size.z), kInf);
    std::vector<Voxel> seeds;
    std::bernoulli_distribution seed(trial % 3 == 0 ? 0.02 : 0.2);
    for (int z = 0; z < size.z; ++z)
      for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x)
          if (seed(random)) {
            seeds.push_back({x, y, z});
            grid[x + size.x * (y + size.y * z)] = 0.0;
          }
    SquaredDistanceTransform(grid, size, spacing);
    for (int z = 0; z < size.z; ++z)
      for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x) {
          const double expected = BruteDistance({x, y, z}, seeds, spacing);
          const double got = std::sqrt(grid[x + size.x * (y + size.y * z)]);
          if (seeds.empty())
            ASSERT_EQ(got, kInf);
          else
            ASSERT_NEAR(got, expected, 1e-9 * (1.0 + expected))
                << trial << " at " << x << "," << y << "," << z;
        }
  }
}

TEST(SurfaceDistance, PooledMeasuresMatchBruteForceOnRandomMasks) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> side(3, 12);
  std::uniform_real_distribution<double> step(0.3, 3.0);
  for (int trial = 0; trial < 80; ++trial) {
    const C3DPoint size(side(random), side(random), side(random));
    const double spacing[3] = {static_cast<float>(step(random)), static_cast<float>(step(random)),
                               static_cast<float>(step(random))};
    CVoxel truth = RandomMask(random, size, spacing, trial % 2);
    CVoxel segmentation = RandomMask(random, size, spacing, (trial / 2) % 2);
    if (trial % 5 == 0)
      for (CVoxel* v : {&truth, &segmentation}) v->direction[2][2] = v->direction[1][1] = -1.0;
    if (truth.CountNonZero() == 0) continue;

    // Brute force: boundaries, directed distances and their pools per region.
    const std::vector<Voxel> tb = BruteBoundary(truth), sb = BruteBoundary(segmentation);
    std::vector<double> pools[kRegionCount];
    for (const auto& [from, to] : {std::pair{&tb, &sb}, std::pair{&sb, &tb}})
      for (const Voxel& p : *from) {
        const double d = BruteDistance(p, *to, spacing);
        pools[kWhole].push_back(d);
        pools[BruteRegion(truth, p.z)].push_back(d);
      }

    const CaseMetrics fast = Evaluate(truth, segmentation);
    // Overlap per region, voxel by voxel.
    std::int64_t inTruth[kRegionCount] = {}, inSegmentation[kRegionCount] = {}, inBoth[kRegionCount] = {};
    for (int z = 0; z < size.z; ++z)
      for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x)
          for (int r : {static_cast<int>(kWhole), BruteRegion(truth, z)}) {
            const bool t = truth.At(x, y, z) != 0, s = segmentation.At(x, y, z) != 0;
            inTruth[r] += t;
            inSegmentation[r] += s;
            inBoth[r] += t && s;
          }
    for (int r = 0; r < kRegionCount; ++r) {
      const std::int64_t sum = inTruth[r] + inSegmentation[r];
      EXPECT_DOUBLE_EQ(fast[r][kDice], sum == 0 ? 1.0 : 2.0 * inBoth[r] / static_cast<double>(sum));
      EXPECT_DOUBLE_EQ(fast[r][kSegmentationMl],
                       inSegmentation[r] * (spacing[0] * spacing[1] * spacing[2]) / 1000.0);
    }
    for (int r = 0; r < kRegionCount; ++r) {
      std::vector<double>& pool = pools[r];
      std::sort(pool.begin(), pool.end());
      const MetricValues& m = fast[r];
      const std::string where = "trial " + std::to_string(trial) + " region " + kRegionNames[r];
      if (pool.empty()) {
        EXPECT_EQ(m[kHdMm], 0.0) << where;
        EXPECT_EQ(m[kSurfaceDice1mm], 1.0) << where;
        continue;
      }
      double sum = 0.0;
      for (double d : pool) sum += d;
      const std::size_t n = pool.size();
      const std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n) - 1e-9));
      const auto share = [&](double t) {
        return static_cast<double>(
                   std::count_if(pool.begin(), pool.end(), [t](double d) { return d <= t; })) /
               static_cast<double>(n);
      };
      EXPECT_NEAR(m[kAbdMm], sum / static_cast<double>(n), 1e-9) << where;
      EXPECT_NEAR(m[kHdMm], pool.back(), 1e-9) << where;
      EXPECT_NEAR(m[kHd95Mm], pool[rank - 1], 1e-9) << where;
      EXPECT_EQ(m[kSurfaceDice1mm], share(1.0)) << where;
      EXPECT_EQ(m[kSurfaceDice2mm], share(2.0)) << where;
    }
  }
}

TEST(SurfaceDistance, BoundaryVoxelsAreTheFaceExposedOnes) {
  // A 3x3x3 block in the corner of a 4x4x4 volume: every voxel but the inner
  // one (1,1,1) is exposed, the block's own corner through the volume's faces.
  CVoxel v = evaluation_test::Volume(4, 4, 4);
  evaluation_test::Fill(v, {0, 0, 0}, {2, 2, 2});
  const std::vector<std::size_t> boundary = BoundaryVoxels(MakeMask(v, Foreground{}));
  EXPECT_EQ(boundary.size(), 26u);
  EXPECT_EQ(std::count(boundary.begin(), boundary.end(), v.Index(1, 1, 1)), 0);
  EXPECT_EQ(boundary.size(), BruteBoundary(v).size());
}

TEST(SurfaceDistance, NoSeedsMeansInfinitelyFar) {
  const double spacing[3] = {1.0, 1.0, 1.0};
  const std::vector<double> d = NearestSeedDistances({}, {0, 5, 7}, C3DPoint(4, 4, 4), spacing);
  ASSERT_EQ(d.size(), 3u);
  for (double v : d) EXPECT_EQ(v, kInf);
  EXPECT_TRUE(NearestSeedDistances({3}, {}, C3DPoint(4, 4, 4), spacing).empty());
}
