#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "TestLabels.h"
#include "correction/MillimetreScale.h"
#include "evaluation/Metrics.h"
#include "fusion/FusionSteps.h"

namespace {

void SetGeometry(CVoxel& v, const double spacing[3], const double origin[3]) {
  for (int a = 0; a < 3; ++a) {
    v.spacing[a] = static_cast<float>(spacing[a]);
    v.origin[a] = static_cast<float>(origin[a]);
  }
}

void ExpectPoint(const C3DPoint& actual, const C3DPoint& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.z, expected.z);
}

TEST(MillimetreParameters, AtTheDesignResolutionAreTheFixedSet) {
  const fusion::CorrectionParameters design;
  const fusion::CorrectionParameters p = correction::MillimetreParameters(design, correction::kDesignSpacing);
  ExpectPoint(p.neighbourhoodMargin, design.neighbourhoodMargin);
  ExpectPoint(p.translationRange, design.translationRange);
  ExpectPoint(p.translationStep, design.translationStep);
  ExpectPoint(p.referenceBoxMargin, design.referenceBoxMargin);
  EXPECT_TRUE(p.voxelLengths.IsUnit());
  EXPECT_EQ(p.pairDistance, design.pairDistance);
  EXPECT_EQ(p.priorDistance, design.priorDistance);
  EXPECT_EQ(p.distanceScale, design.distanceScale);
  EXPECT_TRUE(p.placeReferencesByGeometry);
  // A volume without geometry is taken voxel for voxel.
  CVoxel unset(C3DPoint{4, 4, 4});
  EXPECT_TRUE(correction::MillimetreParameters(design, unset).voxelLengths.IsUnit());
}

TEST(MillimetreParameters, KeepTheLengthsOnAnisotropicGrids) {
  const fusion::CorrectionParameters design;
  // A common clinical T2 grid: half the in-plane voxels, slices 4/3 as thick.
  const double clinical[3] = {0.625, 0.625, 4.0};
  fusion::CorrectionParameters p = correction::MillimetreParameters(design, clinical);
  ExpectPoint(p.neighbourhoodMargin, {9, 9, 5});  // 5.625 mm and 18 mm (4.5 slices, rounded up)
  ExpectPoint(p.translationStep, {1, 1, 2});      // 0.625 mm; 6 mm (1.5 slices) at least: 2 slices
  ExpectPoint(p.translationRange, {4, 4, 6});     // 2.5 mm and 24 mm, whole steps
  ExpectPoint(p.referenceBoxMargin, {20, 20, 20});
  EXPECT_DOUBLE_EQ(p.voxelLengths.x, 2.0);
  EXPECT_DOUBLE_EQ(p.voxelLengths.y, 2.0);
  EXPECT_DOUBLE_EQ(p.voxelLengths.z, 4.0 / 3.0);

  const double coarse[3] = {1.25, 1.25, 6.0};
  p = correction::MillimetreParameters(design, coarse);
  ExpectPoint(p.neighbourhoodMargin, {5, 5, 3});
  ExpectPoint(p.translationStep, {1, 1, 1});  // never below one voxel
  ExpectPoint(p.translationRange, {2, 2, 4});

  // 0.5 mm: the 0.625-mm step becomes 2 voxels, not 1 (which would try 11
  // offsets a row instead of the design's 9); the 2.5-mm range 3 steps of 1 mm.
  const double half[3] = {0.5, 0.5, 3.0};
  p = correction::MillimetreParameters(design, half);
  ExpectPoint(p.neighbourhoodMargin, {11, 11, 6});
  ExpectPoint(p.translationStep, {2, 2, 2});
  ExpectPoint(p.translationRange, {6, 6, 8});

  // Finer than the design: more voxels for the same lengths, the box grows with them.
  const double fine[3] = {0.15625, 0.2, 1.5};
  p = correction::MillimetreParameters(design, fine);
  ExpectPoint(p.neighbourhoodMargin, {36, 28, 12});
  ExpectPoint(p.translationStep, {4, 4, 4});
  ExpectPoint(p.translationRange, {16, 12, 16});
  ExpectPoint(p.referenceBoxMargin, {40, 31, 40});
}

TEST(MillimetreParameters, AnObliqueGridCountsAlongItsOwnVoxelAxes) {
  CVoxel straight(C3DPoint{8, 8, 4});
  const double spacing[3] = {0.625, 0.5, 4.0};
  const double origin[3] = {-10.0, 4.0, 7.0};
  SetGeometry(straight, spacing, origin);
  CVoxel oblique = straight;
  const double c = std::cos(0.5), s = std::sin(0.5);
  const double rotation[3][3] = {{c, -s, 0.0}, {0.0, 0.0, 1.0}, {s, c, 0.0}};  // a rotated, resliced stack
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) oblique.direction[r][k] = rotation[r][k];
  const fusion::CorrectionParameters a =
      correction::MillimetreParameters(fusion::CorrectionParameters{}, straight);
  const fusion::CorrectionParameters b =
      correction::MillimetreParameters(fusion::CorrectionParameters{}, oblique);
  ExpectPoint(b.neighbourhoodMargin, a.neighbourhoodMargin);
  ExpectPoint(b.translationRange, a.translationRange);
  ExpectPoint(b.translationStep, a.translationStep);
  EXPECT_EQ(b.voxelLengths, a.voxelLengths);
  ExpectPoint(a.neighbourhoodMargin, {9, 11, 5});
}

TEST(MillimetreParameters, FarFromTheDesignResolutionBeyondAQuarter) {
  EXPECT_FALSE(correction::FarFromDesignResolution(correction::kDesignSpacing));
  const double close[3] = {0.33, 0.30, 3.6};
  EXPECT_FALSE(correction::FarFromDesignResolution(close));
  const double clinical[3] = {0.625, 0.625, 4.0};
  EXPECT_TRUE(correction::FarFromDesignResolution(clinical));
  const double thinSlices[3] = {0.3125, 0.3125, 1.0};
  EXPECT_TRUE(correction::FarFromDesignResolution(thinSlices));
}

// Exact anisotropic distance to a random mask, by brute force.
TEST(MillimetreDistances, TheWeightedTransformIsTheExactAnisotropicDistance) {
  const C3DPoint size{11, 9, 7};
  CVoxel mask(size);
  std::mt19937 random(7);
  for (std::size_t i = 0; i < mask.VoxelCount(); ++i) mask[i] = random() % 23 == 0 ? 2 : 0;
  mask.At(5, 4, 3) = 2;
  const fusion::AxisLengths lengths{2.0, 0.5, 4.0 / 3.0};
  CFVoxel map(size);
  fusion::DistanceTransform(mask, map, lengths);
  for (int z = 0; z < size.z; ++z)
    for (int y = 0; y < size.y; ++y)
      for (int x = 0; x < size.x; ++x) {
        double best = std::numeric_limits<double>::max();
        for (int k = 0; k < size.z; ++k)
          for (int j = 0; j < size.y; ++j)
            for (int i = 0; i < size.x; ++i)
              if (mask.At(i, j, k) != 0) {
                const double dx = (x - i) * lengths.x, dy = (y - j) * lengths.y, dz = (z - k) * lengths.z;
                best = std::min(best, dx * dx + dy * dy + dz * dz);
              }
        ASSERT_NEAR(map.At(x, y, z), std::sqrt(best), 1e-4) << x << " " << y << " " << z;
      }
}

TEST(MillimetreDistances, PairsAreJudgedInTheLengthsOfTheirAxes) {
  const fusion::AxisLengths clinical{2.0, 2.0, 4.0 / 3.0};
  // 19 voxels of 2 are 38 < 40: a pair; 20 are 40, not below the pair distance.
  EXPECT_TRUE(fusion::FormsPair({0, 0, 0}, {19, 0, 0}, 40.0, clinical));
  EXPECT_FALSE(fusion::FormsPair({0, 0, 0}, {20, 0, 0}, 40.0, clinical));
  EXPECT_TRUE(fusion::FormsPair({0, 0, 0}, {20, 0, 0}, 40.0));  // counted in voxels
  // Two slices of 4/3 design slices are within the 3-slice reach; three are not.
  EXPECT_TRUE(fusion::FormsPair({0, 0, 0}, {0, 0, 2}, 40.0, clinical));
  EXPECT_FALSE(fusion::FormsPair({0, 0, 0}, {0, 0, 3}, 40.0, clinical));
  EXPECT_TRUE(fusion::FormsPair({0, 0, 0}, {0, 0, 3}, 40.0));
}

// The segmentation's grid and a reference of the same organ on a grid twice as
// fine, shifted in space.
struct TwoGrids {
  C3DPoint size{48, 40, 16};
  CVoxel segmentation = Ellipsoid(size, 24.0, 20.0, 8.0, 13.0, 10.0, 5.0);
  CVoxel reference = Ellipsoid({100, 70, 30}, 58.0, 34.0, 14.0, 26.0, 20.0, 10.0);
  TwoGrids() {
    const double segSpacing[3] = {1.0, 1.0, 2.0}, segOrigin[3] = {0.0, 0.0, 0.0};
    const double refSpacing[3] = {0.5, 0.5, 1.0}, refOrigin[3] = {-5.0, 3.0, 2.0};
    SetGeometry(segmentation, segSpacing, segOrigin);
    SetGeometry(reference, refSpacing, refOrigin);
  }
};

TEST(ReferenceOnGridOf, RecoversAKnownShiftAndScaleFromThePlacement) {
  TwoGrids g;
  const std::unique_ptr<CVoxel> placed = correction::ReferenceOnGridOf(g.reference, g.segmentation);
  ASSERT_TRUE(placed && placed->HasData());
  for (int a = 0; a < 3; ++a) EXPECT_EQ(placed->spacing[a], g.segmentation.spacing[a]);
  // The placed box starts on a voxel of the segmentation's grid.
  C3DPoint corner;
  int* c[3] = {&corner.x, &corner.y, &corner.z};
  for (int a = 0; a < 3; ++a) {
    const double index = placed->origin[a] / g.segmentation.spacing[a];
    EXPECT_NEAR(index, std::round(index), 1e-6);
    *c[a] = static_cast<int>(std::lround(index));
  }
  // Put back into the full grid, it is the segmentation's organ.
  CVoxel full(g.size);
  for (int z = 0; z < placed->Z; ++z)
    for (int y = 0; y < placed->Y; ++y)
      for (int x = 0; x < placed->X; ++x)
        if (full.Contains(corner.x + x, corner.y + y, corner.z + z))
          full.At(corner.x + x, corner.y + y, corner.z + z) = placed->At(x, y, z);
  EXPECT_GT(evaluation::Dice(full, g.segmentation), 0.97);
  // The same grid needs no placement; neither does a volume without geometry.
  EXPECT_EQ(correction::ReferenceOnGridOf(g.segmentation, g.segmentation), nullptr);
  EXPECT_EQ(correction::ReferenceOnGridOf(Ellipsoid({9, 9, 9}, 4, 4, 4, 3, 3, 3), g.segmentation), nullptr);
}

TEST(ReferenceOnGridOf, PlacesOntoAnObliqueGridWhereTheVoxelLies) {
  CVoxel grid(C3DPoint{30, 30, 10});
  const double spacing[3] = {1.0, 1.0, 3.0}, origin[3] = {10.0, -20.0, 5.0};
  SetGeometry(grid, spacing, origin);
  // Voxel x runs along patient y, voxel y against patient x.
  const double columns[3][3] = {{0.0, -1.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) grid.direction[r][k] = columns[r][k];
  CVoxel reference(C3DPoint{20, 20, 20});
  const double refSpacing[3] = {0.5, 0.5, 0.5}, refOrigin[3] = {-5.0, -12.0, 15.0};
  SetGeometry(reference, refSpacing, refOrigin);
  for (int z = 8; z <= 11; ++z)
    for (int y = 6; y <= 9; ++y)
      for (int x = 2; x <= 5; ++x) reference.At(x, y, z) = 1;  // centre at (-3.25, -8.25, 19.75)
  const std::unique_ptr<CVoxel> placed = correction::ReferenceOnGridOf(reference, grid);
  ASSERT_TRUE(placed && placed->HasData());
  double sum[3] = {0, 0, 0};
  int count = 0;
  for (int z = 0; z < placed->Z; ++z)
    for (int y = 0; y < placed->Y; ++y)
      for (int x = 0; x < placed->X; ++x)
        if (placed->At(x, y, z) > 0) {
          double p[3];
          placed->PhysicalPoint(x, y, z, p);
          for (int a = 0; a < 3; ++a) sum[a] += p[a];
          ++count;
        }
  ASSERT_GT(count, 0);
  EXPECT_NEAR(sum[0] / count, -3.25, 0.51);
  EXPECT_NEAR(sum[1] / count, -8.25, 0.51);
  EXPECT_NEAR(sum[2] / count, 19.75, 1.51);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(placed->direction[r][k], columns[r][k]);
}

TEST(ReferenceOnGridOf, RegistrationOfThePlacedReferenceLandsOnTheSegmentation) {
  TwoGrids g;
  const correction::VolumeLoader plain = [&g](const std::string&) {
    return std::make_unique<CVoxel>(g.reference);
  };
  C3DPoint first{0, 0, 0}, size = g.size;
  CVoxelList registered;
  volume::RecordingSink sink;
  RegisterReferenceLabels(g.segmentation, {"r"}, correction::PlacingLoader(plain, g.segmentation),
                          {first, size, 1}, registered, sink);
  ASSERT_EQ(registered.size(), 1u);
  ASSERT_TRUE(registered[0] && registered[0]->HasData());
  EXPECT_GT(evaluation::Dice(*registered[0], g.segmentation), 0.95);
}

// A case at the design resolution: the millimetre run gives the fixed run's voxels.
TEST(MillimetreCorrection, AtTheDesignResolutionIsTheFixedRunBitForBit) {
  const C3DPoint size{96, 80, 20};
  CVoxel truth = Ellipsoid(size, 48.0, 40.0, 10.0, 30.0, 24.0, 6.0);
  CVoxel segmentation = Ellipsoid(size, 54.0, 40.0, 10.0, 30.0, 22.0, 6.0);
  CVoxel map(size);
  for (int x = 20; x <= 26; ++x) map.At(x, 40, 10) = 2;
  for (int x = 80; x <= 83; ++x) map.At(x, 41, 9) = 3;
  for (int y = 20; y <= 24; ++y) map.At(50, y, 11) = 3;
  std::map<std::string, CVoxel> references{{"a", Ellipsoid(size, 47.0, 39.0, 10.0, 29.0, 24.0, 6.0)},
                                           {"b", Ellipsoid(size, 49.0, 41.0, 9.0, 32.0, 23.0, 5.0)},
                                           {"c", Ellipsoid(size, 48.0, 40.0, 11.0, 28.0, 25.0, 6.0)}};
  const double origin[3] = {-30.0, -25.0, -30.0};
  for (CVoxel* v : {&segmentation, &map}) SetGeometry(*v, correction::kDesignSpacing, origin);
  for (auto& [name, reference] : references) SetGeometry(reference, correction::kDesignSpacing, origin);
  const correction::VolumeLoader load = [&references](const std::string& path) {
    return std::make_unique<CVoxel>(references.at(path));
  };
  const std::vector<std::string> paths{"a", "b", "c"};

  CVoxel fixed = segmentation;
  CVoxel millimetre = segmentation;
  volume::RecordingSink fixedSink, millimetreSink;
  ASSERT_TRUE(RunSemiAutomaticCorrection(fixed, map, paths, fusion::CorrectionParameters{},
                                         {fixedSink, fixedSink}, {load}));
  ASSERT_TRUE(RunSemiAutomaticCorrection(
      millimetre, map, paths, correction::MillimetreParameters(fusion::CorrectionParameters{}, segmentation),
      {millimetreSink, millimetreSink}, {load}));
  EXPECT_EQ(millimetreSink.lines, fixedSink.lines);
  ASSERT_TRUE(fixed.SameSize(millimetre));
  std::size_t differing = 0;
  for (std::size_t i = 0; i < fixed.VoxelCount(); ++i) differing += fixed[i] != millimetre[i];
  EXPECT_EQ(differing, 0u);
  EXPECT_GT(evaluation::Dice(fixed, truth), evaluation::Dice(segmentation, truth));

  // The same case said to have voxels twice as large in-plane runs other parameters and gives another result.
  const double coarse[3] = {0.625, 0.625, 3.0};
  for (CVoxel* v : {&segmentation, &map}) SetGeometry(*v, coarse, origin);
  for (auto& [name, reference] : references) SetGeometry(reference, coarse, origin);
  CVoxel other = segmentation;
  ASSERT_TRUE(RunSemiAutomaticCorrection(
      other, map, paths, correction::MillimetreParameters(fusion::CorrectionParameters{}, segmentation),
      {millimetreSink, millimetreSink}, {load}));
  differing = 0;
  for (std::size_t i = 0; i < fixed.VoxelCount(); ++i) differing += fixed[i] != other[i];
  EXPECT_GT(differing, 0u);
}

}  // namespace
