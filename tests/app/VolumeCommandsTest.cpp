// Load Image, Load Boundary, Load Segmentation, Save Segmentation, Reset, the
// Show On/Off boxes and the reference directory chooser.

#include "DialogFixture.h"
#include "app/FileRules.h"

using namespace app;

using namespace apptest;

namespace {
const std::vector<int> kInputGroup = {
    ctl::kLoadSegmentation,     ctl::kLoadBoundary,    ctl::kShowSegmentation,
    ctl::kShowBoundary,         ctl::kReset,           ctl::kSaveSegmentation,
    ctl::kShowSegmentationText, ctl::kShowBoundaryText};
const std::vector<int> kViewGroup = {ctl::kSliceZ,       ctl::kSliceY,        ctl::kSliceX,
                                     ctl::kWindowLow,    ctl::kWindowHigh,    ctl::kZoomSlider,
                                     ctl::kPositionText, ctl::kIntensityText, ctl::kRangeText,
                                     ctl::kZoomEdit,     ctl::kZoomSpin};
const std::vector<int> kAlgorithm = {ctl::kAlgorithmGroup, ctl::kSemiAutomatic, ctl::kManual};
const std::vector<int> kReferenceDir = {ctl::kReferenceDirText, ctl::kReferenceDir, ctl::kBrowseReferenceDir};
const std::vector<int> kCorrectionGroup = {
    ctl::kMarking, ctl::kBrushSizeEdit,    ctl::kBrush3D,   ctl::kSaveUI,       ctl::kLoadUI,
    ctl::kClearUI, ctl::kInteractionGroup, ctl::kBrushSpin, ctl::kSegmentation, ctl::kCancelCorrection};
}  // namespace

class VolumeCommandsTest : public DialogFixture {
 protected:
  void ExpectGroup(const std::vector<int>& ids, bool enabled) {
    for (int id : ids) EXPECT_EQ(Enabled(id), enabled) << "control " << id;
  }
};

TEST_F(VolumeCommandsTest, LoadImageLogsEnablesInputAndViewAndSetsUpTheSlices) {
  const std::string path = Write("image.mhd", MakeImage(kX, kY, kZ));
  ClickWithFile(ctl::kLoadImage, path);
  ASSERT_EQ(m_platform.FileRequests().size(), 1u);
  EXPECT_EQ(m_platform.FileRequests()[0].filter, kLoadImageFilter);
  EXPECT_EQ(m_platform.FileRequests()[0].view, platform::FileListView::kList);
  EXPECT_EQ(m_platform.WaitCursorUses(), 1);
  EXPECT_EQ(m_platform.WaitCursorDepth(), 0);
  EXPECT_EQ(Log(), Lines{"Load Input... Path : [" + path + "]"});
  EXPECT_EQ(Dialog().ImagePath(), path);
  ExpectGroup(kInputGroup, true);
  ExpectGroup(kViewGroup, true);
  ExpectGroup(kAlgorithm, false);
  ExpectGroup(kCorrectionGroup, false);
  for (int id : {ctl::kSliceZText, ctl::kSliceYText, ctl::kSliceXText}) EXPECT_EQ(Text(id), "0   ");
  EXPECT_EQ(Slider(ctl::kSliceZ)->maximum(), kZ - 1);
  EXPECT_EQ(Slider(ctl::kSliceY)->maximum(), kY - 1);
  EXPECT_EQ(Slider(ctl::kSliceX)->maximum(), kX - 1);
  EXPECT_EQ(Viewer().Image(), Dialog().Image());
  EXPECT_EQ(Viewer().Axis(), 0);
  const int fitted = Viewer().GetZoomPercent();
  EXPECT_EQ(Dialog().Zoom(), fitted);
  EXPECT_EQ(Text(ctl::kZoomEdit), QString::number(fitted));
  EXPECT_EQ(Slider(ctl::kZoomSlider)->value(), fitted);
  // The window of the sliders reached the viewer, the range readout shows the image's extremes.
  EXPECT_EQ(Viewer().WindowLow(), 0);
  EXPECT_EQ(Viewer().WindowHigh(), 2500);
  EXPECT_EQ(Text(ctl::kRangeText), QString("[0 %1]").arg((kX - 1) + 2 * (kY - 1) + 50 * (kZ - 1)));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(VolumeCommandsTest, CancelledDialogsChangeNothing) {
  ClickWithFile(ctl::kLoadImage, std::nullopt);
  EXPECT_EQ(Dialog().Image(), nullptr);
  EXPECT_FALSE(Enabled(ctl::kLoadSegmentation));
  LoadCase();
  const Lines before = Log();
  ClickWithFile(ctl::kLoadSegmentation, std::nullopt);
  ClickWithFile(ctl::kLoadBoundary, std::nullopt);
  ClickWithFile(ctl::kSaveSegmentation, std::nullopt);
  m_platform.QueueFolder(std::nullopt);
  Dialog().OnBrowseReferenceDir();
  EXPECT_EQ(Log(), before);
  EXPECT_TRUE(Messages().empty());
}

// What the case keeps and drops is the model's (session tests); here the
// viewer lets go of what the case dropped and keeps drawing what it kept.
TEST_F(VolumeCommandsTest, ASecondImageDropsSegmentationAndBoundaryButKeepsMatchingMaps) {
  LoadCase();
  ClickWithFile(ctl::kLoadBoundary, PathOf("segmentation.mhd"));
  StartManualMarking();
  PaintAt(5, 5);
  const CVoxel* strokes = Dialog().StrokeMap();
  ASSERT_EQ(strokes->CountNonZero(), 9);

  const std::string second = Write("second.mhd", MakeImage(kX, kY, kZ));
  ClickWithFile(ctl::kLoadImage, second);
  EXPECT_EQ(Viewer().Segmentation(), nullptr);
  EXPECT_EQ(Viewer().GroundTruth(), nullptr);
  EXPECT_FALSE(Checked(ctl::kShowSegmentation));
  EXPECT_FALSE(Checked(ctl::kShowBoundary));
  EXPECT_EQ(Viewer().ScribbleMap(), strokes);
  EXPECT_EQ(Log().back(), "Load Input... Path : [" + second + "]");

  // An image of another size: maps of the old size cannot be used with it.
  ClickWithFile(ctl::kLoadImage, Write("small.mhd", MakeImage(32, 32, 4)));
  EXPECT_EQ(Viewer().ScribbleMap(), nullptr);
  EXPECT_EQ(Slider(ctl::kSliceX)->maximum(), 31);
}

TEST_F(VolumeCommandsTest, AFileThatCannotBeReadKeepsThePreviousState) {
  LoadCase();
  const CVoxel* image = Dialog().Image();
  const CVoxel* segmentation = Dialog().Segmentation();
  const Lines before = Log();
  const std::string missing = PathOf("missing.mhd");
  ClickWithFile(ctl::kLoadImage, missing);
  ClickWithFile(ctl::kLoadSegmentation, missing);
  ClickWithFile(ctl::kLoadBoundary, missing);
  const auto messages = Messages();
  ASSERT_EQ(std::count(messages.begin(), messages.end(), "Failed to load [" + missing + "]"), 3);
  EXPECT_EQ(Viewer().Image(), image);
  EXPECT_EQ(Viewer().Segmentation(), segmentation);
  EXPECT_EQ(Viewer().GroundTruth(), nullptr);
  EXPECT_EQ(Log(), before);
}

TEST_F(VolumeCommandsTest, LoadSegmentationLogsCreatesTheAccumulatedMapAndEnablesTheAlgorithms) {
  ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  const std::string path = Write("seg.mhd", MakeBox(kX, kY, kZ, 10, 20, 10, 20, 2, 5));
  ClickWithFile(ctl::kLoadSegmentation, path);
  ASSERT_EQ(m_platform.FileRequests().size(), 2u);
  EXPECT_EQ(m_platform.FileRequests()[1].filter, kLoadSegmentationFilter);
  EXPECT_EQ(m_platform.FileRequests()[1].view, platform::FileListView::kReport);
  EXPECT_EQ(Log().back(), "Load Segmentation... Path : [" + path + "]");
  EXPECT_TRUE(Checked(ctl::kShowSegmentation));
  EXPECT_TRUE(Dialog().ShowSegmentationFlag());
  EXPECT_EQ(Viewer().Segmentation(), Dialog().Segmentation());
  ExpectGroup(kAlgorithm, true);
  ExpectGroup(kReferenceDir, false);
  ExpectGroup(kCorrectionGroup, false);
}

TEST_F(VolumeCommandsTest, ASegmentationOfAnotherSizeIsRefusedAndThePreviousOneStays) {
  ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  ClickWithFile(ctl::kLoadSegmentation, Write("small.mhd", MakeBox(32, 32, 4, 1, 5, 1, 5, 1, 2)));
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"segmentation result dimension does not match current view voxel\n"});
  EXPECT_EQ(Dialog().Segmentation(), nullptr);
  EXPECT_EQ(Dialog().AccumulatedMap(), nullptr);
  EXPECT_FALSE(Checked(ctl::kShowSegmentation));
  ExpectGroup(kAlgorithm, false);
  EXPECT_EQ(Log().size(), 1u);

  LoadCase();
  const CVoxel* kept = Dialog().Segmentation();
  const CVoxel* accumulated = Dialog().AccumulatedMap();
  const Lines before = Log();
  ClickWithFile(ctl::kLoadSegmentation, PathOf("small.mhd"));
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Dialog().Segmentation(), kept);
  EXPECT_EQ(Viewer().Segmentation(), kept);
  EXPECT_EQ(Dialog().AccumulatedMap(), accumulated);
  EXPECT_EQ(Log(), before);
}

TEST_F(VolumeCommandsTest, LoadBoundaryShowsTheLabelsContour) {
  LoadCase();
  const std::string path = PathOf("segmentation.mhd");
  ClickWithFile(ctl::kLoadBoundary, path);
  EXPECT_EQ(m_platform.FileRequests().back().filter, kLoadBoundaryFilter);
  ASSERT_NE(Dialog().Boundary(), nullptr);
  EXPECT_EQ(Viewer().GroundTruth(), Dialog().Boundary());
  EXPECT_TRUE(Checked(ctl::kShowBoundary));
  EXPECT_EQ(Log().back(), "Load Boundary... Path : [" + path + "]");

  // A label of another size: the viewer's message, no log line, the shown boundary stays.
  const CVoxel* shown = Dialog().Boundary();
  const Lines before = Log();
  ClickWithFile(ctl::kLoadBoundary, Write("small.mhd", MakeBox(32, 32, 4, 1, 5, 1, 5, 1, 2)));
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"ground truth dimension does not match current view voxel\n"});
  EXPECT_EQ(Dialog().Boundary(), shown);
  EXPECT_EQ(Viewer().GroundTruth(), shown);
  EXPECT_EQ(Log(), before);
}

// The written path, its contents and the failures are the model's (session tests).
TEST_F(VolumeCommandsTest, SaveSegmentationAsksForAFileOnlyWithASegmentation) {
  ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  Click(ctl::kSaveSegmentation);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please load a segmentation first"});
  EXPECT_EQ(m_platform.FileRequests().size(), 1u);  // no file dialog opened

  LoadCase();
  ClickWithFile(ctl::kSaveSegmentation, PathOf("seg"));
  EXPECT_EQ(m_platform.FileRequests().back().filter, kSaveFilter);
  EXPECT_EQ(Log().back(), "Segmentation is saved at : [" + PathOf("seg.mhd") + "]");
  const CVoxel saved(PathOf("seg.mhd"));
  ASSERT_TRUE(saved.HasData());
  EXPECT_EQ(saved.CountNonZero(), Dialog().Segmentation()->CountNonZero());
}

// Which placements warn is the model's (session tests); the warning reaches
// the message box and the segmentation is shown all the same.
TEST_F(VolumeCommandsTest, AVolumeElsewhereInSpaceLoadsWithOneWarning) {
  ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  CVoxel moved = MakeBox(kX, kY, kZ, 20, 40, 15, 30, 3, 7);
  for (int i = 0; i < 3; ++i) {
    moved.spacing[i] = 1.0f;
    moved.origin[i] = i == 2 ? 5.0f : 0.0f;
  }
  const std::string path = Write("moved.mhd", moved);
  ClickWithFile(ctl::kLoadSegmentation, path);
  EXPECT_EQ(Messages(), std::vector<std::string>{volume::GeometryMismatchText("segmentation", "image")});
  EXPECT_EQ(Viewer().Segmentation(), Dialog().Segmentation());
  EXPECT_EQ(Log().back(), "Load Segmentation... Path : [" + path + "]");
}

TEST_F(VolumeCommandsTest, ShowBoxesSwitchTheViewerOverlays) {
  ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  // Without the volumes a box changes nothing on the screen.
  Click(ctl::kShowBoundary);
  EXPECT_TRUE(Dialog().ShowBoundaryFlag());
  EXPECT_EQ(Viewer().GroundTruth(), nullptr);
  Click(ctl::kShowBoundary);
  LoadCase();
  ClickWithFile(ctl::kLoadBoundary, PathOf("segmentation.mhd"));
  Click(ctl::kShowSegmentation);
  EXPECT_FALSE(Dialog().ShowSegmentationFlag());
  EXPECT_FALSE(Viewer().ShowSegmentation());
  Click(ctl::kShowBoundary);
  EXPECT_FALSE(Viewer().ShowGroundTruth());
  Click(ctl::kShowSegmentation);
  EXPECT_TRUE(Viewer().ShowSegmentation());
  EXPECT_EQ(Viewer().Segmentation(), Dialog().Segmentation());
}

TEST_F(VolumeCommandsTest, ChoosingAReferenceFolderShowsItAndForgetsTheReferences) {
  LoadCase();
  ASSERT_TRUE(QDir(m_dir.path()).mkpath("refs/a"));
  Write("refs/a/one_label.mhd", MakeBox(kX, kY, kZ, 20, 40, 15, 30, 3, 7));
  SetEditText(ctl::kReferenceDir, QString::fromStdString(PathOf("refs")));
  Click(ctl::kSemiAutomatic);
  Click(ctl::kMarking);
  ASSERT_EQ(Dialog().ReferencePaths().size(), 1u);

  const std::string other = PathOf("refs/a");
  m_platform.QueueFolder(other);
  Click(ctl::kBrowseReferenceDir);
  EXPECT_EQ(m_platform.FolderRequests(),
            std::vector<std::string>{"Select directory containing training data"});
  EXPECT_TRUE(Dialog().ReferencePaths().empty());
  EXPECT_EQ(Dialog().ReferenceDir(), other);
  EXPECT_EQ(Text(ctl::kReferenceDir).toStdString(), other);
}

TEST_F(VolumeCommandsTest, ResetReturnsToTheStartButKeepsTheImageAndBackups) {
  LoadCase();
  ClickWithFile(ctl::kLoadBoundary, PathOf("segmentation.mhd"));
  StartManualMarking();
  Click(ctl::kBrush3D);
  SetEditText(ctl::kBrushSizeEdit, "5");
  Click(ctl::kBrush3D);  // reads the brush size
  Click(ctl::kBrush3D);
  ASSERT_TRUE(Dialog().Brush3D());
  PaintAt(30, 20);
  Slider(ctl::kSliceY)->setSliderPosition(7);
  const CVoxel* image = Dialog().Image();
  SetEditText(ctl::kReferenceDir, "elsewhere");

  Click(ctl::kReset);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(Dialog().Image(), image);
  // The viewer lets go of everything that was freed and shows no picture.
  EXPECT_EQ(Viewer().ScribbleMap(), nullptr);
  EXPECT_EQ(Viewer().Segmentation(), nullptr);
  EXPECT_EQ(Viewer().GroundTruth(), nullptr);
  EXPECT_FALSE(Viewer().ShowImage());
  EXPECT_FALSE(Viewer().Marking());
  for (int id : {ctl::kSliceZText, ctl::kSliceYText, ctl::kSliceXText}) EXPECT_EQ(Text(id), "0   ");
  for (int id : {ctl::kSliceZ, ctl::kSliceY, ctl::kSliceX}) EXPECT_EQ(Slider(id)->value(), 0);
  EXPECT_EQ(Viewer().SliceY(), 0);
  EXPECT_EQ(Text(ctl::kPositionText), "(0, 0, 0)");
  EXPECT_EQ(Text(ctl::kIntensityText), "<0, 0>");
  EXPECT_EQ(Text(ctl::kRangeText), "[0, 0]");
  EXPECT_EQ(Text(ctl::kWindowLowText), "0   ");
  EXPECT_EQ(Text(ctl::kWindowHighText), "2500   ");
  EXPECT_EQ(Text(ctl::kReferenceDir), "C:\\DataSet\\prostate\\popR\\label2");
  // Marking was on: 3D and the brush size go back as well.
  EXPECT_FALSE(Checked(ctl::kMarking));
  EXPECT_FALSE(Checked(ctl::kBrush3D));
  EXPECT_EQ(Text(ctl::kBrushSizeEdit), "2");
  for (int id : {ctl::kLoadSegmentation, ctl::kSemiAutomatic, ctl::kManual, ctl::kMarking, ctl::kSliceZ,
                 ctl::kReferenceDir, ctl::kSegmentation}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(ctl::kLoadImage));
  // The radio button stays as it was.
  EXPECT_TRUE(Checked(ctl::kManual));

  // The next image brings the picture back.
  ClickWithFile(ctl::kLoadImage, PathOf("image.mhd"));
  EXPECT_TRUE(Viewer().ShowImage());
}

TEST_F(VolumeCommandsTest, ResetWithMarkingOffKeeps3DAndBrushSize) {
  LoadCase();
  Click(ctl::kManual);
  Click(ctl::kBrush3D);
  SetEditText(ctl::kBrushSizeEdit, "6");
  Click(ctl::kBrush3D);
  Click(ctl::kBrush3D);
  Click(ctl::kReset);
  EXPECT_TRUE(Checked(ctl::kBrush3D));
  EXPECT_EQ(Text(ctl::kBrushSizeEdit), "6");
}
