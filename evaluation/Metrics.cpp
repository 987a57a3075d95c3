#include "evaluation/Metrics.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <numeric>

#include "evaluation/SurfaceDistance.h"

namespace evaluation {

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

std::string SizeText(const CVoxel& v) {
  return std::to_string(v.X) + "x" + std::to_string(v.Y) + "x" + std::to_string(v.Z);
}

std::string GeometryText(const CVoxel& v) {
  char text[400];
  std::snprintf(text, sizeof text, "spacing %g %g %g, origin %g %g %g, direction %g %g %g %g %g %g %g %g %g",
                v.SpacingOrUnit(0), v.SpacingOrUnit(1), v.SpacingOrUnit(2), v.OriginOrZero(0),
                v.OriginOrZero(1), v.OriginOrZero(2), v.direction[0][0], v.direction[1][0], v.direction[2][0],
                v.direction[0][1], v.direction[1][1], v.direction[2][1], v.direction[0][2], v.direction[1][2],
                v.direction[2][2]);
  return text;
}

double Dice(std::int64_t both, std::int64_t a, std::int64_t b) {
  return a + b == 0 ? 1.0 : 2.0 * static_cast<double>(both) / static_cast<double>(a + b);
}

double Jaccard(std::int64_t both, std::int64_t a, std::int64_t b) {
  const std::int64_t either = a + b - both;
  return either == 0 ? 1.0 : static_cast<double>(both) / static_cast<double>(either);
}

}  // namespace

std::string GeometryMismatch(const CVoxel& truth, const CVoxel& segmentation) {
  if (!truth.SameSize(segmentation))
    return "the sizes differ (truth " + SizeText(truth) + ", segmentation " + SizeText(segmentation) + ")";
  if (!SameGeometry(truth, segmentation, 1e-4, 1e-3, 1e-4))
    return "the volumes lie in different places (truth " + GeometryText(truth) + "; segmentation " +
           GeometryText(segmentation) + ")";
  return "";
}

std::vector<int> SliceRegions(const CVoxel& geometry, const std::vector<std::int64_t>& truthPerSlice) {
  const int Z = static_cast<int>(truthPerSlice.size());
  const int occupied = static_cast<int>(
      std::count_if(truthPerSlice.begin(), truthPerSlice.end(), [](auto n) { return n > 0; }));
  if (occupied == 0) return {};

  // Slices from inferior to superior; the z axis may point either way.
  std::vector<double> superior(static_cast<std::size_t>(Z));
  for (int z = 0; z < Z; ++z) {
    double p[3];
    geometry.PhysicalPoint(0.0, 0.0, z, p);
    superior[static_cast<std::size_t>(z)] = p[2];
  }
  std::vector<int> order(static_cast<std::size_t>(Z));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return superior[static_cast<std::size_t>(a)] < superior[static_cast<std::size_t>(b)];
  });

  std::vector<int> regions(static_cast<std::size_t>(Z), kBase);
  int seen = 0;         // occupied slices passed so far
  int current = kApex;  // below the truth: apex
  for (int z : order) {
    if (truthPerSlice[static_cast<std::size_t>(z)] > 0) {
      const int i = seen++;
      current = 3 * i < occupied ? kApex : (3 * i >= 2 * occupied ? kBase : kMid);
      regions[static_cast<std::size_t>(z)] = current;
    } else {
      regions[static_cast<std::size_t>(z)] = seen == occupied ? kBase : current;
    }
  }
  return regions;
}

void PoolDistances(std::vector<double>& pool, MetricValues& values) {
  if (pool.empty()) {
    values[kAbdMm] = values[kHd95Mm] = values[kHdMm] = 0.0;
    values[kSurfaceDice1mm] = values[kSurfaceDice2mm] = 1.0;
    return;
  }
  double sum = 0.0, largest = 0.0;
  std::size_t within1 = 0, within2 = 0;
  for (double d : pool) {
    sum += d;
    largest = std::max(largest, d);
    within1 += d <= 1.0;
    within2 += d <= 2.0;
  }
  const double n = static_cast<double>(pool.size());
  values[kAbdMm] = sum / n;
  values[kHdMm] = largest;
  // Nearest rank: the ceil(0.95 n)-th smallest, counted from 1.
  const std::size_t rank = (95 * pool.size() + 99) / 100;
  std::nth_element(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(rank - 1), pool.end());
  values[kHd95Mm] = pool[rank - 1];
  values[kSurfaceDice1mm] = static_cast<double>(within1) / n;
  values[kSurfaceDice2mm] = static_cast<double>(within2) / n;
}

CaseMetrics Evaluate(const CVoxel& truth, const CVoxel& segmentation, const Foreground& foreground) {
  if (!truth.SameSize(segmentation) || !truth.HasData() || !segmentation.HasData()) {
    CaseMetrics undefined;
    for (MetricValues& m : undefined) m.fill(kNan);
    return undefined;
  }
  const Mask t = MakeMask(truth, foreground);
  const Mask s = MakeMask(segmentation, foreground);
  const std::vector<std::int64_t> both = OverlapPerSlice(t, s);
  const std::vector<int> regionOf = SliceRegions(truth, t.perSlice);
  const double spacing[3] = {truth.SpacingOrUnit(0), truth.SpacingOrUnit(1), truth.SpacingOrUnit(2)};
  const double voxelVolume = spacing[0] * spacing[1] * spacing[2];

  std::array<std::int64_t, kRegionCount> inTruth{}, inSegmentation{}, inBoth{};
  for (std::size_t z = 0; z < t.perSlice.size(); ++z)
    for (int r : {static_cast<int>(kWhole), regionOf.empty() ? -1 : regionOf[z]}) {
      if (r < 0) continue;
      inTruth[r] += t.perSlice[z];
      inSegmentation[r] += s.perSlice[z];
      inBoth[r] += both[z];
    }

  CaseMetrics metrics{};
  for (int r = 0; r < kRegionCount; ++r) {
    MetricValues& m = metrics[r];
    m[kDice] = Dice(inBoth[r], inTruth[r], inSegmentation[r]);
    m[kJaccard] = Jaccard(inBoth[r], inTruth[r], inSegmentation[r]);
    m[kTruthMl] = static_cast<double>(inTruth[r]) * voxelVolume / 1000.0;
    m[kSegmentationMl] = static_cast<double>(inSegmentation[r]) * voxelVolume / 1000.0;
    m[kRvdPercent] = inTruth[r] == 0 ? kNan
                                     : 100.0 * static_cast<double>(inSegmentation[r] - inTruth[r]) /
                                           static_cast<double>(inTruth[r]);
  }

  const std::vector<std::size_t> truthBoundary = BoundaryVoxels(t);
  const std::vector<std::size_t> segmentationBoundary = BoundaryVoxels(s);
  const C3DPoint size = truth.Size();
  const std::vector<double> fromTruth =
      NearestSeedDistances(segmentationBoundary, truthBoundary, size, spacing);
  const std::vector<double> fromSegmentation =
      NearestSeedDistances(truthBoundary, segmentationBoundary, size, spacing);
  std::array<std::vector<double>, kRegionCount> pools;
  const std::size_t slice = static_cast<std::size_t>(size.x) * static_cast<std::size_t>(size.y);
  const auto add = [&](const std::vector<std::size_t>& voxels, const std::vector<double>& distances) {
    for (std::size_t k = 0; k < voxels.size(); ++k) {
      pools[kWhole].push_back(distances[k]);
      if (!regionOf.empty()) pools[regionOf[voxels[k] / slice]].push_back(distances[k]);
    }
  };
  add(truthBoundary, fromTruth);
  add(segmentationBoundary, fromSegmentation);
  for (int r = 0; r < kRegionCount; ++r) PoolDistances(pools[r], metrics[r]);

  if (regionOf.empty())
    for (int r = kApex; r < kRegionCount; ++r) metrics[r].fill(kNan);
  return metrics;
}

double Dice(const CVoxel& a, const CVoxel& b) {
  if (!a.SameSize(b)) return kNan;
  const Mask ma = MakeMask(a, Foreground{});
  const Mask mb = MakeMask(b, Foreground{});
  const std::vector<std::int64_t> both = OverlapPerSlice(ma, mb);
  return Dice(std::accumulate(both.begin(), both.end(), std::int64_t{0}), ma.Count(), mb.Count());
}

}  // namespace evaluation
