// Scribble regions kept over their bounding boxes: the same regions as full
// volumes, in memory that follows the scribbles.
#include <gtest/gtest.h>

#include <random>

#include "FullSizeStages.h"
#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"
#include "geometry/LabelGeometry.h"

namespace {

bool Equal(const CVoxel& a, const CVoxel& b) {
  return a.SameSize(b) && std::equal(a.Data(), a.Data() + a.VoxelCount(), b.Data());
}

TEST(CompactRegions, HoldOnlyTheirBoxAndExpandToTheFullRegions) {
  // Two dots far apart in a large volume and a stroke next to one of them.
  const C3DPoint size{400, 300, 20};
  CVoxel map(size);
  map.At(10, 10, 0) = 2;
  map.At(390, 290, 19) = 2;
  FillBox(map, {12, 10, 0}, {30, 12, 1}, 2);
  fusion::ScribbleRegionList compact;
  const fusion::CorrectionParameters parameters;
  const auto [foreground, background] = ExtractScribbleRegions(map, CVoxel(size), parameters, compact);
  CVoxelList full;
  EXPECT_EQ(ExtractScribbleRegions(map, CVoxel(size), parameters, full),
            (fusion::RegionCounts{foreground, background}));
  ASSERT_EQ(compact.size(), full.size());
  EXPECT_EQ(foreground, static_cast<int>(full.size()));
  EXPECT_EQ(background, 0);
  std::size_t held = 0;
  for (std::size_t i = 0; i < compact.size(); ++i) {
    EXPECT_TRUE(Equal(*fusion::ExpandRegion(compact[i]), *full[i])) << "region " << i;
    EXPECT_EQ(compact[i].volumeSize, size);
    held += compact[i].voxels.VoxelCount();
    // The box is tight: the region has a voxel on each of its faces.
    C3DPoint first, last;
    geometry::EnlargedBoundingBox(*full[i], {0, 0, 0}, first, last);
    EXPECT_EQ(compact[i].origin, first);
    EXPECT_EQ(compact[i].voxels.Size(), last - first + 1);
  }
  EXPECT_LT(held, 1000u);  // against 2.4 million voxels per full-size region
}

TEST(CompactRegions, WindowsAndConversionsAgreeWithTheFullVolumes) {
  std::mt19937 random(4);
  const C3DPoint size{30, 25, 9};
  for (int t = 0; t < 50; ++t) {
    CVoxel region(size);
    const int voxels = static_cast<int>(random() % 4);  // none sometimes
    for (int v = 0; v < voxels; ++v)
      region.At(static_cast<int>(random() % 30), static_cast<int>(random() % 25),
                static_cast<int>(random() % 9)) =
          static_cast<CVoxel::value_type>(random() % 2 ? 2 : -1);  // values <= 0 have no window
    const fusion::ScribbleRegion compact = fusion::CompactRegion(region);
    EXPECT_TRUE(Equal(*fusion::ExpandRegion(compact), region));
    if (region.CountNonZero() == 0) {
      EXPECT_FALSE(compact.voxels.HasData());
    }
    const C3DPoint margin{static_cast<int>(random() % 6), static_cast<int>(random() % 6),
                          static_cast<int>(random() % 3)};
    const fusion::RegionWindow window = fusion::WindowOf(compact, margin);
    const C3DPoint first = window.origin;
    const C3DPoint last = window.end;
    C3DPoint expectedFirst, expectedLast;
    geometry::EnlargedBoundingBox(region, margin, expectedFirst, expectedLast);
    if (fusion::IsEmptyWindow({expectedFirst, expectedLast})) {
      EXPECT_TRUE(fusion::IsEmptyWindow(window));
    } else {
      EXPECT_EQ(first, expectedFirst);
      EXPECT_EQ(last, expectedLast);
    }
  }
}

TEST(CompactRegions, TwentyDotsOfEachKindStayInBoundedMemory) {
  // Dots two voxels apart pair with each other and with their neighbours:
  // hundreds of regions, each a few voxels wide.
  const C3DPoint size{512, 512, 32};
  CVoxel map(size);
  CVoxel segmentation(size);
  FillBox(segmentation, {200, 200, 10}, {300, 300, 20}, 1);
  for (int d = 0; d < 20; ++d) {
    map.At(190 + 2 * (d % 5), 250 + 2 * (d / 5), 15) = 2;  // outside: contradicts
    map.At(250 + 2 * (d % 5), 250 + 2 * (d / 5), 15) = 3;  // inside: contradicts
  }
  fusion::ScribbleRegionList regions;
  const auto [foreground, background] =
      ExtractScribbleRegions(map, segmentation, fusion::CorrectionParameters{}, regions);
  // 20 components and 190 pair unions per value; every neighbourhood union
  // repeats a pair union.
  EXPECT_EQ(foreground, 210);
  EXPECT_EQ(background, 210);
  std::size_t held = 0;
  for (const fusion::ScribbleRegion& r : regions) held += r.voxels.VoxelCount();
  EXPECT_LT(held * sizeof(CVoxel::value_type), 1u << 20);  // not 420 x 16 MB
}

}  // namespace
