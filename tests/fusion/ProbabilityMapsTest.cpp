#include <gtest/gtest.h>

#include "FullSizeStages.h"
#include "FusionTestVolumes.h"
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace {

TEST(ProbabilityMaps, PairSortBreaksTiesByItsPartition) {
  // Entries >= the last one go left: equal scores do not keep their input order.
  std::vector<double> values{0, 0, 0, 1};
  std::vector<int> indices{0, 1, 2, 3};
  fusion::DescendingPairSort(values, indices, 0, 3);
  EXPECT_EQ(indices, (std::vector<int>{3, 1, 2, 0}));
  EXPECT_EQ(values, (std::vector<double>{1, 0, 0, 0}));

  values = {1, 2, 2};
  indices = {0, 1, 2};
  fusion::DescendingPairSort(values, indices, 0, 2);
  EXPECT_EQ(indices, (std::vector<int>{1, 2, 0}));

  EXPECT_EQ(fusion::TranslationOffsets(8, 2), (std::vector<int>{-8, -6, -4, -2, 0, 2, 4, 6, 8}));
  EXPECT_EQ(fusion::TranslationOffsets(2, 0), (std::vector<int>{-2, -1, 0, 1, 2}));
}

TEST(ProbabilityMaps, OtherScribblesAreMarkedInsideTheWindowOnly) {
  const C3DPoint size{10, 1, 1};
  CVoxelList regions;
  regions.push_back(std::make_unique<CVoxel>(VolumeWith(size, {{2, 0, 0, 2}})));
  const CVoxel map = VolumeWith(size, {{1, 0, 0, 3}, {2, 0, 0, 2}, {3, 0, 0, 2}, {4, 0, 0, 1}, {8, 0, 0, 3}});
  fusion::MarkOtherScribbles(regions, map, {fusion::RegionWindow{{0, 0, 0}, {5, 0, 0}}});
  const CVoxel expected = VolumeWith(size, {{1, 0, 0, 5}, {2, 0, 0, 2}, {3, 0, 0, 4}});
  EXPECT_TRUE(std::equal(expected.Data(), expected.Data() + 10, regions[0]->Data()));
}

// A foreground region on voxel 0 of a line, a segmentation inside on
// [1, segmentationEnd], references inside on [0, width) each; no translation.
CFVoxelList LineMaps(int length, int segmentationEnd, const std::vector<int>& widths, int voters,
                     double segmentationWeight) {
  const C3DPoint size{length, 1, 1};
  CVoxelList regions;
  regions.push_back(std::make_unique<CVoxel>(VolumeWith(size, {{0, 0, 0, 2}})));
  CVoxel segmentation(size);
  FillBox(segmentation, {1, 0, 0}, {segmentationEnd, 0, 0}, 1);
  CVoxelList references;
  for (const int width : widths) {
    references.push_back(std::make_unique<CVoxel>(size));
    FillBox(*references.back(), {0, 0, 0}, {width - 1, 0, 0}, 1);
  }
  return ComputeProbabilityMaps(regions, {fusion::RegionWindow{{0, 0, 0}, {length - 1, 0, 0}}}, segmentation,
                                CVoxel(size), Boxed(references, {0, 0, 0}),
                                VoteParameters(voters, segmentationWeight, 0.1, {0, 0, 0}, {1, 1, 1}));
}

std::vector<float> Fractions(std::initializer_list<int> votes, int voters) {
  std::vector<float> out;
  for (const int v : votes) out.push_back(static_cast<float>(v) * (1.0f / static_cast<float>(voters)));
  return out;
}

std::vector<float> Values(const CFVoxel& map) { return {map.Data(), map.Data() + map.VoxelCount()}; }

TEST(ProbabilityMaps, OnlyTheSevenBestReferencesVote) {
  // Width 5 agrees best with the segmentation; widths 1, 9 and 10 agree least.
  const CFVoxelList maps = LineMaps(12, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 7, 0.005);
  ASSERT_EQ(maps.size(), 1u);
  EXPECT_EQ(Values(*maps[0]), Fractions({7, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0, 0}, 7));

  const CFVoxelList three = LineMaps(12, 4, {3, 5, 7}, 7, 0.005);
  EXPECT_EQ(Values(*three[0]), Fractions({3, 3, 3, 2, 2, 1, 1, 0, 0, 0, 0, 0}, 3));
}

TEST(ProbabilityMaps, EqualReferenceScoresAreRankedByThePartition) {
  // Scores (exact in binary): widths {1}, {0..2}, {0,1,3} score 2.25, width 2 scores 2.75.
  const C3DPoint size{8, 1, 1};
  CVoxelList regions;
  regions.push_back(std::make_unique<CVoxel>(VolumeWith(size, {{0, 0, 0, 2}})));
  const CVoxel segmentation = VolumeWith(size, {{1, 0, 0, 1}});
  CVoxelList references;
  for (const auto& inside : std::vector<std::vector<int>>{{0}, {0, 1, 2}, {0, 1, 3}, {0, 1}}) {
    references.push_back(std::make_unique<CVoxel>(size));
    for (const int x : inside) references.back()->At(x, 0, 0) = 1;
  }
  const CFVoxelList maps = ComputeProbabilityMaps(regions, {fusion::RegionWindow{{0, 0, 0}, {7, 0, 0}}},
                                                  segmentation, CVoxel(size), Boxed(references, {0, 0, 0}),
                                                  VoteParameters(2, 0.25, 0.1, {0, 0, 0}, {1, 1, 1}));
  // References 3 and 1 vote (a stable sort would take 3 and 0).
  EXPECT_EQ(Values(*maps[0]), (std::vector<float>{1, 1, 0.5f, 0, 0, 0, 0, 0}));
}

TEST(ProbabilityMaps, ShiftedReferenceIsFoundAtItsTranslation) {
  // Truth: the segmentation plus the column x = 25, which a scribble marks.
  const C3DPoint size{40, 40, 20};
  CVoxel segmentation(size);
  FillBox(segmentation, {15, 15, 8}, {24, 24, 11}, 1);
  CVoxel truth(size);
  FillBox(truth, {15, 15, 8}, {25, 24, 11}, 1);
  CVoxel map(size);
  map.At(25, 20, 10) = 2;
  CVoxelList regions;
  ExtractScribbleRegions(map, segmentation, fusion::CorrectionParameters{}, regions);
  ASSERT_EQ(regions.size(), 1u);
  CFVoxelList distances;
  fusion::RegionWindowList windows;
  ComputeDistanceMaps(regions, fusion::CorrectionParameters{}, distances, windows);
  const CPointArray origins = Origins(windows);
  const CPointArray ends = Ends(windows);
  ASSERT_EQ(ends[0].x, 39);  // the window reaches the last column

  // The reference holds the truth moved by -(2, -4, 2) inside a box starting at (3, 2, 1).
  const C3DPoint box{3, 2, 1};
  const C3DPoint shift{2, -4, 2};
  CVoxelList references;
  references.push_back(std::make_unique<CVoxel>(37, 38, 19));
  FillBox(*references[0], C3DPoint{15, 15, 8} - box + shift, C3DPoint{25, 24, 11} - box + shift, 1);

  const fusion::CorrectionParameters parameters = VoteParameters(7, 0.005, 0.1, {8, 8, 8}, {2, 2, 2});
  const CFVoxelList maps =
      ComputeProbabilityMaps(regions, windows, segmentation, map, Boxed(references, box), parameters);
  const CFVoxel& p = *maps[0];
  ASSERT_EQ(p.Size(), ends[0] - origins[0] + 1);
  int mismatches = 0;
  for (int z = 0; z < p.Z; ++z)
    for (int y = 0; y < p.Y; ++y)
      for (int x = 0; x < p.X; ++x) {
        const C3DPoint w = origins[0] + C3DPoint{x, y, z};
        mismatches += p.At(x, y, z) != static_cast<float>(truth.At(w.x, w.y, w.z));
      }
  EXPECT_EQ(mismatches, 0);

  // Without references every map is all zero.
  const CFVoxelList empty =
      ComputeProbabilityMaps(regions, windows, segmentation, map, Boxed(CVoxelList{}, box), parameters);
  ASSERT_EQ(empty[0]->Size(), p.Size());
  EXPECT_EQ(std::count(empty[0]->Data(), empty[0]->Data() + empty[0]->VoxelCount(), 0.0f),
            static_cast<std::ptrdiff_t>(empty[0]->VoxelCount()));
}

}  // namespace
