// The production engine against the oracle, stage by stage, on random cases.
// Every stage gets the same inputs on both sides (produced by the oracle), so
// a mismatch points at the stage itself.
#include <gtest/gtest.h>
#include <vtkMatrix4x4.h>
#include <vtkSmartPointer.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "FullSizeStages.h"
#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"
#include "correction/Registration.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/BoundaryPoints.h"
#include "geometry/LabelGeometry.h"
#include "tests/oracle/EqualityHelpers.h"
#include "tests/oracle/Oracle.h"
#include "tests/oracle/RandomCase.h"

namespace {

using oracle::SameBits;
using oracle::SameVoxels;

constexpr std::uint32_t kCases = 24;

CVoxelList Copy(const CVoxelList& list) {
  CVoxelList out;
  for (const auto& v : list) out.push_back(v ? std::make_unique<CVoxel>(*v) : nullptr);
  return out;
}

::testing::AssertionResult SameLists(const CVoxelList& production, const CVoxelList& oracle) {
  if (production.size() != oracle.size())
    return ::testing::AssertionFailure() << production.size() << " volumes vs " << oracle.size();
  for (std::size_t i = 0; i < production.size(); ++i) {
    if (!production[i] || !oracle[i]) {
      if (!production[i] != !oracle[i])
        return ::testing::AssertionFailure() << "entry " << i << " null on one side";
      continue;
    }
    auto same = SameVoxels(*production[i], *oracle[i]);
    if (!same) return same << " (entry " << i << ")";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameMaps(const CFVoxelList& production, const CFVoxelList& oracle) {
  if (production.size() != oracle.size())
    return ::testing::AssertionFailure() << production.size() << " maps vs " << oracle.size();
  for (std::size_t i = 0; i < production.size(); ++i) {
    if (!production[i] || !oracle[i]) return ::testing::AssertionFailure() << "map " << i << " missing";
    auto same = SameBits(*production[i], *oracle[i]);
    if (!same) return same << " (map " << i << ")";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameDouble(double production, double oracle) {
  if (std::memcmp(&production, &oracle, sizeof production) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << std::hexfloat << "production " << production << ", oracle " << oracle;
}

// The oracle's pipeline up to the probability maps: the shared inputs of the
// later stages.
struct Pipeline {
  oracle::RandomCase c;
  C3DPoint boxMinimum, boxMaximum, boxSize;
  CVoxelList references;
  CVoxelList regions;
  int foreground = 0;
  int background = 0;
  CFVoxelList distance;
  CPointArray origins, ends;

  explicit Pipeline(std::uint32_t seed, const oracle::RandomCaseOptions& options = {})
      : c(oracle::MakeRandomCase(seed, options)) {
    oracle::EnlargedBoundingBox(c.segmentation, {20, 20, 20}, boxMinimum, boxMaximum);
    boxSize = boxMaximum - boxMinimum + 1;
    for (const CVoxel& r : c.references)
      references.push_back(oracle::RegisterReference(c.segmentation, r, boxMinimum, boxSize));
    oracle::ExtractScribbleRegions(c.interactionMap, c.segmentation, 2, 3, c.parameters.pairDistance,
                                   c.parameters.neighbourhoodMargin, regions, foreground, background);
    oracle::ComputeDistanceMaps(regions, c.parameters.neighbourhoodMargin, distance, origins, ends);
  }
};

TEST(OracleEquality, LabelGeometry) {
  std::mt19937 random(7);
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    oracle::RandomCase c = oracle::MakeRandomCase(seed);
    std::vector<CVoxel> labels = c.references;
    labels.push_back(c.segmentation);
    CVoxel signedLabel(c.segmentation);
    for (std::size_t i = 0; i < signedLabel.VoxelCount(); ++i)
      signedLabel[i] = static_cast<CVoxel::value_type>(static_cast<int>(random() % 5) - 2);
    labels.push_back(signedLabel);
    labels.push_back(CVoxel(5, 4, 3));
    for (const CVoxel& label : labels) {
      SCOPED_TRACE(c.description);
      const C3DPoint margin(static_cast<int>(random() % 21), static_cast<int>(random() % 21),
                            static_cast<int>(random() % 7));
      C3DPoint pLo, pHi, oLo, oHi;
      geometry::EnlargedBoundingBox(label, margin, pLo, pHi);
      oracle::EnlargedBoundingBox(label, margin, oLo, oHi);
      EXPECT_EQ(pLo, oLo);
      EXPECT_EQ(pHi, oHi);

      C3DPoint pCentre(3, 4, 5), oCentre(3, 4, 5);
      geometry::Centroid(label, pCentre);
      oracle::Centroid(label, oCentre);
      EXPECT_EQ(pCentre, oCentre);

      for (int t = 0; t < 6; ++t) {
        const C3DPoint corner(static_cast<int>(random() % (label.X + 2)) - 1,
                              static_cast<int>(random() % (label.Y + 2)) - 1,
                              static_cast<int>(random() % (label.Z + 2)) - 1);
        const C3DPoint size(static_cast<int>(random() % (label.X + 1)),
                            static_cast<int>(random() % (label.Y + 1)),
                            static_cast<int>(random() % (label.Z + 1)));
        auto p = geometry::Crop(label, corner, size);
        auto o = oracle::Crop(label, corner, size);
        ASSERT_EQ(p == nullptr, o == nullptr)
            << "crop at (" << corner.x << ", " << corner.y << ", " << corner.z << ") size (" << size.x << ", "
            << size.y << ", " << size.z << ")";
        if (p) {
          EXPECT_TRUE(SameVoxels(*p, *o));
        }

        CVoxel pDestination(label), oDestination(label);
        const C3DPoint last = corner + size;
        geometry::CopyBox(pDestination, corner, last,
                          c.interactionMap.SameSize(label) ? c.interactionMap : label);
        oracle::CopyBox(oDestination, corner, last,
                        c.interactionMap.SameSize(label) ? c.interactionMap : label);
        EXPECT_TRUE(SameVoxels(pDestination, oDestination));
      }
    }
    CFVoxel probabilities(c.segmentation.X, c.segmentation.Y, c.segmentation.Z);
    const float special[] = {0.5f, 0.49999f, std::numeric_limits<float>::quiet_NaN(), 1.0f, 0.0f, -0.0f};
    for (std::size_t i = 0; i < probabilities.VoxelCount(); ++i)
      probabilities[i] =
          random() % 3 == 0 ? special[random() % 6] : static_cast<float>(random() % 1000) / 999.0f;
    EXPECT_TRUE(SameVoxels(*geometry::Threshold(probabilities, 0.5), *oracle::Threshold(probabilities, 0.5)));
  }
}

// Long rows whose float sums pass 2^24: only single-precision sums in scan
// order give the same centroid.
TEST(OracleEquality, CentroidOfWideLabels) {
  std::mt19937 random(13);
  for (int t = 0; t < 6; ++t) {
    CVoxel wide(4000 + static_cast<int>(random() % 3000), 3, 2);
    for (std::size_t i = 0; i < wide.VoxelCount(); ++i)
      wide[i] = static_cast<CVoxel::value_type>(random() % 8 == 0 ? 0 : 1);
    C3DPoint p, o;
    geometry::Centroid(wide, p);
    oracle::Centroid(wide, o);
    EXPECT_EQ(p, o) << "width " << wide.X;
  }
}

TEST(OracleEquality, BoundaryListsAndSeedComponent) {
  std::mt19937 random(8);
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    oracle::RandomCase c = oracle::MakeRandomCase(seed);
    SCOPED_TRACE(c.description);
    std::vector<CVoxel> labels = c.references;
    labels.push_back(c.segmentation);
    labels.push_back(c.interactionMap);  // values 0, 2 and 3 side by side
    for (const CVoxel& label : labels) {
      EXPECT_EQ(CBoundaryPoints(label).Points(), oracle::BoundaryPoints(label));
      C3DPoint centre;
      oracle::Centroid(label, centre);
      std::vector<C3DPoint> seeds = {centre, {-1, 0, 0}, {label.X, 0, 0}};
      for (int t = 0; t < 4; ++t)
        seeds.push_back(C3DPoint(static_cast<int>(random() % label.X), static_cast<int>(random() % label.Y),
                                 static_cast<int>(random() % label.Z)));
      for (const C3DPoint& s : seeds)
        EXPECT_TRUE(SameVoxels(*geometry::KeepSeedComponent(label, s), *oracle::KeepSeedComponent(label, s)))
            << "seed (" << s.x << ", " << s.y << ", " << s.z << ")";
    }
  }
}

TEST(OracleEquality, RegistrationResamplingAndReferenceSet) {
  for (std::uint32_t seed = 0; seed < kCases / 3; ++seed) {
    oracle::RandomCase c = oracle::MakeRandomCase(seed);
    SCOPED_TRACE(c.description);
    const CBoundaryPoints segmentationBoundary(c.segmentation);
    C3DPoint lo, hi;
    oracle::EnlargedBoundingBox(c.segmentation, {20, 20, 20}, lo, hi);
    const C3DPoint boxSize = hi - lo + 1;
    for (const CVoxel& reference : c.references) {
      const CBoundaryPoints referenceBoundary(reference);
      auto matrix = vtkSmartPointer<vtkMatrix4x4>::New();
      RegisterSurfaces(referenceBoundary, segmentationBoundary, *matrix, 100,
                       correction::LandmarkMode::Affine);
      const oracle::Matrix4 expected = oracle::RegisterSurfaces(
          oracle::BoundaryPoints(reference), oracle::BoundaryPoints(c.segmentation), 100, 2);
      for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(SameDouble(matrix->GetElement(i / 4, i % 4), expected[static_cast<std::size_t>(i)]))
            << "element " << i;
      EXPECT_TRUE(SameVoxels(
          *ResampleBoxByMatrix(reference, *matrix, {c.segmentation.Size(), {0, 0, 0}, c.segmentation.Size()}),
          *oracle::ResampleByMatrix(reference, expected, c.segmentation.X, c.segmentation.Y,
                                    c.segmentation.Z)));
      correction::ReferenceProblem problem = correction::ReferenceProblem::None;
      auto p = correction::RegisterReferenceLabel(reference, segmentationBoundary,
                                                  {c.segmentation.Size(), lo, boxSize}, problem);
      auto o = oracle::RegisterReference(c.segmentation, reference, lo, boxSize);
      ASSERT_TRUE(p) << "reference refused, problem " << static_cast<int>(problem);
      EXPECT_TRUE(SameVoxels(*p, *o));
    }

    // The whole reference set, with references that cannot vote mixed in.
    std::vector<std::string> paths = {"r0", "r1"};
    paths.insert(paths.end(), oracle::kOddReferences.begin(), oracle::kOddReferences.end());
    paths.push_back("r2");
    auto load = [&c](const std::string& path) -> std::unique_ptr<CVoxel> {
      if (auto odd = oracle::OddReference(path)) return odd;
      return std::make_unique<CVoxel>(c.references[static_cast<std::size_t>(path[1] - '0')]);
    };
    volume::RecordingSink pSink, oSink;
    CVoxelList pList, oList;
    RegisterReferenceLabels(c.segmentation, paths, load, {lo, boxSize}, pList, pSink);
    oracle::RegisterReferenceLabels(c.segmentation, paths, load, lo, boxSize, oList, oSink);
    EXPECT_TRUE(SameLists(pList, oList));
  }
}

TEST(OracleEquality, ScribbleRegions) {
  for (std::uint32_t seed = 0; seed < 3 * kCases; ++seed) {
    oracle::RandomCaseOptions options;
    options.strokes = 2 + static_cast<int>(seed % 19);  // up to 20 separate strokes
    options.references = 0;
    oracle::RandomCase c = oracle::MakeRandomCase(seed, options);
    SCOPED_TRACE(c.description);
    CVoxelList pRegions, oRegions;
    int oF = -1, oG = -1;
    const auto [pF, pG] = ExtractScribbleRegions(c.interactionMap, c.segmentation, c.parameters, pRegions);
    oracle::ExtractScribbleRegions(c.interactionMap, c.segmentation, 2, 3, c.parameters.pairDistance,
                                   c.parameters.neighbourhoodMargin, oRegions, oF, oG);
    EXPECT_EQ(pF, oF);
    EXPECT_EQ(pG, oG);
    EXPECT_TRUE(SameLists(pRegions, oRegions));
  }
}

TEST(OracleEquality, DistanceLinesAndMaps) {
  std::mt19937 random(9);
  fusion::SquaredDistanceLine line(64);
  for (int t = 0; t < 2000; ++t) {
    const int n = 1 + static_cast<int>(random() % 64);
    std::vector<float> f(static_cast<std::size_t>(n));
    for (float& v : f) {
      const unsigned kind = random() % 4;
      v = kind == 0   ? 0.0f
          : kind == 1 ? static_cast<float>(random() % 2000)
          : kind == 2 ? static_cast<float>(random() % 100000) / 7.0f
                      : FLT_MAX;
    }
    std::vector<float> pd(f.size()), od(f.size());
    line.Transform(f.data(), n, pd.data());
    oracle::DistanceTransform1D(f.data(), n, od.data());
    ASSERT_EQ(std::memcmp(pd.data(), od.data(), f.size() * sizeof(float)), 0) << "line " << t;
  }
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 0;
    options.strokes = 6;
    options.smallParameters = seed % 2 == 0;
    Pipeline pipeline(seed, options);
    SCOPED_TRACE(pipeline.c.description);
    CFVoxelList maps;
    fusion::RegionWindowList windows;
    ComputeDistanceMaps(pipeline.regions, pipeline.c.parameters, maps, windows);
    EXPECT_EQ(windows, WindowsOf(pipeline.origins, pipeline.ends, pipeline.foreground));
    EXPECT_TRUE(SameMaps(maps, pipeline.distance));
  }
}

TEST(OracleEquality, PairSortAndAgreementScore) {
  std::mt19937 random(10);
  for (int t = 0; t < 500; ++t) {
    const int n = 1 + static_cast<int>(random() % 40);
    std::vector<double> values(static_cast<std::size_t>(n));
    for (double& v : values) v = static_cast<double>(random() % 5) * 0.25 - 0.5;  // many ties
    std::vector<int> indices(values.size());
    for (int i = 0; i < n; ++i) indices[static_cast<std::size_t>(i)] = i;
    std::vector<double> oValues = values;
    std::vector<int> oIndices = indices;
    fusion::DescendingPairSort(values, indices, 0, n - 1);
    oracle::DescendingPairSort(oValues, oIndices, 0, n - 1);
    ASSERT_EQ(indices, oIndices);
    ASSERT_EQ(values, oValues);
  }
  for (std::uint32_t seed = 0; seed < kCases / 2; ++seed) {
    Pipeline pipeline(seed);
    SCOPED_TRACE(pipeline.c.description);
    oracle::MarkOtherScribbles(pipeline.regions, pipeline.c.interactionMap, pipeline.origins, pipeline.ends);
    for (std::size_t g = 0; g < pipeline.regions.size(); ++g) {
      const C3DPoint size = pipeline.ends[g] - pipeline.origins[g] + 1;
      for (const auto& reference : pipeline.references) {
        for (int t = 0; t < 5; ++t) {
          const C3DPoint offset(static_cast<int>(random() % 9) - 4, static_cast<int>(random() % 9) - 4,
                                static_cast<int>(random() % 5) - 2);
          const C3DPoint translated = pipeline.origins[g] + offset;
          const double p = fusion::AgreementScore(
              pipeline.c.segmentation, *pipeline.regions[g], {pipeline.origins[g], pipeline.ends[g]},
              *reference, translated - pipeline.boxMinimum, fusion::CorrectionParameters{});
          const double o = oracle::AgreementScore(pipeline.c.segmentation, *pipeline.regions[g], 2, 3,
                                                  oracle::kOtherBackground, pipeline.origins[g], *reference,
                                                  pipeline.boxMinimum, translated, size, 0.005, 0.1);
          EXPECT_TRUE(SameDouble(p, o)) << "region " << g;
        }
      }
    }
  }
}

TEST(OracleEquality, ProbabilityMaps) {
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = static_cast<int>(seed % 6);  // 0 references included
    Pipeline pipeline(seed, options);
    SCOPED_TRACE(pipeline.c.description);
    const fusion::CorrectionParameters& q = pipeline.c.parameters;
    CVoxelList pRegions = Copy(pipeline.regions);
    CVoxelList oRegions = Copy(pipeline.regions);
    CFVoxelList oMaps;
    const CFVoxelList pMaps = ComputeProbabilityMaps(
        pRegions, WindowsOf(pipeline.origins, pipeline.ends, pipeline.foreground), pipeline.c.segmentation,
        pipeline.c.interactionMap, Boxed(pipeline.references, pipeline.boxMinimum), q);
    oracle::ComputeProbabilityMaps(oRegions, pipeline.c.segmentation, pipeline.c.interactionMap,
                                   q.votingReferences, 2, 3, q.segmentationWeight, q.otherScribbleWeight,
                                   q.translationRange, q.translationStep, pipeline.origins, pipeline.ends,
                                   pipeline.references, pipeline.boxMinimum, oMaps);
    EXPECT_TRUE(SameMaps(pMaps, oMaps));
    EXPECT_TRUE(SameLists(pRegions, oRegions)) << "markers of other scribbles";
  }
}

TEST(OracleEquality, FusionOfPipelineMaps) {
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    Pipeline pipeline(seed);
    SCOPED_TRACE(pipeline.c.description);
    const fusion::CorrectionParameters& q = pipeline.c.parameters;
    CFVoxelList maps;
    oracle::ComputeProbabilityMaps(pipeline.regions, pipeline.c.segmentation, pipeline.c.interactionMap,
                                   q.votingReferences, 2, 3, q.segmentationWeight, q.otherScribbleWeight,
                                   q.translationRange, q.translationStep, pipeline.origins, pipeline.ends,
                                   pipeline.references, pipeline.boxMinimum, maps);
    auto p = Fuse(pipeline.c.interactionMap, pipeline.c.segmentation, pipeline.distance, maps,
                  WindowsOf(pipeline.origins, pipeline.ends, pipeline.foreground), q);
    auto o = oracle::Fuse(pipeline.c.interactionMap, pipeline.c.segmentation, pipeline.distance, maps,
                          pipeline.origins, pipeline.ends, pipeline.foreground, pipeline.background,
                          q.priorDistance, q.distanceScale);
    ASSERT_TRUE(p);
    EXPECT_TRUE(SameBits(*p, *o));
  }
}

// Overlapping windows with arbitrary distances and probabilities: every
// branch of the vote weights and the double sums, not only pipeline values.
TEST(OracleEquality, FusionOfRandomMaps) {
  std::mt19937 random(11);
  for (int t = 0; t < 80; ++t) {
    const int X = 6 + static_cast<int>(random() % 10), Y = 6 + static_cast<int>(random() % 10),
              Z = 2 + static_cast<int>(random() % 5);
    CVoxel map(X, Y, Z), segmentation(X, Y, Z);
    for (std::size_t i = 0; i < map.VoxelCount(); ++i) {
      const unsigned r = random() % 10;
      map[i] = static_cast<CVoxel::value_type>(r == 0 ? 2 : r == 1 ? 3 : r == 2 ? 1 : 0);
      segmentation[i] = static_cast<CVoxel::value_type>(random() % 3 == 0 ? 0 : random() % 3);
    }
    // Up to 15 windows of a kind, half of them covering most of the volume, so
    // that many voxels lie in many windows of both kinds.
    const int F = static_cast<int>(random() % 16), G = static_cast<int>(random() % 16);
    CFVoxelList distance, probability;
    CPointArray origins, ends;
    for (int l = 0; l < F + G; ++l) {
      const bool wide = random() % 2 == 0;
      C3DPoint o(static_cast<int>(random() % (wide ? 2 : X)), static_cast<int>(random() % (wide ? 2 : Y)),
                 static_cast<int>(random() % (wide ? 1 : Z)));
      C3DPoint e(o.x + static_cast<int>(random() % (X - o.x)), o.y + static_cast<int>(random() % (Y - o.y)),
                 o.z + static_cast<int>(random() % (Z - o.z)));
      if (wide)
        e = C3DPoint(X - 1 - static_cast<int>(random() % 2), Y - 1 - static_cast<int>(random() % 2), Z - 1);
      const C3DPoint s = e - o + 1;
      origins.push_back(o);
      ends.push_back(e);
      distance.push_back(std::make_unique<CFVoxel>(s));
      probability.push_back(std::make_unique<CFVoxel>(s));
      const int voters = 1 + static_cast<int>(random() % 7);
      const float reciprocal = 1.0f / static_cast<float>(voters);
      for (std::size_t i = 0; i < distance.back()->VoxelCount(); ++i) {
        (*distance.back())[i] = std::sqrt(static_cast<float>(random() % 400));
        (*probability.back())[i] = random() % 4 == 0
                                       ? static_cast<float>(random() % 1001) / 1000.0f
                                       : static_cast<float>(random() % (voters + 1)) * reciprocal;
      }
    }
    const double prior = static_cast<double>(random() % 30),
                 scale = 1.0 + static_cast<double>(random() % 200);
    fusion::CorrectionParameters weights;
    weights.priorDistance = prior;
    weights.distanceScale = scale;
    auto p = Fuse(map, segmentation, distance, probability, WindowsOf(origins, ends, F), weights);
    auto o = oracle::Fuse(map, segmentation, distance, probability, origins, ends, F, G, prior, scale);
    ASSERT_TRUE(p);
    EXPECT_TRUE(SameBits(*p, *o)) << "trial " << t;
  }
}

TEST(OracleEquality, ManualCorrection) {
  std::mt19937 random(12);
  for (std::uint32_t seed = 0; seed < kCases; ++seed) {
    oracle::RandomCase c = oracle::MakeRandomCase(seed);
    CVoxel strokes(c.segmentation.X, c.segmentation.Y, c.segmentation.Z);
    for (std::size_t i = 0; i < strokes.VoxelCount(); ++i)
      strokes[i] = static_cast<CVoxel::value_type>(random() % 4 == 0 ? random() % 6 : 0);
    CVoxel pMap(c.interactionMap), oMap(c.interactionMap);
    MergeStrokes(pMap, strokes);
    oracle::MergeStrokes(oMap, strokes);
    EXPECT_TRUE(SameVoxels(pMap, oMap));
    CVoxel pLabel(c.segmentation), oLabel(c.segmentation);
    ApplyScribbles(pLabel, pMap);
    oracle::ApplyScribbles(oLabel, oMap);
    EXPECT_TRUE(SameVoxels(pLabel, oLabel));
  }
}

}  // namespace
