#include <gtest/gtest.h>

#include <map>

#include "TestLabels.h"
#include "correction/CorrectionDriver.h"
#include "evaluation/Metrics.h"
#include "geometry/BoundaryPoints.h"

namespace {

const std::vector<std::string> kFiveLines{
    "Center position is detected...", "All reference labels are registered...",
    "Distance maps are computed...", "Probability maps are computed...", "Final result is computed..."};

// A small case: the segmentation misses the truth's left end and spills over
// its right end; the scribbles mark both mistakes.
struct SyntheticCase {
  C3DPoint size{48, 40, 16};
  CVoxel truth = Ellipsoid(size, 24.0, 20.0, 8.0, 13.0, 10.0, 5.0);
  CVoxel segmentation = Ellipsoid(size, 28.0, 20.0, 8.0, 13.0, 10.0, 5.0);
  CVoxel map{size};
  std::map<std::string, CVoxel> references;

  SyntheticCase() {
    for (int x = 12; x <= 16; ++x) map.At(x, 20, 8) = 2;  // inside the truth, missed
    for (int x = 39; x <= 41; ++x) map.At(x, 20, 8) = 3;  // outside the truth, segmented
    for (int x = 22; x <= 26; ++x) map.At(x, 22, 8) = 2;  // agrees with the segmentation
    references["r1"] = Ellipsoid(size, 23.0, 19.0, 8.0, 12.0, 10.0, 5.0);
    references["r2"] = Ellipsoid(size, 25.0, 21.0, 7.0, 14.0, 9.0, 5.0);
    references["r3"] = Ellipsoid(size, 24.0, 20.0, 9.0, 13.0, 11.0, 4.0, 2);
  }
  correction::VolumeLoader Loader() const {
    return [this](const std::string& path) -> std::unique_ptr<CVoxel> {
      auto it = references.find(path);
      return it == references.end() ? nullptr : std::make_unique<CVoxel>(it->second);
    };
  }
};

TEST(RunSemiAutomaticCorrection, WritesTheFiveLinesAndAZeroOneLabelThatFollowsTheScribbles) {
  SyntheticCase c;
  c.segmentation.At(2, 2, 2) = 7;  // a stray piece away from the organ
  CVoxel segmentation = c.segmentation;
  volume::RecordingSink sink;
  ASSERT_TRUE(RunSemiAutomaticCorrection(segmentation, c.map, {"r1", "r2", "r3"},
                                         fusion::CorrectionParameters{}, {sink, sink}, {c.Loader()}));
  EXPECT_EQ(sink.lines, kFiveLines);
  EXPECT_TRUE(sink.messages.empty());

  int inside = 0;
  for (std::size_t i = 0; i < segmentation.VoxelCount(); ++i) {
    ASSERT_TRUE(segmentation[i] == 0 || segmentation[i] == 1) << i;
    inside += segmentation[i];
  }
  EXPECT_GT(inside, 0);
  EXPECT_GT(evaluation::Dice(segmentation, c.truth), evaluation::Dice(c.segmentation, c.truth) + 0.01);
  EXPECT_EQ(segmentation.At(2, 2, 2), 0);  // only the piece at the centre survives
  for (int x = 12; x <= 16; ++x) EXPECT_EQ(segmentation.At(x, 20, 8), 1) << x;
  for (int x = 39; x <= 41; ++x) EXPECT_EQ(segmentation.At(x, 20, 8), 0) << x;
  // The result is one 6-connected piece.
  EXPECT_EQ(geometry::KeepSeedComponent(segmentation, {14, 20, 8})->CountNonZero(), inside);
}

TEST(RunSemiAutomaticCorrection, RunsWithoutReferencesAndSkipsUnusableOnes) {
  SyntheticCase c;
  CVoxel withNone = c.segmentation;
  volume::RecordingSink none;
  ASSERT_TRUE(RunSemiAutomaticCorrection(withNone, c.map, {}, fusion::CorrectionParameters{}, {none, none},
                                         {c.Loader()}));
  EXPECT_EQ(none.lines, kFiveLines);
  EXPECT_EQ(none.messages, std::vector<std::string>{"There are no reference labels !!"});

  // References that cannot be read are no voters: the result equals the run without any.
  CVoxel withBroken = c.segmentation;
  volume::RecordingSink broken;
  ASSERT_TRUE(RunSemiAutomaticCorrection(withBroken, c.map, {"gone", "also gone"},
                                         fusion::CorrectionParameters{}, {broken, broken}, {c.Loader()}));
  EXPECT_EQ(broken.lines, kFiveLines);
  ASSERT_EQ(broken.messages.size(), 1u);
  EXPECT_NE(broken.messages[0].find("[gone] cannot be read"), std::string::npos);
  for (std::size_t i = 0; i < withNone.VoxelCount(); ++i) ASSERT_EQ(withBroken[i], withNone[i]) << i;
  for (std::size_t i = 0; i < withNone.VoxelCount(); ++i) ASSERT_TRUE(withNone[i] == 0 || withNone[i] == 1);
}

TEST(RunSemiAutomaticCorrection, WithoutScribbleRegionsKeepsTheCentralPieceOfTheSegmentation) {
  SyntheticCase c;
  CVoxel segmentation = c.segmentation;
  segmentation.At(0, 0, 0) = 1;
  const CVoxel agreeing = [&] {
    CVoxel m(c.size);
    for (int x = 22; x <= 26; ++x) m.At(x, 22, 8) = 2;
    return m;
  }();
  volume::RecordingSink sink;
  ASSERT_TRUE(RunSemiAutomaticCorrection(segmentation, agreeing, {"r1"}, fusion::CorrectionParameters{},
                                         {sink, sink}, {c.Loader()}));
  EXPECT_EQ(segmentation.At(0, 0, 0), 0);
  for (std::size_t i = 1; i < segmentation.VoxelCount(); ++i)
    ASSERT_EQ(segmentation[i], c.segmentation[i]) << i;
}

TEST(RunSemiAutomaticCorrection, RefusesWhatItCannotCorrectAndChangesNothing) {
  SyntheticCase c;
  volume::RecordingSink sink;
  CVoxel empty(c.size);
  empty.At(1, 1, 1) = -4;  // only negative values: nothing inside
  const CVoxel before = empty;
  EXPECT_FALSE(RunSemiAutomaticCorrection(empty, c.map, {"r1"}, fusion::CorrectionParameters{}, {sink, sink},
                                          {c.Loader()}));
  EXPECT_EQ(sink.messages,
            std::vector<std::string>{"The segmentation is empty: there is nothing to correct."});
  for (std::size_t i = 0; i < empty.VoxelCount(); ++i) ASSERT_EQ(empty[i], before[i]);

  CVoxel segmentation = c.segmentation;
  CVoxel smallMap(c.size.x, c.size.y, c.size.z - 1);
  EXPECT_FALSE(RunSemiAutomaticCorrection(segmentation, smallMap, {"r1"}, fusion::CorrectionParameters{},
                                          {sink, sink}, {c.Loader()}));
  CVoxel noData;
  EXPECT_FALSE(RunSemiAutomaticCorrection(noData, c.map, {"r1"}, fusion::CorrectionParameters{}, {sink, sink},
                                          {c.Loader()}));
  EXPECT_EQ(sink.messages.size(), 3u);
  EXPECT_TRUE(sink.lines.empty());
  for (std::size_t i = 0; i < segmentation.VoxelCount(); ++i) ASSERT_EQ(segmentation[i], c.segmentation[i]);
}

}  // namespace
