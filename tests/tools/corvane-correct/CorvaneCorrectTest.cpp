// Runs the corvane-correct program on small cases written as MetaImage files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestLabels.h"
#include "tests/tools/ToolRun.h"
#include "tests/volume/OtherOrder.h"
#include "tests/volume/TestDicomSeries.h"
#include "volume/DicomSeg.h"
#include "volume/GridReorder.h"
#include "volume/Voxel.h"
#include "volume/Writers.h"

namespace fs = std::filesystem;

namespace {

using testfiles::ReadFile;
using toolrun::Result;
using toolrun::WriteMetaImage;

class CorvaneCorrect : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "corvane-correct-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    const C3DPoint size(40, 36, 14);
    truth_ = Ellipsoid(size, 20.0, 18.0, 7.0, 11.0, 9.0, 4.5);
    CVoxel segmentation = Ellipsoid(size, 23.0, 18.0, 7.0, 11.0, 9.0, 4.5);
    CVoxel map(size);
    for (int x = 10; x <= 13; ++x) map.At(x, 18, 7) = 2;
    for (int x = 32; x <= 33; ++x) map.At(x, 18, 7) = 3;
    WriteMetaImage(dir_ / "seg.mhd", segmentation);
    WriteMetaImage(dir_ / "map.mhd", map);
    WriteMetaImage(dir_ / "truth.mhd", truth_);
    fs::create_directories(dir_ / "refs" / "more");
    WriteMetaImage(dir_ / "refs" / "a_label.mhd", Ellipsoid(size, 19.0, 17.0, 7.0, 10.0, 9.0, 4.5));
    WriteMetaImage(dir_ / "refs" / "more" / "b_label.mhd", Ellipsoid(size, 21.0, 19.0, 6.0, 12.0, 8.0, 4.0));
    WriteMetaImage(dir_ / "refs" / "c_label.mhd", Ellipsoid(size, 20.0, 18.0, 7.0, 11.0, 10.0, 5.0));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // `shell` runs before the program in the same shell (limits for it).
  Result Run(const std::vector<std::string>& arguments, const std::string& shell = "") const {
    return toolrun::Run(CORVANE_CORRECT, arguments, dir_, shell);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Semi(const std::string& segmentation, const std::string& map,
                                const std::string& references) const {
    return {"--segmentation", segmentation, "--scribbles", map,
            "--references",   references,   "--output",    P("out")};
  }

  fs::path dir_;
  CVoxel truth_;
};

TEST_F(CorvaneCorrect, ManualRunPrintsItsLinesAndAppliesTheScribbles) {
  const Result r = Run({"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--references",
                        P("none"), "--output", P("manual"), "--mode", "manual", "--truth", P("truth.mhd")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string lines =
      "Manual segmentation correction starts...\nManual segmentation correction is done...\n";
  ASSERT_EQ(r.out.substr(0, lines.size()), lines);
  EXPECT_NE(r.out.find("\nDice before: 0."), std::string::npos);
  EXPECT_NE(r.out.find("\nDice after: 0."), std::string::npos);
  EXPECT_TRUE(r.err.empty());

  ASSERT_TRUE(fs::exists(P("manual.mhd")));  // the ".mhd" rule
  const CVoxel written(P("manual.mhd"));
  ASSERT_TRUE(written.HasData());
  EXPECT_EQ(written.At(10, 18, 7), 1);
  EXPECT_EQ(written.At(33, 18, 7), 0);
}

TEST_F(CorvaneCorrect, SemiAutomaticRunIsTheWindowsLogAndImproves) {
  std::vector<std::string> arguments = Semi(P("seg.mhd"), P("map.mhd"), P("refs"));
  arguments.insert(arguments.end(), {"--truth", P("truth.mhd"), "--threads", "2"});
  const Result r = Run(arguments);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string lines =
      "Semi-automatic segmentation correction starts...\nCenter position is detected...\n"
      "All reference labels are registered...\nDistance maps are computed...\nProbability maps are "
      "computed...\n"
      "Final result is computed...\nSemi-automatic segmentation correction is done...\n";
  ASSERT_EQ(r.out.substr(0, lines.size()), lines);
  double before = 0, after = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + lines.size(), "Dice before: %lf\nDice after: %lf\n", &before, &after),
            2)
      << r.out;
  EXPECT_GT(after, before);

  const CVoxel written(P("out.mhd"));
  ASSERT_TRUE(written.HasData());
  for (std::size_t i = 0; i < written.VoxelCount(); ++i) ASSERT_TRUE(written[i] == 0 || written[i] == 1);

  // The number of threads never changes the result.
  const std::string first = ReadFile(P("out.raw"));
  ASSERT_EQ(Run(Semi(P("seg.mhd"), P("map.mhd"), P("refs"))).status, 0);
  EXPECT_EQ(ReadFile(P("out.raw")), first);
}

TEST_F(CorvaneCorrect, TheResultLiesWhereTheSegmentationLiesInEitherFormat) {
  const std::string oblique =
      "ElementSpacing = 0.5 0.75 2\nOffset = 31.5 -12.25 47\n"
      "TransformMatrix = 0 0.6 0.8 -1 0 0 0 -0.8 0.6\n";
  const CVoxel segmentation(P("seg.mhd"));
  WriteMetaImage(dir_ / "oblique.mhd", segmentation, oblique);
  WriteMetaImage(dir_ / "obliquemap.mhd", CVoxel(P("map.mhd")), oblique);
  const CVoxel source(P("oblique.mhd"));
  for (const std::string name : {"res.nii.gz", "res.nii", "res.mhd", "res"}) {
    const Result r = Run({"--segmentation", P("oblique.mhd"), "--scribbles", P("obliquemap.mhd"), "--output",
                          P(name), "--mode", "manual"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::string written = name == "res" ? P("res.mhd") : P(name);
    const CVoxel result(written);
    ASSERT_TRUE(result.HasData()) << name;
    EXPECT_TRUE(SameGeometry(result, source, 1e-6, 1e-5, 1e-6)) << name;
    EXPECT_EQ(result.At(10, 18, 7), 1) << name;
    EXPECT_EQ(result.At(33, 18, 7), 0) << name;
    EXPECT_EQ(result.CountNonZero(), CVoxel(P("res.nii.gz")).CountNonZero()) << name;
  }
  EXPECT_TRUE(fs::exists(P("res.nii.gz")) && !fs::exists(P("res.nii.gz.mhd")));
}

TEST_F(CorvaneCorrect, AScribbleMapElsewhereInSpaceIsUsedWithOneWarning) {
  WriteMetaImage(dir_ / "moved.mhd", CVoxel(P("map.mhd")), "ElementSpacing = 1 1 1\nOffset = 0 0 5\n");
  const Result r = Run({"--segmentation", P("seg.mhd"), "--scribbles", P("moved.mhd"), "--output", P("out"),
                        "--mode", "manual", "--truth", P("truth.mhd")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "corvane-correct: " + volume::GeometryMismatchText("scribble map", "segmentation") + "\n");
  EXPECT_EQ(CVoxel(P("out.mhd")).At(10, 18, 7), 1);
}

TEST_F(CorvaneCorrect, EveryFailureIsOneLineStatusTwoAndNoOutput) {
  CVoxel other(10, 10, 10);
  other.At(5, 5, 5) = 1;
  WriteMetaImage(dir_ / "small.mhd", other);
  WriteMetaImage(dir_ / "empty.mhd", CVoxel(40, 36, 14));
  WriteMetaImage(dir_ / "cut.mhd", truth_, "ElementSpacing = 1 1 1\nOffset = 0 0 0\n", 100);
  fs::create_directories(dir_ / "norefs");
  std::ofstream(dir_ / "norefs" / "a_Label.mhd") << "x";

  // Unreadable or unfitting inputs exit 2, bad arguments 1.
  const std::vector<std::pair<std::vector<std::string>, int>> failing{
      {Semi(P("missing.mhd"), P("map.mhd"), P("refs")), 2},
      {Semi(P("seg.mhd"), P("cut.mhd"), P("refs")), 2},
      {Semi(P("seg.mhd"), P("small.mhd"), P("refs")), 2},
      {Semi(P("empty.mhd"), P("map.mhd"), P("refs")), 2},
      {Semi(P("seg.mhd"), P("map.mhd"), P("norefs")), 2},
      {Semi(P("seg.mhd"), P("map.mhd"), P("no-such-folder")), 2},
      {{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--output", P("out")}, 1},
      {{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--references", P("refs"), "--output",
        P("out"), "--mode", "auto"},
       1},
      {{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--references", P("refs"), "--output",
        P("out"), "--threads", "0"},
       1},
      {{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--references", P("refs"), "--output",
        P("out"), "--truth", P("small.mhd")},
       2},
      {{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"), "--output"}, 1},
      {{"--segmentation", P("seg.mhd"), "--bogus", "1"}, 1},
  };
  for (const auto& [arguments, status] : failing) {
    const Result r = Run(arguments);
    std::string shown;
    for (const auto& a : arguments) shown += a + " ";
    EXPECT_EQ(r.status, status) << shown;
    EXPECT_EQ(r.err.rfind("corvane-correct: ", 0), 0u) << shown << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << r.err;
    EXPECT_TRUE(r.out.empty()) << shown << r.out;
    EXPECT_FALSE(fs::exists(P("out.mhd")) || fs::exists(P("out.raw"))) << shown;
  }
}

TEST_F(CorvaneCorrect, AFailedWriteSaysWhyAndLeavesNoFile) {
  auto manual = [&](const std::string& output) {
    return std::vector<std::string>{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"),
                                    "--references",   P("refs"),    "--output",    output,
                                    "--mode",         "manual"};
  };
  // The disk fills up: files may not grow past 512 bytes (the data needs 20160).
  Result r = Run(manual(P("out")), "trap '' XFSZ; ulimit -f 1; ");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot write '" + P("out.raw") + "': File too large"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("out.mhd")) || fs::exists(P("out.raw")));

  fs::create_directories(dir_ / "taken.mhd");
  r = Run(manual(P("taken.mhd")));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "corvane-correct: cannot write '" + P("taken.mhd") + "': it is a folder, not a file\n");
  EXPECT_EQ(r.out, "");  // refused before the run, so no log lines
}

TEST_F(CorvaneCorrect, AMapAndTruthOfTheSegmentationsGridInAnotherOrderAreReordered) {
  const std::vector<std::string> base = {"--segmentation", P("seg.mhd"), "--output",  P("base"),
                                         "--mode",         "manual",     "--truth",   P("truth.mhd"),
                                         "--scribbles",    P("map.mhd"), "--metrics", P("base.csv")};
  const Result expected = Run(base);
  ASSERT_EQ(expected.status, 0) << expected.err;
  // The map with its slices stacked the other way (as VTK's reader stacks a
  // series that ITK stacks along the normal), the truth with x and y swapped
  // and y reversed: the same voxel centres as the segmentation's.
  const CVoxel map(P("map.mhd")), truth(P("truth.mhd"));
  const CVoxel reversedMap = testvolumes::StoredInOtherOrder(map, {0, 1, 2}, {false, false, true});
  const CVoxel swappedTruth = testvolumes::StoredInOtherOrder(truth, {1, 0, 2}, {true, false, false});
  ASSERT_EQ(swappedTruth.X, 36);
  WriteMetaImage(dir_ / "map-vtk.mhd", reversedMap, toolrun::GeometryLines(reversedMap));
  WriteMetaImage(dir_ / "truth-yx.mhd", swappedTruth, toolrun::GeometryLines(swappedTruth));
  std::vector<std::string> other = base;
  other[3] = P("other");
  other[9] = P("map-vtk.mhd");
  other[7] = P("truth-yx.mhd");
  other[11] = P("other.csv");
  const Result r = Run(other);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected.out);  // the same Dice before and after
  EXPECT_EQ(
      r.err,
      "corvane-correct: " +
          volume::ReorderedText("scribble map", P("map-vtk.mhd"), "segmentation", P("seg.mhd"), "x, y, -z") +
          "\ncorvane-correct: " +
          volume::ReorderedText("ground truth", P("truth-yx.mhd"), "segmentation", P("seg.mhd"), "-y, x, z") +
          "\n");
  const CVoxel result(P("other.mhd")), expectedResult(P("base.mhd"));
  ASSERT_TRUE(result.HasData() && expectedResult.HasData());
  EXPECT_TRUE(std::equal(result.Data(), result.Data() + result.VoxelCount(), expectedResult.Data()));
  EXPECT_TRUE(SameGeometry(result, expectedResult));

  // A map stored as a series of two volumes: the first is used, with a line saying so.
  toolrun::WriteVolumes(dir_ / "map-2.nii", reversedMap, 2);
  other[9] = P("map-2.nii");
  const Result series = Run(other);
  ASSERT_EQ(series.status, 0) << series.err;
  EXPECT_EQ(series.out, expected.out);
  EXPECT_EQ(series.err.rfind("corvane-correct: " + P("map-2.nii") +
                                 " holds 2 volumes: only the first was read, 1 volume was skipped.\n",
                             0),
            0u)
      << series.err;

  // The reversed map one slice off is not the same grid: used voxel for voxel with today's warning;
  // the swapped truth one voxel off keeps being refused for its size.
  CVoxel shifted = reversedMap;
  shifted.origin[2] -= 1.0f;
  WriteMetaImage(dir_ / "map-off.mhd", shifted, toolrun::GeometryLines(shifted));
  other[9] = P("map-off.mhd");
  other[7] = P("truth.mhd");
  const Result off = Run(other);
  ASSERT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(off.err, "corvane-correct: " + volume::GeometryMismatchText("scribble map", "segmentation") + "\n");
  CVoxel shiftedTruth = swappedTruth;
  shiftedTruth.origin[0] += 1.0f;
  WriteMetaImage(dir_ / "truth-off.mhd", shiftedTruth, toolrun::GeometryLines(shiftedTruth));
  other[9] = P("map.mhd");
  other[7] = P("truth-off.mhd");
  const Result refused = Run(other);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "corvane-correct: the ground truth and the segmentation differ in size\n");
}

// A case on a DICOM series: the segmentation and scribbles saved with its geometry.
class CorvaneCorrectDicom : public CorvaneCorrect {
 protected:
  void SetUp() override {
    CorvaneCorrect::SetUp();
    files_ = testdicom::WriteSeries(P("study/t2"), testdicom::SeriesLayout{});
    ASSERT_FALSE(files_.empty());
    const CVoxel image(files_[0]);
    ASSERT_TRUE(image.HasData());
    segmentation_ = CVoxel(image.X, image.Y, image.Z);
    segmentation_.CopyGeometry(image);
    for (int z = 1; z < 5; ++z)
      for (int y = 3; y < 7; ++y)
        for (int x = 2; x < 8; ++x) segmentation_.At(x, y, z) = 1;
    CVoxel map(image.X, image.Y, image.Z);
    map.CopyGeometry(image);
    map.At(9, 5, 2) = 2;  // foreground outside the segmentation
    map.At(3, 4, 3) = 3;  // background inside it
    ASSERT_TRUE(volume::SaveMetaImageShort(segmentation_, P("dseg.mhd")));
    ASSERT_TRUE(volume::SaveMetaImageShort(map, P("dmap.mhd")));
    segmentation_.At(9, 5, 2) = 1;
    segmentation_.At(3, 4, 3) = 0;
  }
  std::vector<std::string> Manual(const std::string& output) const {
    return {"--segmentation", P("dseg.mhd"), "--scribbles", P("dmap.mhd"),
            "--output",       output,        "--mode",      "manual"};
  }
  std::vector<std::string> files_;
  CVoxel segmentation_;  // the expected result
};

TEST_F(CorvaneCorrectDicom, ADcmOutputIsASegOfTheImageThatReadsBackAsTheResult) {
  std::vector<std::string> arguments = Manual(P("out.dcm"));
  arguments.insert(arguments.end(), {"--image", P("study/t2")});
  const Result r = Run(arguments);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(volume::IsDicomSegmentation(P("out.dcm")));
  const CVoxel read(P("out.dcm"));
  ASSERT_TRUE(read.HasData());
  ASSERT_TRUE(read.SameSize(segmentation_));
  EXPECT_TRUE(SameGeometry(read, segmentation_));
  for (std::size_t i = 0; i < read.VoxelCount(); ++i) ASSERT_EQ(read[i], segmentation_[i]) << i;
  volume::DicomSegSummary summary;
  std::string why;
  ASSERT_TRUE(volume::DescribeDicomSegmentation(P("out.dcm"), &summary, &why)) << why;
  EXPECT_EQ(summary.frames, 6);
  EXPECT_EQ(summary.segmentLabel, "Prostate");
}

TEST_F(CorvaneCorrectDicom, ADcmOutputWithoutADicomImageOfItsGridIsRefusedBeforeTheRun) {
  CVoxel shifted = segmentation_;
  shifted.origin[0] += 0.4f;
  ASSERT_TRUE(volume::SaveMetaImageShort(shifted, P("shifted.mhd")));
  std::vector<std::string> withoutImage = Manual(P("out.dcm"));
  std::vector<std::string> notDicom = Manual(P("out.dcm"));
  notDicom.insert(notDicom.end(), {"--image", P("dseg.mhd")});
  std::vector<std::string> otherGrid = {"--segmentation", P("shifted.mhd"), "--scribbles", P("dmap.mhd"),
                                        "--output",       P("out.dcm"),     "--mode",      "manual",
                                        "--image",        files_[0]};
  for (const auto& arguments : {withoutImage, notDicom, otherGrid}) {
    const Result r = Run(arguments);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("corvane-correct: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;  // the correction never started
    EXPECT_FALSE(fs::exists(P("out.dcm")));
  }
}

}  // namespace
