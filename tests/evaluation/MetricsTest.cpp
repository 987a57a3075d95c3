// Measures of hand-built masks whose answers are worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "EvaluationTestVolumes.h"
#include "evaluation/Metrics.h"

using namespace evaluation;
using evaluation_test::Fill;
using evaluation_test::Volume;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// Two 4x4x4 cubes, the second one slice higher, with 0.5 x 1 x 2 mm voxels.
// Of the 56 boundary voxels of each cube, the 16 on the face the other cube
// does not share lie 2 mm (one slice) from it, the 4 inner voxels of the
// other end face 0.5 mm (one x step) from the other cube's side, and the
// rest lie on the other boundary.
TEST(Metrics, CubesShiftedOneSliceWithAnisotropicSpacing) {
  CVoxel truth = Volume(10, 10, 10, 0.5f, 1.0f, 2.0f);
  CVoxel segmentation = truth;
  Fill(truth, {2, 2, 2}, {5, 5, 5});
  Fill(segmentation, {2, 2, 3}, {5, 5, 6});
  const CaseMetrics m = Evaluate(truth, segmentation);

  const MetricValues& whole = m[kWhole];
  EXPECT_DOUBLE_EQ(whole[kDice], 0.75);
  EXPECT_DOUBLE_EQ(whole[kJaccard], 0.6);
  EXPECT_DOUBLE_EQ(whole[kTruthMl], 0.064);  // 64 voxels of 1 mm³
  EXPECT_DOUBLE_EQ(whole[kSegmentationMl], 0.064);
  EXPECT_DOUBLE_EQ(whole[kRvdPercent], 0.0);
  EXPECT_DOUBLE_EQ(whole[kAbdMm], (32 * 2.0 + 8 * 0.5) / 112.0);
  EXPECT_DOUBLE_EQ(whole[kHdMm], 2.0);
  EXPECT_DOUBLE_EQ(whole[kHd95Mm], 2.0);  // element 107 of 112: 72 zeros, 8 x 0.5, then the 2s
  EXPECT_DOUBLE_EQ(whole[kSurfaceDice1mm], 80.0 / 112.0);
  EXPECT_DOUBLE_EQ(whole[kSurfaceDice2mm], 1.0);

  // The truth's slices 2..5: 2 and 3 apex, 4 mid, 5 base; 0 and 1 below it
  // are apex, 6..9 above it base.
  EXPECT_DOUBLE_EQ(m[kApex][kDice], 2.0 * 16 / (32 + 16));
  EXPECT_DOUBLE_EQ(m[kMid][kDice], 1.0);
  EXPECT_DOUBLE_EQ(m[kBase][kDice], 2.0 * 16 / (16 + 32));
  EXPECT_DOUBLE_EQ(m[kApex][kRvdPercent], -50.0);
  EXPECT_DOUBLE_EQ(m[kBase][kRvdPercent], 100.0);
  // Apex boundary: truth slice 2 (16 at 2 mm), truth ring of slice 3 (12 at
  // 0), segmentation slice 3 (12 ring voxels at 0, 4 inner ones at 0.5 mm).
  EXPECT_DOUBLE_EQ(m[kApex][kAbdMm], (16 * 2.0 + 4 * 0.5) / 44.0);
  EXPECT_DOUBLE_EQ(m[kApex][kSurfaceDice1mm], 28.0 / 44.0);
  EXPECT_DOUBLE_EQ(m[kMid][kHdMm], 0.0);  // two identical rings
}

TEST(Metrics, SingleVoxels) {
  CVoxel truth = Volume(8, 8, 8, 0.7f, 1.0f, 1.0f);
  CVoxel segmentation = truth;
  truth.At(3, 3, 3) = 1;
  segmentation.At(5, 3, 3) = 1;
  const CaseMetrics m = Evaluate(truth, segmentation);
  EXPECT_EQ(m[kWhole][kDice], 0.0);
  EXPECT_EQ(m[kWhole][kJaccard], 0.0);
  for (int metric : {kAbdMm, kHd95Mm, kHdMm}) EXPECT_NEAR(m[kWhole][metric], 1.4, 1e-6);
  EXPECT_EQ(m[kWhole][kSurfaceDice1mm], 0.0);
  EXPECT_EQ(m[kWhole][kSurfaceDice2mm], 1.0);
  // One truth slice: it is the apex; nothing lies in the mid, so it agrees
  // trivially, and its volume difference is undefined.
  EXPECT_EQ(m[kApex][kDice], 0.0);
  EXPECT_EQ(m[kMid][kDice], 1.0);
  EXPECT_EQ(m[kMid][kHdMm], 0.0);
  EXPECT_EQ(m[kMid][kSurfaceDice1mm], 1.0);
  EXPECT_TRUE(std::isnan(m[kMid][kRvdPercent]));
}

TEST(Metrics, EmptyMasks) {
  const CVoxel empty = Volume(6, 6, 6);
  CVoxel full = empty;
  Fill(full, {1, 1, 1}, {3, 3, 3});

  const CaseMetrics both = Evaluate(empty, empty);
  EXPECT_EQ(both[kWhole][kDice], 1.0);
  EXPECT_EQ(both[kWhole][kJaccard], 1.0);
  EXPECT_EQ(both[kWhole][kHdMm], 0.0);
  EXPECT_EQ(both[kWhole][kAbdMm], 0.0);
  EXPECT_EQ(both[kWhole][kSurfaceDice2mm], 1.0);
  EXPECT_TRUE(std::isnan(both[kWhole][kRvdPercent]));
  for (int r = kApex; r < kRegionCount; ++r)
    for (double v : both[r]) EXPECT_TRUE(std::isnan(v)) << "regions need a truth";

  const CaseMetrics noSegmentation = Evaluate(full, empty);
  EXPECT_EQ(noSegmentation[kWhole][kDice], 0.0);
  EXPECT_EQ(noSegmentation[kWhole][kRvdPercent], -100.0);
  EXPECT_EQ(noSegmentation[kWhole][kAbdMm], kInf);
  EXPECT_EQ(noSegmentation[kWhole][kHd95Mm], kInf);
  EXPECT_EQ(noSegmentation[kWhole][kHdMm], kInf);
  EXPECT_EQ(noSegmentation[kWhole][kSurfaceDice1mm], 0.0);
  EXPECT_EQ(noSegmentation[kApex][kHdMm], kInf);
  EXPECT_EQ(noSegmentation[kBase][kHdMm], kInf);

  const CaseMetrics noTruth = Evaluate(empty, full);
  EXPECT_EQ(noTruth[kWhole][kDice], 0.0);
  EXPECT_EQ(noTruth[kWhole][kHdMm], kInf);
  EXPECT_EQ(noTruth[kWhole][kSurfaceDice2mm], 0.0);
  EXPECT_TRUE(std::isnan(noTruth[kWhole][kRvdPercent]));
}

// Voxels on the volume's faces are boundary voxels: a full volume against the
// same volume without its x = 0 layer. Only the 16 voxels of that layer (0.5 mm
// from x = 1) and the 4 inner voxels of the x = 1 layer (0.5 mm from x = 0)
// are apart; the other 80 pooled voxels lie on both boundaries.
TEST(Metrics, MasksTouchingTheVolumeEdge) {
  CVoxel truth = Volume(4, 4, 4, 0.5f, 1.0f, 1.0f);
  CVoxel segmentation = truth;
  Fill(truth, {0, 0, 0}, {3, 3, 3});
  Fill(segmentation, {1, 0, 0}, {3, 3, 3});
  const MetricValues whole = Evaluate(truth, segmentation)[kWhole];
  EXPECT_DOUBLE_EQ(whole[kDice], 96.0 / 112.0);
  EXPECT_DOUBLE_EQ(whole[kAbdMm], 20 * 0.5 / 100.0);
  EXPECT_DOUBLE_EQ(whole[kHd95Mm], 0.5);
  EXPECT_DOUBLE_EQ(whole[kHdMm], 0.5);
  EXPECT_DOUBLE_EQ(whole[kSurfaceDice1mm], 1.0);

  const MetricValues same = Evaluate(truth, truth)[kWhole];
  EXPECT_EQ(same[kDice], 1.0);
  EXPECT_EQ(same[kHdMm], 0.0);
}

// The segmentation reaches two slices below the truth: those slices are apex,
// and only the apex shows the error. With the z axis pointing inferior the
// same slices lie above the truth and the error moves to the base.
TEST(Metrics, TruthMissingTheApexInBothSliceDirections) {
  CVoxel truth = Volume(12, 12, 10, 1.0f, 1.0f, 2.5f);
  CVoxel segmentation = truth;
  Fill(truth, {3, 3, 3}, {8, 8, 8});
  Fill(segmentation, {3, 3, 1}, {8, 8, 8});

  const CaseMetrics up = Evaluate(truth, segmentation);
  EXPECT_DOUBLE_EQ(up[kApex][kDice], 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(up[kApex][kRvdPercent], 100.0);
  EXPECT_DOUBLE_EQ(up[kWhole][kRvdPercent], 100.0 / 3.0);
  EXPECT_EQ(up[kMid][kDice], 1.0);
  EXPECT_EQ(up[kBase][kDice], 1.0);
  EXPECT_DOUBLE_EQ(up[kApex][kHdMm], 5.0);  // the lowest segmentation slice, two slices from the truth
  EXPECT_EQ(up[kWhole][kHdMm], up[kApex][kHdMm]);
  EXPECT_EQ(up[kMid][kHdMm], 0.0);
  EXPECT_EQ(up[kBase][kHdMm], 0.0);

  for (CVoxel* v : {&truth, &segmentation}) {
    v->direction[2][2] = -1.0;
    v->direction[1][1] = -1.0;
  }
  const CaseMetrics down = Evaluate(truth, segmentation);
  EXPECT_EQ(down[kApex][kDice], 1.0);
  EXPECT_DOUBLE_EQ(down[kBase][kDice], 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(down[kBase][kHdMm], 5.0);
  EXPECT_EQ(down[kApex][kHdMm], 0.0);
  for (int m = 0; m < kMetricCount; ++m) EXPECT_EQ(down[kWhole][m], up[kWhole][m]) << kMetricNames[m];
}

TEST(Metrics, SliceRegionsFollowTheSuperiorAxis) {
  CVoxel geometry = Volume(2, 2, 12);
  // Occupied slices 2..10 except 6: the empty slice 6 takes the region of slice 5.
  std::vector<std::int64_t> perSlice(12, 0);
  for (int z = 2; z <= 10; ++z) perSlice[z] = z == 6 ? 0 : 5;
  // 8 occupied slices: ranks 0-2 apex (3i < 8), 3-5 mid, 6-7 base (3i >= 16).
  const std::vector<int> expected{kApex, kApex, kApex, kApex, kApex, kMid,
                                  kMid,  kMid,  kMid,  kBase, kBase, kBase};
  EXPECT_EQ(SliceRegions(geometry, perSlice), expected);

  // z pointing inferior: slice 11 is the lowest, and the order reverses.
  CVoxel flipped = geometry;
  flipped.direction[2][2] = -1.0;
  const std::vector<int> expectedFlipped{kBase, kBase, kBase, kBase, kMid,  kMid,
                                         kMid,  kMid,  kApex, kApex, kApex, kApex};
  EXPECT_EQ(SliceRegions(flipped, perSlice), expectedFlipped);

  // A z axis that leans but still points superior keeps the plain order.
  geometry.direction[2][2] = 0.8;
  geometry.direction[0][2] = 0.6;
  EXPECT_EQ(SliceRegions(geometry, perSlice), expected);

  // A sagittal stack (z along left-right): every slice at the same height
  // keeps its index order.
  CVoxel sagittal = Volume(2, 2, 12);
  sagittal.direction[0][0] = 0.0;
  sagittal.direction[2][0] = 1.0;
  sagittal.direction[0][2] = 1.0;
  sagittal.direction[2][2] = 0.0;
  EXPECT_EQ(SliceRegions(sagittal, perSlice), expected);

  EXPECT_TRUE(SliceRegions(geometry, std::vector<std::int64_t>(12, 0)).empty());
}

TEST(Metrics, HausdorffPercentileIsTheNearestRank) {
  MetricValues m{};
  std::vector<double> pool;
  for (int i = 20; i >= 1; --i) pool.push_back(i);  // 1 ... 20: rank ceil(19) = 19
  PoolDistances(pool, m);
  EXPECT_EQ(m[kHd95Mm], 19.0);
  EXPECT_EQ(m[kHdMm], 20.0);
  EXPECT_DOUBLE_EQ(m[kAbdMm], 10.5);
  EXPECT_EQ(m[kSurfaceDice1mm], 0.05);
  EXPECT_EQ(m[kSurfaceDice2mm], 0.1);
  pool.clear();
  for (int i = 1; i <= 21; ++i) pool.push_back(i);  // rank ceil(19.95) = 20
  PoolDistances(pool, m);
  EXPECT_EQ(m[kHd95Mm], 20.0);
  pool = {3.0};
  PoolDistances(pool, m);
  EXPECT_EQ(m[kHd95Mm], 3.0);
}

TEST(Metrics, LabelChoosesTheForeground) {
  CVoxel truth = Volume(6, 6, 6);
  CVoxel segmentation = truth;
  Fill(truth, {1, 1, 1}, {4, 4, 4}, 2);
  Fill(truth, {1, 1, 1}, {4, 4, 1}, 1);  // another structure on slice 1
  Fill(segmentation, {1, 1, 2}, {4, 4, 4}, 2);
  EXPECT_EQ(Evaluate(truth, segmentation, Foreground{true, 2})[kWhole][kDice], 1.0);
  EXPECT_LT(Evaluate(truth, segmentation)[kWhole][kDice], 1.0);
  EXPECT_EQ(Evaluate(truth, segmentation, Foreground{true, 1})[kWhole][kDice], 0.0);  // only in the truth
  EXPECT_EQ(Evaluate(truth, segmentation, Foreground{true, 7})[kWhole][kDice], 1.0);  // in neither
  EXPECT_NEAR(Dice(truth, segmentation), 2.0 * 48 / (64 + 48), 1e-15);
}

TEST(Metrics, GeometryMustAgree) {
  const CVoxel a = Volume(5, 5, 5, 0.5f, 0.5f, 3.0f);
  CVoxel b = a;
  EXPECT_EQ(GeometryMismatch(a, b), "");
  b.spacing[2] = 3.0001f;  // within 1e-4 relative
  b.origin[0] = 0.0009f;   // within 1e-3 mm
  EXPECT_EQ(GeometryMismatch(a, b), "");

  CVoxel wrong = a;
  wrong.spacing[2] = 3.01f;
  EXPECT_NE(GeometryMismatch(a, wrong), "");
  wrong = a;
  wrong.origin[1] = 0.002f;
  EXPECT_NE(GeometryMismatch(a, wrong), "");
  wrong = a;
  wrong.direction[2][2] = -1.0;
  EXPECT_NE(GeometryMismatch(a, wrong), "");
  // A file may carry "nan" as its origin: no place within 1e-3 mm of a number
  // (the same unknown place on both sides still agrees).
  wrong = a;
  wrong.origin[0] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_NE(GeometryMismatch(a, wrong), "");
  EXPECT_NE(GeometryMismatch(wrong, a), "");
  EXPECT_EQ(GeometryMismatch(wrong, wrong), "");
  wrong = a;
  wrong.direction[1][2] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NE(GeometryMismatch(a, wrong), "");
  const CVoxel bigger = Volume(5, 5, 6, 0.5f, 0.5f, 3.0f);
  EXPECT_NE(GeometryMismatch(a, bigger).find("sizes differ"), std::string::npos);
  EXPECT_TRUE(std::isnan(Dice(a, bigger)));
  for (const MetricValues& m : Evaluate(a, bigger))
    for (double v : m) EXPECT_TRUE(std::isnan(v));
  for (const MetricValues& m : Evaluate(a, CVoxel()))
    for (double v : m) EXPECT_TRUE(std::isnan(v));
}
