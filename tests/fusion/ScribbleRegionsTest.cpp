#include <gtest/gtest.h>

#include <random>

#include "FullSizeStages.h"
#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace {

struct Regions {
  CVoxelList list;
  int foreground = -1;
  int background = -1;
};

Regions Extract(const CVoxel& map, const CVoxel& segmentation, const C3DPoint& margin = {18, 18, 6}) {
  Regions r;
  const fusion::RegionCounts counts =
      ExtractScribbleRegions(map, segmentation, RegionParameters(margin), r.list);
  r.foreground = counts.foreground;
  r.background = counts.background;
  return r;
}

// The expected region: value 2 on the listed voxels of each line (x from..to at y, z).
struct Line {
  int from, to, y, z;
};
CVoxel Region(const C3DPoint& size, std::initializer_list<Line> lines) {
  CVoxel region(size);
  for (const Line& l : lines) FillBox(region, {l.from, l.y, l.z}, {l.to, l.y, l.z}, 2);
  return region;
}

bool Equal(const CVoxel& a, const CVoxel& b) {
  return a.SameSize(b) && std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

TEST(ScribbleRegions, OnlyContradictingScribblesFormRegionsForegroundFirst) {
  const C3DPoint size{10, 10, 4};
  CVoxel segmentation(size);
  FillBox(segmentation, {0, 0, 0}, {4, 4, 3}, 1);
  // Agreeing: 2 inside, 3 outside. Contradicting: 3 inside (first in scan order), 2 outside.
  const CVoxel map = VolumeWith(size, {{1, 1, 0, 3}, {2, 2, 1, 2}, {8, 8, 2, 3}, {8, 8, 3, 2}});
  const Regions r = Extract(map, segmentation);
  ASSERT_EQ(r.list.size(), 2u);
  EXPECT_EQ(r.foreground, 1);
  EXPECT_EQ(r.background, 1);
  EXPECT_TRUE(Equal(*r.list[0], VolumeWith(size, {{8, 8, 3, 2}})));
  EXPECT_TRUE(Equal(*r.list[1], VolumeWith(size, {{1, 1, 0, 3}})));

  const Regions none = Extract(VolumeWith(size, {{2, 2, 1, 2}, {8, 8, 2, 3}}), segmentation);
  EXPECT_TRUE(none.list.empty());
  EXPECT_EQ(none.foreground + none.background, 0);
}

TEST(ScribbleRegions, EdgeContactGivesTwoComponentsAndTheirPairUnion) {
  // The two neighbourhood unions equal the pair union and are dropped.
  const C3DPoint size{8, 8, 4};
  const CVoxel map = VolumeWith(size, {{2, 2, 2, 2}, {3, 3, 2, 2}});
  const Regions r = Extract(map, CVoxel(size));
  ASSERT_EQ(r.list.size(), 3u);
  EXPECT_EQ(r.foreground, 3);
  EXPECT_TRUE(Equal(*r.list[0], VolumeWith(size, {{2, 2, 2, 2}})));
  EXPECT_TRUE(Equal(*r.list[1], VolumeWith(size, {{3, 3, 2, 2}})));
  EXPECT_TRUE(Equal(*r.list[2], map));
}

TEST(ScribbleRegions, PairUnionNeedsNearbySlicesAndStrictlySmallerDistance) {
  struct Case {
    C3DPoint second;
    bool pairs;
  };
  const Case cases[] = {{{0, 0, 4}, false},  {{0, 0, 3}, true},    {{38, 0, 3}, true}, {{39, 0, 3}, false},
                        {{40, 0, 0}, false}, {{24, 32, 0}, false}, {{39, 0, 0}, true}};
  const C3DPoint size{45, 35, 5};
  for (const Case& c : cases) {
    // A zero margin keeps every neighbourhood box away from the other voxel.
    const CVoxel map = VolumeWith(size, {{0, 0, 0, 2}, {c.second.x, c.second.y, c.second.z, 2}});
    const Regions r = Extract(map, CVoxel(size), {0, 0, 0});
    EXPECT_EQ(r.list.size(), c.pairs ? 3u : 2u) << c.second.x << "," << c.second.y << "," << c.second.z;
    EXPECT_EQ(fusion::FormsPair({0, 0, 0}, c.second, 40.0), c.pairs);
  }
}

TEST(ScribbleRegions, NeighbourhoodUnionKeepsOnlyTheLastTouchingComponent) {
  // Three lines too far apart (or too many slices apart) to pair, each within
  // the margin of both others. In scan order: A (z 0), C (z 2), B (z 4).
  const C3DPoint size{100, 1, 5};
  CVoxel map(size);
  FillBox(map, {0, 0, 0}, {40, 0, 0}, 2);
  FillBox(map, {50, 0, 2}, {90, 0, 2}, 2);
  FillBox(map, {0, 0, 4}, {40, 0, 4}, 2);
  const Regions r = Extract(map, CVoxel(size));
  const CVoxel a = Region(size, {{0, 40, 0, 0}});
  const CVoxel c = Region(size, {{50, 90, 0, 2}});
  const CVoxel b = Region(size, {{0, 40, 0, 4}});
  // A joins B only (not C); C joins B; B joins C again: a duplicate.
  ASSERT_EQ(r.list.size(), 5u);
  EXPECT_TRUE(Equal(*r.list[0], a));
  EXPECT_TRUE(Equal(*r.list[1], c));
  EXPECT_TRUE(Equal(*r.list[2], b));
  EXPECT_TRUE(Equal(*r.list[3], Region(size, {{0, 40, 0, 0}, {0, 40, 0, 4}})));
  EXPECT_TRUE(Equal(*r.list[4], Region(size, {{50, 90, 0, 2}, {0, 40, 0, 4}})));
}

// Reference growth: repeated scans until nothing joins.
CVoxel GrowByScans(const CVoxel& mask) {
  CVoxel grown(mask.Size());
  std::size_t seed = 0;
  while (seed < mask.VoxelCount() && mask[seed] == 0) ++seed;
  if (seed == mask.VoxelCount()) return grown;
  grown[seed] = 1;
  for (bool changed = true; changed;) {
    changed = false;
    for (int z = 0; z < mask.Z; ++z)
      for (int y = 0; y < mask.Y; ++y)
        for (int x = 0; x < mask.X; ++x) {
          if (grown.At(x, y, z) != 0 || mask.At(x, y, z) <= 0) continue;
          const C3DPoint n[6] = {{x - 1, y, z}, {x + 1, y, z}, {x, y - 1, z},
                                 {x, y + 1, z}, {x, y, z - 1}, {x, y, z + 1}};
          for (const C3DPoint& p : n)
            if (grown.Contains(p.x, p.y, p.z) && grown.At(p.x, p.y, p.z) == 1) {
              grown.At(x, y, z) = 1;
              changed = true;
              break;
            }
        }
  }
  return grown;
}

TEST(ScribbleRegions, GrowComponentReachesTheWholeSixConnectedComponent) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    CVoxel mask(9, 8, 6);
    for (std::size_t i = 0; i < mask.VoxelCount(); ++i) mask[i] = random() % 100 < 55 ? 1 : 0;
    const auto grown = fusion::GrowComponent(mask);
    ASSERT_TRUE(grown);
    EXPECT_TRUE(Equal(*grown, GrowByScans(mask))) << "round " << round;
  }
  const auto empty = fusion::GrowComponent(CVoxel(3, 3, 3));
  EXPECT_EQ(empty->CountNonZero(), 0);
}

}  // namespace
