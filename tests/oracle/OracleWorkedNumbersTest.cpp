// The oracle checked against hand-computed values: if the reference is wrong,
// every equality test against it is worthless.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "tests/oracle/Oracle.h"

namespace {

using oracle::Matrix4;

CVoxel Volume(int X, int Y, int Z, std::initializer_list<C3DPoint> on, int value = 1) {
  CVoxel v(X, Y, Z);
  for (const C3DPoint& p : on) v.At(p.x, p.y, p.z) = static_cast<CVoxel::value_type>(value);
  return v;
}

CVoxel Ball(int X, int Y, int Z, double cx, double cy, double cz, double r) {
  CVoxel v(X, Y, Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz) <= r * r) v.At(x, y, z) = 1;
  return v;
}

bool Equal(const CVoxel& a, const CVoxel& b) {
  if (!a.SameSize(b)) return false;
  for (std::size_t i = 0; i < a.VoxelCount(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

TEST(OracleGeometry, BoundingBoxAtBothCornersAndWhenEmpty) {
  C3DPoint lo, hi;
  oracle::EnlargedBoundingBox(Volume(100, 100, 40, {{0, 0, 0}}), {20, 20, 20}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(0, 0, 0));
  EXPECT_EQ(hi, C3DPoint(20, 20, 20));
  oracle::EnlargedBoundingBox(Volume(100, 100, 40, {{99, 99, 39}}), {20, 20, 20}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(79, 79, 19));
  EXPECT_EQ(hi, C3DPoint(99, 99, 39));
  // Negative voxels do not count; an empty label gives the inverted box.
  oracle::EnlargedBoundingBox(Volume(10, 10, 10, {{5, 5, 5}}, -1), {20, 20, 20}, lo, hi);
  EXPECT_EQ(lo, C3DPoint(2147483627, 2147483627, 2147483627));
  EXPECT_EQ(hi, C3DPoint(-2147483627, -2147483627, -2147483627));
}

TEST(OracleGeometry, CentroidRoundsHalfUpCountsNegativesAndKeepsFallback) {
  C3DPoint c;
  oracle::Centroid(Volume(4, 1, 1, {{0, 0, 0}, {1, 0, 0}}), c);
  EXPECT_EQ(c.x, 1);
  CVoxel mixed = Volume(8, 1, 1, {{0, 0, 0}});
  mixed.At(4, 0, 0) = -3;
  oracle::Centroid(mixed, c);
  EXPECT_EQ(c.x, 2);
  C3DPoint fallback(7, 8, 9);
  oracle::Centroid(CVoxel(5, 5, 5), fallback);
  EXPECT_EQ(fallback, C3DPoint(7, 8, 9));
}

TEST(OracleGeometry, CentroidSumsInSinglePrecision) {
  // Two full rows of 5000 voxels: the exact mean x is 2499.5 (rounds to 2500),
  // but the float sum in scan order falls short and the centroid is 2499.
  CVoxel rows(5000, 2, 1);
  for (std::size_t i = 0; i < rows.VoxelCount(); ++i) rows[i] = 1;
  C3DPoint c;
  oracle::Centroid(rows, c);
  EXPECT_EQ(c.x, 2499);
  EXPECT_EQ(c.y, 1);
  EXPECT_EQ(c.z, 0);
}

TEST(OracleGeometry, CropThresholdAndCopyBox) {
  CVoxel source(10, 10, 10);
  source.origin[0] = 3.5f;
  source.At(9, 9, 9) = 7;
  auto edge = oracle::Crop(source, {5, 5, 5}, {5, 5, 5});
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->At(4, 4, 4), 7);
  EXPECT_EQ(edge->origin[0], 3.5f);
  EXPECT_FALSE(oracle::Crop(source, {10, 0, 0}, {1, 1, 1}));
  EXPECT_FALSE(oracle::Crop(source, {5, 5, 5}, {6, 5, 5}));

  CFVoxel p(3, 1, 1);
  p[0] = 0.5f;
  p[1] = 0.49999f;
  p[2] = std::numeric_limits<float>::quiet_NaN();
  auto t = oracle::Threshold(p, 0.5);
  EXPECT_EQ((*t)[0], 1);
  EXPECT_EQ((*t)[1], 0);
  EXPECT_EQ((*t)[2], 0);

  CVoxel destination(4, 4, 1);
  CVoxel ones(4, 4, 1);
  for (std::size_t i = 0; i < ones.VoxelCount(); ++i) ones[i] = 1;
  oracle::CopyBox(destination, {2, 2, 0}, {5, 5, 0}, ones);
  EXPECT_EQ(destination.CountNonZero(), 4);
  EXPECT_EQ(destination.At(3, 3, 0), 1);
  EXPECT_EQ(destination.At(1, 1, 0), 0);
}

TEST(OracleBoundary, CubeFullVolumeAndTouchingLabels) {
  CVoxel cube(5, 5, 5);
  for (int z = 1; z <= 3; ++z)
    for (int y = 1; y <= 3; ++y)
      for (int x = 1; x <= 3; ++x) cube.At(x, y, z) = 1;
  const auto points = oracle::BoundaryPoints(cube);
  ASSERT_EQ(points.size(), 26u);
  EXPECT_EQ(points.front(), C3DPoint(1, 1, 1));
  EXPECT_EQ(points[13], C3DPoint(3, 2, 2));  // the centre (2, 2, 2) is skipped
  EXPECT_EQ(points.back(), C3DPoint(3, 3, 3));
  EXPECT_TRUE(Equal(*oracle::Rasterise(points, 5, 5, 5), [&] {
    CVoxel shell(cube);
    shell.At(2, 2, 2) = 0;
    return shell;
  }()));

  CVoxel full(3, 3, 3);
  for (std::size_t i = 0; i < full.VoxelCount(); ++i) full[i] = 1;
  EXPECT_TRUE(oracle::BoundaryPoints(full).empty());

  CVoxel pair = Volume(2, 1, 1, {{0, 0, 0}});
  pair.At(1, 0, 0) = 2;
  EXPECT_EQ(oracle::BoundaryPoints(pair).size(), 2u);
}

TEST(OracleSeedComponent, EdgeContactSeparatesAndSeedIsAlwaysSet) {
  // Two blobs that share only an edge.
  CVoxel label = Volume(6, 6, 1, {{1, 1, 0}, {2, 1, 0}, {3, 2, 0}, {4, 2, 0}});
  auto kept = oracle::KeepSeedComponent(label, {1, 1, 0});
  EXPECT_EQ(kept->CountNonZero(), 2);
  EXPECT_EQ(kept->At(3, 2, 0), 0);

  // A seed on a hole of a ring: the seed plus the ring reached from it.
  CVoxel ring(5, 5, 1);
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 3; ++x) ring.At(x, y, 0) = (x == 2 && y == 2) ? 0 : 1;
  EXPECT_EQ(oracle::KeepSeedComponent(ring, {2, 2, 0})->CountNonZero(), 9);
  auto alone = oracle::KeepSeedComponent(ring, {0, 4, 0});
  EXPECT_EQ(alone->CountNonZero(), 1);
  EXPECT_EQ(alone->At(0, 4, 0), 1);
  // A seed outside the volume is never read or written.
  EXPECT_EQ(oracle::KeepSeedComponent(ring, {5, 0, 0})->CountNonZero(), 0);
}

TEST(OracleRegistration, SelfRegistrationIsIdentityAndShiftIsRecovered) {
  const CVoxel segmentation = Ball(30, 30, 20, 14.0, 15.0, 9.0, 6.5);
  const auto targetPoints = oracle::BoundaryPoints(segmentation);
  const Matrix4 self = oracle::RegisterSurfaces(targetPoints, targetPoints, 100, 2);
  const Matrix4 identity = oracle::IdentityMatrix();
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(self[i], identity[i], 1e-9) << i;
  EXPECT_TRUE(Equal(*oracle::ResampleByMatrix(segmentation, self, 30, 30, 20), segmentation));

  const CVoxel shifted = Ball(30, 30, 20, 17.0, 15.0, 9.0, 6.5);
  const Matrix4 m = oracle::RegisterSurfaces(oracle::BoundaryPoints(shifted), targetPoints, 100, 2);
  EXPECT_NEAR(m[3], -3.0, 1e-6);
  EXPECT_NEAR(m[7], 0.0, 1e-6);
  EXPECT_NEAR(m[11], 0.0, 1e-6);
  EXPECT_NEAR(m[15], 1.0, 1e-12);
  EXPECT_TRUE(Equal(*oracle::ResampleByMatrix(shifted, m, 30, 30, 20), segmentation));
  // Empty lists give the identity.
  EXPECT_EQ(oracle::RegisterSurfaces({}, targetPoints, 100, 2), identity);
}

TEST(OracleRegistration, ResamplingRoundsHalfUpAndOutputTakesRequestedSize) {
  CVoxel ramp(8, 1, 1);
  for (int x = 0; x < 8; ++x) ramp.At(x, 0, 0) = static_cast<CVoxel::value_type>(x + 1);
  auto shift = [](double t) {
    Matrix4 m = oracle::IdentityMatrix();
    m[3] = t;  // target x = source x + t, so the pre-image of x is x - t
    return m;
  };
  EXPECT_EQ(oracle::ResampleByMatrix(ramp, shift(-4.5), 3, 2, 1)->At(0, 0, 0), 6);  // 4.5 -> 5
  EXPECT_EQ(oracle::ResampleByMatrix(ramp, shift(0.5), 3, 2, 1)->At(0, 0, 0), 1);   // -0.5 -> 0
  EXPECT_EQ(oracle::ResampleByMatrix(ramp, shift(0.6), 3, 2, 1)->At(0, 0, 0), 0);   // -0.6 -> -1
  auto out = oracle::ResampleByMatrix(ramp, shift(0.0), 3, 2, 1);
  EXPECT_EQ(out->Size(), C3DPoint(3, 2, 1));
  EXPECT_EQ(out->At(2, 0, 0), 3);
  EXPECT_EQ(out->At(2, 1, 0), 0);
}

// ---- Regions --------------------------------------------------------------------

struct Regions {
  CVoxelList list;
  int foreground = 0;
  int background = 0;
};

Regions Extract(const CVoxel& map, const CVoxel& segmentation, double pairDistance, C3DPoint margin) {
  Regions r;
  oracle::ExtractScribbleRegions(map, segmentation, 2, 3, pairDistance, margin, r.list, r.foreground,
                                 r.background);
  return r;
}

TEST(OracleRegions, AgreeingScribblesGiveNothingAndContradictingDotsGiveRegions) {
  CVoxel segmentation = Volume(10, 10, 3, {{2, 2, 1}, {3, 2, 1}});
  CVoxel map = Volume(10, 10, 3, {{2, 2, 1}});  // foreground inside
  map.At(8, 8, 1) = 3;                          // background outside
  EXPECT_TRUE(Extract(map, segmentation, 40.0, {18, 18, 6}).list.empty());

  map.At(3, 2, 1) = 3;  // background inside: contradicts
  map.At(7, 7, 0) = 2;  // foreground outside: contradicts
  Regions r = Extract(map, segmentation, 40.0, {18, 18, 6});
  ASSERT_EQ(r.list.size(), 2u);
  EXPECT_EQ(r.foreground, 1);
  EXPECT_EQ(r.background, 1);
  EXPECT_EQ(r.list[0]->At(7, 7, 0), 2);  // foreground first
  EXPECT_EQ(r.list[1]->At(3, 2, 1), 3);
  EXPECT_EQ(r.list[0]->CountNonZero() + r.list[1]->CountNonZero(), 2);
}

TEST(OracleRegions, EdgeNeighboursAreTwoComponentsAndTheirUnionIsKeptOnce) {
  CVoxel map = Volume(10, 10, 3, {{5, 5, 1}, {6, 6, 1}}, 2);
  Regions r = Extract(map, CVoxel(10, 10, 3), 40.0, {18, 18, 6});
  // Two components, their pair union; both neighbourhood unions equal it.
  ASSERT_EQ(r.list.size(), 3u);
  EXPECT_EQ(r.list[0]->CountNonZero(), 1);
  EXPECT_EQ(r.list[1]->CountNonZero(), 1);
  EXPECT_EQ(r.list[2]->CountNonZero(), 2);
}

TEST(OracleRegions, PairRuleSlicesAndStrictDistance) {
  auto count = [](C3DPoint a, C3DPoint b) {
    CVoxel map(60, 4, 8);
    map.At(a.x, a.y, a.z) = 3;
    map.At(b.x, b.y, b.z) = 3;
    CVoxel segmentation(60, 4, 8);
    for (std::size_t i = 0; i < segmentation.VoxelCount(); ++i) segmentation[i] = 1;
    return Extract(map, segmentation, 40.0, {0, 0, 0}).background;
  };
  EXPECT_EQ(count({0, 0, 0}, {1, 0, 4}), 2);   // 4 slices apart: never
  EXPECT_EQ(count({0, 0, 0}, {38, 0, 3}), 3);  // 1444 + 81 < 1600
  EXPECT_EQ(count({0, 0, 0}, {39, 0, 3}), 2);  // 1521 + 81 >= 1600
  EXPECT_EQ(count({0, 0, 0}, {40, 0, 0}), 2);  // exactly 40: strict
  EXPECT_EQ(count({0, 0, 0}, {39, 0, 0}), 3);
}

TEST(OracleRegions, NeighbourhoodUnionKeepsOnlyTheLastTouchingComponent) {
  // Three dots far enough apart for no pair union, all inside each other's boxes.
  CVoxel map = Volume(20, 5, 1, {{0, 0, 0}, {5, 0, 0}, {10, 0, 0}}, 2);
  Regions r = Extract(map, CVoxel(20, 5, 1), 1.0, {18, 18, 6});
  ASSERT_EQ(r.list.size(), 5u);
  EXPECT_EQ(r.foreground, 5);
  const CVoxel& first = *r.list[3];
  EXPECT_EQ(first.CountNonZero(), 2);
  EXPECT_EQ(first.At(0, 0, 0), 2);
  EXPECT_EQ(first.At(10, 0, 0), 2);
  const CVoxel& second = *r.list[4];
  EXPECT_EQ(second.CountNonZero(), 2);
  EXPECT_EQ(second.At(5, 0, 0), 2);
  EXPECT_EQ(second.At(10, 0, 0), 2);
}

// ---- Distance maps --------------------------------------------------------------

TEST(OracleDistance, OneDimensionalTransform) {
  const float big = FLT_MAX;
  const float f[5] = {big, 0.0f, big, big, 0.0f};
  float d[5];
  oracle::DistanceTransform1D(f, 5, d);
  EXPECT_EQ(d[0], 1.0f);
  EXPECT_EQ(d[1], 0.0f);
  EXPECT_EQ(d[2], 1.0f);
  EXPECT_EQ(d[3], 1.0f);
  EXPECT_EQ(d[4], 0.0f);
  const float none[3] = {big, big, big};
  oracle::DistanceTransform1D(none, 3, d);
  EXPECT_EQ(d[0], big);
  EXPECT_EQ(d[2], big);
}

TEST(OracleDistance, SingleVoxelWindowAndValues) {
  CVoxelList regions;
  regions.push_back(std::make_unique<CVoxel>(Volume(60, 60, 30, {{30, 30, 15}}, 2)));
  regions.push_back(std::make_unique<CVoxel>(Volume(60, 60, 30, {{0, 30, 15}}, 2)));
  CFVoxelList maps;
  CPointArray origins, ends;
  oracle::ComputeDistanceMaps(regions, {18, 18, 6}, maps, origins, ends);
  ASSERT_EQ(maps.size(), 2u);
  const CFVoxel& m = *maps[0];
  EXPECT_EQ(m.Size(), C3DPoint(37, 37, 13));
  EXPECT_EQ(origins[0], C3DPoint(12, 12, 9));
  EXPECT_EQ(ends[0], C3DPoint(48, 48, 21));
  EXPECT_EQ(m.At(18, 18, 6), 0.0f);
  EXPECT_EQ(m.At(19, 18, 6), 1.0f);
  EXPECT_EQ(m.At(18, 18, 7), 1.0f);
  EXPECT_EQ(m.At(19, 19, 6), std::sqrt(2.0f));
  EXPECT_EQ(m.At(19, 19, 7), std::sqrt(3.0f));
  EXPECT_EQ(m.At(0, 18, 6), 18.0f);
  EXPECT_EQ(m.At(36, 18, 6), 18.0f);
  EXPECT_EQ(m.At(18, 18, 12), 6.0f);  // isotropic: 6 slices away is 6
  EXPECT_EQ(origins[1].x, 0);
  EXPECT_EQ(maps[1]->X, 19);
}

// ---- Probability maps -----------------------------------------------------------

TEST(OracleProbability, QuicksortTieBreaking) {
  std::vector<double> equal{1.0, 1.0, 1.0};
  std::vector<int> equalIndex{0, 1, 2};
  oracle::DescendingPairSort(equal, equalIndex, 0, 2);
  EXPECT_EQ(equalIndex, (std::vector<int>{0, 1, 2}));

  std::vector<double> value{1.0, 1.0, 0.5, 2.0};
  std::vector<int> index{0, 1, 2, 3};
  oracle::DescendingPairSort(value, index, 0, 3);
  EXPECT_EQ(index, (std::vector<int>{3, 1, 0, 2}));
  EXPECT_EQ(value, (std::vector<double>{2.0, 1.0, 1.0, 0.5}));

  std::vector<double> low{0.5, 1.0, 1.0};
  std::vector<int> lowIndex{0, 1, 2};
  oracle::DescendingPairSort(low, lowIndex, 0, 2);
  EXPECT_EQ(lowIndex, (std::vector<int>{1, 2, 0}));
}

TEST(OracleProbability, AgreementWeightsAndReferenceEdge) {
  // Window of four voxels: own scribble, other foreground, other background, unscribbled.
  CVoxel region(4, 1, 1);
  region[0] = 2;
  region[1] = 4;
  region[2] = 5;
  CVoxel segmentation(4, 1, 1);
  segmentation[3] = 1;
  CVoxel inside(4, 1, 1);
  for (std::size_t i = 0; i < 4; ++i) inside[i] = 1;
  const double all = oracle::AgreementScore(segmentation, region, 2, 3, 5, {0, 0, 0}, inside, {0, 0, 0},
                                            {0, 0, 0}, {4, 1, 1}, 0.005, 0.1);
  EXPECT_EQ(all, ((1.0 + 0.1) - 0.1) + 0.005);
  // Shifted by two, the last two voxels fall outside the reference volume.
  const double shifted = oracle::AgreementScore(segmentation, region, 2, 3, 5, {0, 0, 0}, inside, {0, 0, 0},
                                                {2, 0, 0}, {4, 1, 1}, 0.005, 0.1);
  EXPECT_EQ(shifted, ((1.0 + 0.1) + 0.1) - 0.005);
}

// Probability maps of one foreground dot voted on by balls of different radii.
CFVoxelList VoteMaps(int references) {
  const CVoxel segmentation = Ball(24, 24, 10, 12.0, 12.0, 5.0, 5.0);
  CVoxel map(24, 24, 10);
  map.At(18, 12, 5) = 2;
  CVoxelList regions;
  int f = 0, g = 0;
  oracle::ExtractScribbleRegions(map, segmentation, 2, 3, 40.0, {3, 3, 2}, regions, f, g);
  CFVoxelList distance;
  CPointArray origins, ends;
  oracle::ComputeDistanceMaps(regions, {3, 3, 2}, distance, origins, ends);
  CVoxelList registered;
  for (int r = 0; r < references; ++r)
    registered.push_back(std::make_unique<CVoxel>(Ball(24, 24, 10, 12.0, 12.0, 5.0, 3.0 + 0.5 * r)));
  CFVoxelList maps;
  oracle::ComputeProbabilityMaps(regions, segmentation, map, 7, 2, 3, 0.005, 0.1, {2, 2, 2}, {2, 2, 2},
                                 origins, ends, registered, {0, 0, 0}, maps);
  return maps;
}

bool MultiplesOf(const CFVoxel& map, int m) {
  const float reciprocal = 1.0f / static_cast<float>(m);
  for (std::size_t i = 0; i < map.VoxelCount(); ++i) {
    bool found = false;
    for (int k = 0; k <= m; ++k) found = found || map[i] == static_cast<float>(k) * reciprocal;
    if (!found) return false;
  }
  return true;
}

TEST(OracleProbability, AtMostSevenVoteAndZeroReferencesGiveZeroMaps) {
  const CFVoxelList ten = VoteMaps(10);
  ASSERT_EQ(ten.size(), 1u);
  EXPECT_TRUE(MultiplesOf(*ten[0], 7));
  EXPECT_FALSE(MultiplesOf(*ten[0], 1));
  const CFVoxelList three = VoteMaps(3);
  EXPECT_TRUE(MultiplesOf(*three[0], 3));
  EXPECT_FALSE(MultiplesOf(*three[0], 1));
  const CFVoxelList none = VoteMaps(0);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0]->Size(), ten[0]->Size());
  for (std::size_t i = 0; i < none[0]->VoxelCount(); ++i) ASSERT_EQ((*none[0])[i], 0.0f);
}

// ---- Fusion ---------------------------------------------------------------------

// One voxel, covered by windows whose maps hold the given distance and probability.
float FuseOne(int segmented, std::vector<std::pair<float, float>> foreground,
              std::vector<std::pair<float, float>> background, int scribble = 0) {
  CVoxel map(1, 1, 1);
  map[0] = static_cast<CVoxel::value_type>(scribble);
  CVoxel segmentation(1, 1, 1);
  segmentation[0] = static_cast<CVoxel::value_type>(segmented);
  CFVoxelList distance, probability;
  CPointArray origins, ends;
  for (auto* list : {&foreground, &background}) {
    for (const auto& [d, p] : *list) {
      distance.push_back(std::make_unique<CFVoxel>(1, 1, 1));
      (*distance.back())[0] = d;
      probability.push_back(std::make_unique<CFVoxel>(1, 1, 1));
      (*probability.back())[0] = p;
      origins.push_back({0, 0, 0});
      ends.push_back({0, 0, 0});
    }
  }
  auto fused =
      oracle::Fuse(map, segmentation, distance, probability, origins, ends,
                   static_cast<int>(foreground.size()), static_cast<int>(background.size()), 10.0, 100.0);
  return (*fused)[0];
}

TEST(OracleFusion, WorkedExamples) {
  const double e = std::exp(-1.0);
  EXPECT_NEAR(FuseOne(0, {{0.0f, 1.0f}}, {}), 5.0 / (5.0 + e), 1e-7);
  EXPECT_NEAR(FuseOne(0, {{0.0f, 1.0f}}, {}), 0.9315, 1e-4);
  EXPECT_NEAR(FuseOne(1, {{10.0f, 3.0f / 7.0f}}, {}), 5.0 / 7.0, 1e-6);
  EXPECT_NEAR(FuseOne(1, {}, {{0.0f, 0.0f}}), 0.0685, 1e-4);
  EXPECT_NEAR(FuseOne(1, {}, {{0.0f, 2.0f / 7.0f}}), 0.4778, 1e-4);
  EXPECT_NEAR(FuseOne(0, {{0.0f, 1.0f}, {0.0f, 1.0f}}, {}), 0.9505, 1e-4);
  // p exactly 0.5 is not boosted: (0.5 + 0) / (1 + e) with the segmentation outside.
  EXPECT_NEAR(FuseOne(0, {{0.0f, 0.5f}}, {}), 0.5 / (1.0 + e), 1e-7);
  // Scribbles and voxels outside every window.
  EXPECT_EQ(FuseOne(0, {{0.0f, 1.0f}}, {}, 3), 0.0f);
  EXPECT_EQ(FuseOne(1, {}, {{0.0f, 0.0f}}, 2), 1.0f);
  EXPECT_EQ(FuseOne(1, {}, {}), 1.0f);
  EXPECT_EQ(FuseOne(0, {}, {}), 0.0f);
}

// ---- Manual correction ----------------------------------------------------------

TEST(OracleManual, MergeAndApply) {
  CVoxel accumulated = Volume(4, 1, 1, {{0, 0, 0}, {1, 0, 0}}, 2);
  CVoxel strokes(4, 1, 1);
  strokes[1] = 3;
  strokes[2] = 1;
  oracle::MergeStrokes(accumulated, strokes);
  EXPECT_EQ(accumulated[0], 2);
  EXPECT_EQ(accumulated[1], 3);
  EXPECT_EQ(accumulated[2], 1);
  CVoxel segmentation(4, 1, 1);
  segmentation[1] = 5;
  segmentation[2] = 7;
  oracle::ApplyScribbles(segmentation, accumulated);
  EXPECT_EQ(segmentation[0], 1);
  EXPECT_EQ(segmentation[1], 0);
  EXPECT_EQ(segmentation[2], 7);
  CVoxel again(segmentation);
  oracle::ApplyScribbles(again, accumulated);
  EXPECT_TRUE(Equal(again, segmentation));
}

}  // namespace
