#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "FullSizeStages.h"
#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace {

struct Maps {
  CFVoxelList maps;
  CPointArray origins;
  CPointArray ends;
};

Maps Compute(const CVoxelList& regions, const C3DPoint& margin = {18, 18, 6}) {
  Maps m;
  fusion::RegionWindowList windows;
  ComputeDistanceMaps(regions, RegionParameters(margin), m.maps, windows);
  m.origins = Origins(windows);
  m.ends = Ends(windows);
  return m;
}

CVoxelList OneRegion(CVoxel region) {
  CVoxelList list;
  list.push_back(std::make_unique<CVoxel>(std::move(region)));
  return list;
}

TEST(DistanceMaps, SingleVoxelInTheMiddle) {
  const Maps m = Compute(OneRegion(VolumeWith({100, 100, 40}, {{50, 50, 20, 2}})));
  ASSERT_EQ(m.maps.size(), 1u);
  EXPECT_EQ(m.origins[0], (C3DPoint{32, 32, 14}));
  EXPECT_EQ(m.ends[0], (C3DPoint{68, 68, 26}));
  const CFVoxel& d = *m.maps[0];
  ASSERT_EQ(d.Size(), (C3DPoint{37, 37, 13}));
  EXPECT_EQ(d.At(18, 18, 6), 0.0f);
  EXPECT_EQ(d.At(17, 18, 6), 1.0f);
  EXPECT_EQ(d.At(18, 19, 6), 1.0f);
  EXPECT_EQ(d.At(18, 18, 5), 1.0f);
  EXPECT_EQ(d.At(19, 17, 6), std::sqrt(2.0f));
  EXPECT_EQ(d.At(17, 19, 7), std::sqrt(3.0f));
  EXPECT_EQ(d.At(0, 18, 6), 18.0f);
  EXPECT_EQ(d.At(36, 18, 6), 18.0f);
  // Isotropic: six slices up is 6, not 18.
  EXPECT_EQ(d.At(18, 18, 12), 6.0f);
  EXPECT_EQ(d.At(18, 18, 0), 6.0f);
}

TEST(DistanceMaps, WindowsClipAtTheBorderAndFollowTheRegionOrder) {
  CVoxelList regions = OneRegion(VolumeWith({100, 100, 40}, {{0, 5, 5, 3}}));
  regions.push_back(std::make_unique<CVoxel>(VolumeWith({100, 100, 40}, {{99, 99, 39, 3}})));
  regions.push_back(std::make_unique<CVoxel>(100, 100, 40));  // no voxel: empty window
  const Maps m = Compute(regions);
  ASSERT_EQ(m.maps.size(), 3u);
  EXPECT_EQ(m.origins[0], (C3DPoint{0, 0, 0}));
  EXPECT_EQ(m.ends[0], (C3DPoint{18, 23, 11}));
  EXPECT_EQ(m.maps[0]->Size(), (C3DPoint{19, 24, 12}));
  EXPECT_EQ(m.maps[0]->At(0, 5, 5), 0.0f);
  EXPECT_EQ(m.origins[1], (C3DPoint{81, 81, 33}));
  EXPECT_EQ(m.ends[1], (C3DPoint{99, 99, 39}));
  EXPECT_EQ(m.maps[1]->Size(), (C3DPoint{19, 19, 7}));
  EXPECT_EQ(m.maps[1]->At(18, 18, 6), 0.0f);
  EXPECT_TRUE(fusion::IsEmptyWindow({m.origins[2], m.ends[2]}));
  EXPECT_EQ(m.maps[2]->VoxelCount(), 0u);
}

TEST(DistanceMaps, LineTransformIsTheExactLowerEnvelope) {
  std::mt19937 random(3);
  fusion::SquaredDistanceLine line(16);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + static_cast<int>(random() % 16);
    std::vector<float> f(n), d(n);
    for (float& v : f) v = random() % 3 == 0 ? static_cast<float>(random() % 50) : fusion::kFarAway;
    line.Transform(f.data(), n, d.data());
    for (int q = 0; q < n; ++q) {
      float best = fusion::kFarAway;
      for (int p = 0; p < n; ++p) best = std::min(best, static_cast<float>((q - p) * (q - p)) + f[p]);
      ASSERT_EQ(d[q], best) << "round " << round << " q " << q;
    }
  }
}

TEST(DistanceMaps, TransformEqualsBruteForceDistances) {
  std::mt19937 random(5);
  for (int round = 0; round < 10; ++round) {
    CVoxel mask(9, 7, 5);
    for (std::size_t i = 0; i < mask.VoxelCount(); ++i) mask[i] = random() % 40 == 0 ? 2 : 0;
    mask.At(4, 3, 2) = 2;
    CFVoxel map;
    fusion::DistanceTransform(mask, map);
    ASSERT_EQ(map.Size(), mask.Size());
    for (int z = 0; z < 5; ++z)
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
          int best = 1 << 30;
          for (int c = 0; c < 5; ++c)
            for (int b = 0; b < 7; ++b)
              for (int a = 0; a < 9; ++a)
                if (mask.At(a, b, c) != 0)
                  best = std::min(best, (x - a) * (x - a) + (y - b) * (y - b) + (z - c) * (z - c));
          ASSERT_EQ(map.At(x, y, z), std::sqrt(static_cast<float>(best))) << x << "," << y << "," << z;
        }
  }
}

}  // namespace
