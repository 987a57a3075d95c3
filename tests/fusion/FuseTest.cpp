#include <gtest/gtest.h>

#include <cmath>

#include "FullSizeStages.h"
#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"

namespace {

const double kPrior = std::exp(-1.0);  // the segmentation's weight: a vote 10 voxels away

// A line of voxels with windows whose distance and probability maps are given
// voxel by voxel.
struct FuseCase {
  explicit FuseCase(int length) : map(length, 1, 1), segmentation(length, 1, 1) {}

  void AddWindow(int first, std::vector<float> distances, std::vector<float> probabilities) {
    const int n = static_cast<int>(distances.size());
    origins.push_back({first, 0, 0});
    ends.push_back({first + n - 1, 0, 0});
    distanceMaps.push_back(std::make_unique<CFVoxel>(n, 1, 1));
    probabilityMaps.push_back(std::make_unique<CFVoxel>(n, 1, 1));
    for (int i = 0; i < n; ++i) {
      (*distanceMaps.back())[i] = distances[i];
      (*probabilityMaps.back())[i] = probabilities[i];
    }
  }
  std::unique_ptr<CFVoxel> Run(int foreground, int background) const {
    // Windows beyond the counts are empty ones: lists of different lengths.
    fusion::RegionWindowList windows = WindowsOf(origins, ends, foreground);
    windows.resize(static_cast<std::size_t>(foreground + background),
                   fusion::RegionWindow{{}, {-1, -1, -1}, fusion::ScribbleKind::Background});
    return Fuse(map, segmentation, distanceMaps, probabilityMaps, windows, fusion::CorrectionParameters{});
  }
  float At(int x, int foreground, int background) const {
    const auto result = Run(foreground, background);
    return result ? result->At(x, 0, 0) : -1.0f;
  }

  CVoxel map;
  CVoxel segmentation;
  CFVoxelList distanceMaps;
  CFVoxelList probabilityMaps;
  CPointArray origins;
  CPointArray ends;
};

const float kThreeSevenths = 3.0f * (1.0f / 7.0f);
const float kTwoSevenths = 2.0f * (1.0f / 7.0f);

TEST(Fuse, WorkedExamples) {
  FuseCase onRegion(1);
  onRegion.AddWindow(0, {0.0f}, {1.0f});
  EXPECT_EQ(onRegion.At(0, 1, 0), static_cast<float>(5.0 / (5.0 + kPrior)));
  EXPECT_NEAR(onRegion.At(0, 1, 0), 0.9315, 5e-5);

  FuseCase notConfident(1);
  notConfident.segmentation[0] = 1;
  notConfident.AddWindow(0, {10.0f}, {kThreeSevenths});
  EXPECT_NEAR(notConfident.At(0, 1, 0), 5.0 / 7.0, 1e-6);

  // The same window counted as a background region.
  FuseCase background(1);
  background.segmentation[0] = 1;
  background.AddWindow(0, {0.0f}, {0.0f});
  EXPECT_NEAR(background.At(0, 0, 1), 0.0685, 5e-5);
  EXPECT_NEAR(background.At(0, 1, 0), kPrior / (1.0 + kPrior), 1e-6);
  (*background.probabilityMaps[0])[0] = kTwoSevenths;
  EXPECT_NEAR(background.At(0, 0, 1), 0.4778, 5e-5);

  FuseCase two(1);
  two.AddWindow(0, {0.0f}, {1.0f});
  two.AddWindow(0, {0.0f}, {1.0f});
  EXPECT_NEAR(two.At(0, 2, 0), 0.9505, 1e-4);
  EXPECT_NEAR(two.At(0, 2, 0), 10.0 / std::sqrt(2.0) / (10.0 / std::sqrt(2.0) + kPrior), 1e-6);
}

TEST(Fuse, ConfidenceBoostNeedsProbabilityStrictlyAboveHalf) {
  FuseCase half(1);
  half.AddWindow(0, {0.0f}, {0.5f});
  EXPECT_NEAR(half.At(0, 1, 0), 0.5 / (1.0 + kPrior), 1e-6);
}

TEST(Fuse, ScribblesAndVoxelsOutsideEveryWindowAreExact) {
  FuseCase c(5);
  c.map[0] = 2;
  c.map[1] = 3;
  c.segmentation[1] = 1;
  c.segmentation[3] = 1;
  c.AddWindow(0, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 1.0f});
  const auto result = c.Run(0, 1);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->At(0, 0, 0), 1.0f);
  EXPECT_EQ(result->At(1, 0, 0), 0.0f);
  EXPECT_EQ(result->At(3, 0, 0), 1.0f);
  EXPECT_EQ(result->At(4, 0, 0), 0.0f);
}

TEST(Fuse, WindowsAreReadAtTheVoxelsLocalPosition) {
  FuseCase c(3);
  c.AddWindow(1, {0.0f, 10.0f}, {1.0f, 1.0f});
  const auto result = c.Run(1, 0);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->At(0, 0, 0), 0.0f);
  EXPECT_NEAR(result->At(1, 0, 0), 5.0 / (5.0 + kPrior), 1e-6);
  EXPECT_NEAR(result->At(2, 0, 0), 5.0 / 6.0, 1e-6);
}

TEST(Fuse, InputsThatDoNotFitAreRefused) {
  FuseCase c(3);
  c.AddWindow(1, {0.0f, 0.0f}, {1.0f, 1.0f});
  EXPECT_TRUE(c.Run(1, 0));
  EXPECT_FALSE(c.Run(1, 1));  // counts do not match the lists
  c.ends[0].x = 3;            // window beyond the volume
  EXPECT_FALSE(c.Run(1, 0));
  c.ends[0].x = 1;  // window smaller than its maps
  EXPECT_FALSE(c.Run(1, 0));
  c.ends[0].x = 2;
  c.segmentation = CVoxel(4, 1, 1);
  EXPECT_FALSE(c.Run(1, 0));
}

}  // namespace
