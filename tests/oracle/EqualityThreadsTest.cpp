// The fast paths of the production engine against the oracle: regions kept
// over their bounding boxes, probability maps from exact counts and vector
// sums, references registered on several threads, and whole runs with every
// thread count, on random cases, scores full of ties and many scribble dots.
#include <gtest/gtest.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "FullSizeStages.h"
#include "Phantom.h"
#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"
#include "correction/Registration.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/Parallel.h"
#include "tests/TsanLibrarySuppressions.h"
#include "tests/oracle/EqualityHelpers.h"
#include "tests/oracle/Oracle.h"
#include "tests/oracle/RandomCase.h"

namespace {

using oracle::SameBits;
using oracle::SameVoxels;

constexpr int kThreadCounts[] = {1, 2, 3};

::testing::AssertionResult SameMaps(const CFVoxelList& production, const CFVoxelList& expected) {
  if (production.size() != expected.size())
    return ::testing::AssertionFailure() << production.size() << " maps vs " << expected.size();
  for (std::size_t i = 0; i < production.size(); ++i) {
    auto same = SameBits(*production[i], *expected[i]);
    if (!same) return same << " (map " << i << ")";
  }
  return ::testing::AssertionSuccess();
}

// Separate dots of both kinds where they contradict the segmentation: many
// components, pair unions and neighbourhood unions.
void PaintDots(oracle::RandomCase& c, std::uint32_t seed, int dots) {
  std::mt19937 random(seed);
  c.interactionMap = CVoxel(c.segmentation.Size());
  for (int d = 0; d < dots; ++d) {
    const int x = static_cast<int>(random() % static_cast<unsigned>(c.segmentation.X));
    const int y = static_cast<int>(random() % static_cast<unsigned>(c.segmentation.Y));
    const int z = static_cast<int>(random() % static_cast<unsigned>(c.segmentation.Z));
    c.interactionMap.At(x, y, z) = static_cast<CVoxel::value_type>(random() % 2 == 0 ? 2 : 3);
  }
}

// The oracle's stages up to the probability maps, and the production's
// regions of the same case.
struct Stages {
  oracle::RandomCase c;
  C3DPoint boxMinimum, boxMaximum;
  CVoxelList references;
  CVoxelList regions;
  int foreground = 0, background = 0;
  CFVoxelList distance;
  CPointArray origins, ends;
  fusion::ScribbleRegionList compact;

  explicit Stages(oracle::RandomCase randomCase) : c(std::move(randomCase)) {
    oracle::EnlargedBoundingBox(c.segmentation, {20, 20, 20}, boxMinimum, boxMaximum);
    for (const CVoxel& r : c.references)
      if (auto registered =
              oracle::RegisterReference(c.segmentation, r, boxMinimum, boxMaximum - boxMinimum + 1))
        references.push_back(std::move(registered));
    oracle::ExtractScribbleRegions(c.interactionMap, c.segmentation, 2, 3, c.parameters.pairDistance,
                                   c.parameters.neighbourhoodMargin, regions, foreground, background);
    oracle::ComputeDistanceMaps(regions, c.parameters.neighbourhoodMargin, distance, origins, ends);
    ExtractScribbleRegions(c.interactionMap, c.segmentation, c.parameters, compact);
  }

  // Both probability-map stages with the given weights; production at every thread count.
  void ExpectSameProbabilityMaps(double segmentationWeight, double otherScribbleWeight) {
    const fusion::CorrectionParameters& q = c.parameters;
    CVoxelList marked;
    for (const auto& r : regions) marked.push_back(std::make_unique<CVoxel>(*r));
    CFVoxelList expected;
    oracle::ComputeProbabilityMaps(marked, c.segmentation, c.interactionMap, q.votingReferences, 2, 3,
                                   segmentationWeight, otherScribbleWeight, q.translationRange,
                                   q.translationStep, origins, ends, references, boxMinimum, expected);
    const fusion::BoxedReferences boxed = Boxed(references, boxMinimum);
    for (const int threads : kThreadCounts) {
      const CFVoxelList maps = ComputeProbabilityMaps(
          compact, WindowsOf(origins, ends, foreground), c.segmentation, c.interactionMap, boxed,
          VoteParameters(q.votingReferences, segmentationWeight, otherScribbleWeight, q.translationRange,
                         q.translationStep, threads));
      EXPECT_TRUE(SameMaps(maps, expected))
          << threads << " threads, weights " << segmentationWeight << ", " << otherScribbleWeight;
    }
  }
};

TEST(OracleEqualityFast, CompactRegionsWindowsAndDistanceMaps) {
  for (std::uint32_t seed = 0; seed < 40; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 0;
    options.strokes = 2 + static_cast<int>(seed % 15);
    oracle::RandomCase c = oracle::MakeRandomCase(500 + seed, options);
    if (seed % 4 == 3) PaintDots(c, seed, 25);
    const Stages s(std::move(c));
    SCOPED_TRACE(s.c.description);
    ASSERT_EQ(s.compact.size(), s.regions.size());
    for (std::size_t i = 0; i < s.regions.size(); ++i)
      ASSERT_TRUE(SameVoxels(*fusion::ExpandRegion(s.compact[i]), *s.regions[i])) << "region " << i;
    CFVoxelList maps;
    fusion::RegionWindowList windows;
    ComputeDistanceMaps(s.compact, s.c.parameters, maps, windows);
    EXPECT_EQ(windows, WindowsOf(s.origins, s.ends, s.foreground));
    EXPECT_TRUE(SameMaps(maps, s.distance));
  }
}

TEST(OracleEqualityFast, ProbabilityMapsForEveryThreadCount) {
  for (std::uint32_t seed = 0; seed < 16; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 1 + static_cast<int>(seed % 11);  // up to 11: two groups of eight lanes
    options.strokes = 3 + static_cast<int>(seed % 5);
    // The worker's 729 translations on tiny volumes, or small random ranges and steps.
    options.smallParameters = seed % 2 == 0;
    if (!options.smallParameters) {
      options.minSize[0] = options.minSize[1] = 14;
      options.maxSize[0] = options.maxSize[1] = 20;
      options.minSize[2] = 5;
      options.maxSize[2] = 7;
    }
    oracle::RandomCase c = oracle::MakeRandomCase(600 + seed, options);
    if (seed % 3 == 2) PaintDots(c, seed, 12);
    Stages s(std::move(c));
    SCOPED_TRACE(s.c.description);
    s.ExpectSameProbabilityMaps(s.c.parameters.segmentationWeight, s.c.parameters.otherScribbleWeight);
  }
}

// Weights that make many scores equal (zeros, exact binary fractions, equal
// weights), weights too large or not finite for the counts to bound the sums,
// identical references (equal best scores) and references that miss most
// windows (every translation scores the same).
TEST(OracleEqualityFast, ScoresFullOfTies) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  const double weights[][2] = {{0.0, 0.0},      {0.25, 0.5}, {1.0, 1.0},       {0.1, 0.005},
                               {1e300, 1e-300}, {nan, 0.1},  {0.005, infinity}};
  for (std::uint32_t seed = 0; seed < 6; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 3;
    options.strokes = 6;
    oracle::RandomCase c = oracle::MakeRandomCase(700 + seed, options);
    c.parameters.votingReferences = 2 + static_cast<int>(seed % 3);
    Stages s(std::move(c));
    SCOPED_TRACE(s.c.description);
    ASSERT_FALSE(s.references.empty());
    // Registered references: a copy of the first one, and a small blob in a
    // corner of the box that most windows never reach.
    s.references.push_back(std::make_unique<CVoxel>(*s.references.front()));
    auto corner = std::make_unique<CVoxel>(s.references.front()->Size());
    corner->At(0, 0, 0) = corner->At(1, 0, 0) = 1;
    s.references.push_back(std::move(corner));
    for (const auto& w : weights) s.ExpectSameProbabilityMaps(w[0], w[1]);
  }
}

// Weights whose sums tie in decimal but not in binary (0.3 + 0.7 against 1) on
// tiny windows: the best translation is often decided by the rounding of the
// double-precision sums, not by their real values, so only the exact sums of
// every translation close to the best pick the same one.
TEST(OracleEqualityFast, TranslationsWithinRoundingOfTheBest) {
  std::mt19937 random(12);
  const C3DPoint size{7, 2, 1};
  const C3DPoint boxMinimum{-1, -1, 0};
  for (int trial = 0; trial < 300; ++trial) {
    const int own = random() % 2 == 0 ? 2 : 3;
    CVoxel region(size), map(size), segmentation(size);
    for (std::size_t i = 0; i < region.VoxelCount(); ++i) {
      const unsigned kind = random() % 6;
      if (kind == 0) {
        region[i] = static_cast<CVoxel::value_type>(own);
        map[i] = static_cast<CVoxel::value_type>(own);
      } else if (kind <= 2) {
        map[i] = static_cast<CVoxel::value_type>(random() % 2 == 0 ? 2 : 3);
      }
      segmentation[i] = static_cast<CVoxel::value_type>(random() % 2);
    }
    CVoxelList references;
    for (int r = 0; r < 3; ++r) {
      references.push_back(std::make_unique<CVoxel>(9, 4, 1));
      for (std::size_t i = 0; i < references.back()->VoxelCount(); ++i)
        (*references.back())[i] = static_cast<CVoxel::value_type>(random() % 2);
    }
    const CPointArray origins{{0, 0, 0}}, ends{{6, 1, 0}};
    CVoxelList full;
    full.push_back(std::make_unique<CVoxel>(region));
    CFVoxelList expected;
    oracle::ComputeProbabilityMaps(full, segmentation, map, 1 + trial % 2, 2, 3, 0.7, 0.3, {1, 1, 0},
                                   {1, 1, 1}, origins, ends, references, boxMinimum, expected);
    const fusion::ScribbleRegionList compact{fusion::CompactRegion(region)};
    for (const int threads : {1, 2}) {
      const CFVoxelList maps = ComputeProbabilityMaps(
          compact, WindowsOf(origins, ends, 1), segmentation, map, Boxed(references, boxMinimum),
          VoteParameters(1 + trial % 2, 0.7, 0.3, {1, 1, 0}, {1, 1, 1}, threads));
      ASSERT_TRUE(SameMaps(maps, expected)) << "trial " << trial << ", " << threads << " threads";
    }
  }
}

TEST(OracleEqualityFast, ReferenceSetForEveryThreadCount) {
  oracle::RandomCaseOptions options;
  options.references = 7;
  const oracle::RandomCase c = oracle::MakeRandomCase(800, options);
  C3DPoint lo, hi;
  oracle::EnlargedBoundingBox(c.segmentation, {20, 20, 20}, lo, hi);
  std::vector<std::string> paths = {"0", "none", "1", "2", "3", "4", "5", "6", "empty"};
  const auto load = [&c](const std::string& path) -> std::unique_ptr<CVoxel> {
    if (path == "none") return nullptr;
    if (path == "empty") return std::make_unique<CVoxel>(8, 8, 8);
    return std::make_unique<CVoxel>(c.references[std::stoul(path)]);
  };
  volume::RecordingSink oMessages;
  CVoxelList expected;
  oracle::RegisterReferenceLabels(c.segmentation, paths, load, lo, hi - lo + 1, expected, oMessages);
  for (const int threads : {1, 2, 4, 16}) {
    volume::RecordingSink messages;
    CVoxelList registered;
    RegisterReferenceLabels(c.segmentation, paths, load, {lo, hi - lo + 1, threads}, registered, messages);
    ASSERT_EQ(registered.size(), expected.size()) << threads << " threads";
    for (std::size_t i = 0; i < registered.size(); ++i)
      EXPECT_TRUE(SameVoxels(*registered[i], *expected[i])) << threads << " threads, reference " << i;
    // The skipped references are named in path order whatever thread saw them.
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_LT(messages.messages[0].find("[none]"), messages.messages[0].find("[empty]"));
  }
}

// Whole runs: random cases with many separate dots and a phantom case with the
// worker's parameters, each at every thread count.
TEST(OracleEqualityFast, WholeRunsForEveryThreadCount) {
  std::vector<oracle::RandomCase> cases;
  for (std::uint32_t seed = 0; seed < 4; ++seed) {
    oracle::RandomCaseOptions options;
    options.references = 2 + static_cast<int>(seed);
    oracle::RandomCase c = oracle::MakeRandomCase(900 + seed, options);
    PaintDots(c, seed, 20 + 5 * static_cast<int>(seed));
    cases.push_back(std::move(c));
  }
  {
    phantom::PhantomOptions options;
    options.size = {48, 48, 8};
    options.references = 4;
    options.strokes = 3;
    options.seed = 5;
    phantom::PhantomCase generated = phantom::GeneratePhantom(options);
    oracle::RandomCase c;
    c.segmentation = std::move(generated.segmentation);
    c.interactionMap = std::move(generated.scribbles);
    for (auto& r : generated.references) c.references.push_back(std::move(*r));
    c.description = "phantom 48x48x8, seed 5";
    cases.push_back(std::move(c));
  }
  for (const oracle::RandomCase& c : cases) {
    SCOPED_TRACE(c.description);
    std::vector<std::string> paths;
    for (std::size_t r = 0; r < c.references.size(); ++r) paths.push_back(std::to_string(r));
    const auto load = [&c](const std::string& path) {
      return std::make_unique<CVoxel>(c.references[std::stoul(path)]);
    };
    CVoxel expected(c.segmentation);
    volume::RecordingSink oLog, oMessages;
    ASSERT_TRUE(oracle::SemiAutomaticCorrection(expected, c.interactionMap, paths, load, c.parameters, oLog,
                                                oMessages));
    for (const int threads : kThreadCounts) {
      fusion::CorrectionParameters parameters = c.parameters;
      parameters.threads = threads;
      CVoxel corrected(c.segmentation);
      volume::RecordingSink log, messages;
      ASSERT_TRUE(RunSemiAutomaticCorrection(corrected, c.interactionMap, paths, parameters, {log, messages},
                                             {load}));
      EXPECT_EQ(log.lines, oLog.lines);
      EXPECT_TRUE(SameVoxels(corrected, expected)) << threads << " threads";
    }
    // As the window runs it: the second run registers the references the
    // first one kept.
    correction::ReferenceCache kept;
    for (int run = 0; run < 2; ++run) {
      fusion::CorrectionParameters parameters = c.parameters;
      parameters.threads = 2;
      CVoxel corrected(c.segmentation);
      volume::RecordingSink log, messages;
      ASSERT_TRUE(RunSemiAutomaticCorrection(corrected, c.interactionMap, paths, parameters, {log, messages},
                                             {load, &kept}));
      EXPECT_EQ(log.lines, oLog.lines);
      EXPECT_EQ(messages.messages, oMessages.messages);
      EXPECT_TRUE(SameVoxels(corrected, expected)) << "run " << run << " with the references kept";
    }
  }
}

// One registration target answering many registrations on several threads at
// once, with ties that its cell locator settles, gives VTK's matrices.
TEST(OracleEqualityFast, OneRegistrationTargetSharedByThreads) {
  const auto block = [](const C3DPoint& last) {
    CVoxel label(40, 34, 18);
    for (int z = 4; z <= last.z; ++z)
      for (int y = 6; y <= last.y; ++y)
        for (int x = 8; x <= last.x; ++x) label.At(x, y, z) = 1;
    return label;
  };
  const CVoxel targetLabel = block({20, 18, 11});
  const CBoundaryPoints targetPoints(targetLabel);
  const correction::RegistrationTarget target(targetPoints);
  // Sources one voxel longer or shorter on an axis: the centroids differ by
  // half a voxel, which puts landmarks halfway between target voxels.
  std::vector<CVoxel> sources;
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy)
      for (int dz = 0; dz <= 1; ++dz) sources.push_back(block({20 + dx, 18 + dy, 11 + dz}));
  std::vector<oracle::Matrix4> matrices(sources.size());
  geometry::ParallelFor(4, static_cast<int>(sources.size()), [&](int i) {
    vtkNew<vtkMatrix4x4> m;
    RegisterSurfaces(CBoundaryPoints(sources[static_cast<std::size_t>(i)]), target, *m, 100,
                     correction::LandmarkMode::Affine);
    for (int e = 0; e < 16; ++e)
      matrices[static_cast<std::size_t>(i)][static_cast<std::size_t>(e)] = m->GetElement(e / 4, e % 4);
  });
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const oracle::Matrix4 expected = oracle::RegisterSurfaces(oracle::BoundaryPoints(sources[i]),
                                                              oracle::BoundaryPoints(targetLabel), 100, 2);
    EXPECT_EQ(std::memcmp(matrices[i].data(), expected.data(), sizeof(double) * 16), 0) << "source " << i;
  }
  EXPECT_GT(target.LocatorQueries(), 0);
}

}  // namespace
