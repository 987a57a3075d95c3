// The correction mode, Marking and 3D, painting through the viewer widget,
// Load UI, Save UI, Clear UI, and the checks Segmentation makes before it
// starts a worker.
#include <QDir>

#include "DialogFixture.h"
#include "app/FileRules.h"

using namespace app;

using namespace apptest;

namespace {
const Lines kHelp = {"-----------------------------------------", "Foreground scribble : Left",
                     "Background scribble : ctrl+Left", "Eraser : shift+Left",
                     "-----------------------------------------"};
const std::vector<int> kCorrectionGroup = {
    ctl::kMarking, ctl::kBrushSizeEdit,    ctl::kBrush3D,   ctl::kSaveUI,       ctl::kLoadUI,
    ctl::kClearUI, ctl::kInteractionGroup, ctl::kBrushSpin, ctl::kSegmentation, ctl::kCancelCorrection};
const std::vector<int> kReferenceDir = {ctl::kReferenceDirText, ctl::kReferenceDir, ctl::kBrowseReferenceDir};

Lines Tail(const Lines& lines, std::size_t n) {
  return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(n, lines.size())), lines.end());
}
}  // namespace

class StrokeCommandsTest : public DialogFixture {
 protected:
  void ExpectGroup(const std::vector<int>& ids, bool enabled) {
    for (int id : ids) EXPECT_EQ(Enabled(id), enabled) << "control " << id;
  }
  // A reference folder with `count` matching files (and some that do not match).
  std::string MakeReferences(int count) {
    QDir(m_dir.path()).mkpath("refs/sub");
    for (int i = 0; i < count; ++i) {
      Write("refs/" + std::string(i % 2 ? "sub/" : "") + "case" + std::to_string(i) + "_label.mhd",
            MakeBox(kX, kY, kZ, 18 + i, 40, 15, 30, 3, 7));
    }
    Write("refs/case_image.mhd", MakeImage(kX, kY, kZ));
    return PathOf("refs");
  }
  int Count(const CVoxel& volume, CVoxel::value_type value) {
    return static_cast<int>(std::count(volume.Data(), volume.Data() + volume.VoxelCount(), value));
  }
};

TEST_F(StrokeCommandsTest, TheRadioButtonsChooseTheModeAndSwitchTheirControls) {
  LoadCase();
  Click(ctl::kSemiAutomatic);
  EXPECT_EQ(Dialog().CorrectionMode(), 0);
  ExpectGroup(kReferenceDir, true);
  ExpectGroup(kCorrectionGroup, true);
  ASSERT_NE(Dialog().StrokeMap(), nullptr);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());

  Click(ctl::kManual);
  EXPECT_EQ(Dialog().CorrectionMode(), 1);
  ExpectGroup(kReferenceDir, false);
  ExpectGroup(kCorrectionGroup, true);

  // Manual keeps Marking; Semi-Automatic clears it (the rule is the model's;
  // here the box and the viewer follow it).
  Click(ctl::kMarking);
  ASSERT_TRUE(Dialog().Marking());
  Click(ctl::kManual);
  EXPECT_TRUE(Checked(ctl::kMarking));
  EXPECT_TRUE(Viewer().Marking());
  Click(ctl::kSemiAutomatic);
  EXPECT_FALSE(Checked(ctl::kMarking));
  EXPECT_FALSE(Viewer().Marking());

  // The millimetre choice is the third mode; it needs the references too.
  Click(ctl::kManual);
  Click(ctl::kSemiAutomaticMillimetre);
  EXPECT_EQ(Dialog().CorrectionMode(), 2);
  EXPECT_TRUE(Checked(ctl::kSemiAutomaticMillimetre));
  EXPECT_FALSE(Checked(ctl::kSemiAutomatic));
  ExpectGroup(kReferenceDir, true);
  ExpectGroup(kCorrectionGroup, true);
}

// A ticked mode button means its controls can be used once a segmentation is
// loaded: after Reset and a second image, and when the segmentation is loaded
// again, without clicking the mode button once more.
TEST_F(StrokeCommandsTest, ATickedModeKeepsItsControlsUsableWhenTheCaseIsLoadedAgain) {
  for (const int mode : {ctl::kSemiAutomatic, ctl::kManual}) {
    LoadCase();
    Click(mode);
    Click(ctl::kReset);
    ASSERT_TRUE(Checked(mode));
    ASSERT_FALSE(Enabled(ctl::kMarking));
    // A second image alone brings no segmentation: the mode's controls wait for one.
    ClickWithFile(ctl::kLoadImage, PathOf("image.mhd"));
    EXPECT_FALSE(Enabled(ctl::kMarking)) << mode;
    ClickWithFile(ctl::kLoadSegmentation, PathOf("segmentation.mhd"));
    EXPECT_TRUE(Checked(mode)) << mode;
    ExpectGroup(kCorrectionGroup, true);
    ExpectGroup(kReferenceDir, mode == ctl::kSemiAutomatic);
    EXPECT_EQ(Dialog().CorrectionMode(), mode == ctl::kManual ? 1 : 0);
    // The segmentation loaded again over the first keeps them usable too.
    ClickWithFile(ctl::kLoadSegmentation, PathOf("segmentation.mhd"));
    ExpectGroup(kCorrectionGroup, true);
    ExpectGroup(kReferenceDir, mode == ctl::kSemiAutomatic);
    Click(ctl::kReset);
  }
  // Marking works at once in the mode the button shows.
  LoadCase();
  Click(ctl::kMarking);
  EXPECT_TRUE(Dialog().Marking());
  EXPECT_TRUE(Viewer().Marking());
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StrokeCommandsTest, ManualMarkingWritesTheHelpOnceAndSwitchesTheViewer) {
  LoadCase();
  Click(ctl::kManual);
  const std::size_t before = Log().size();
  Click(ctl::kMarking);
  EXPECT_EQ(Tail(Log(), 5), kHelp);
  EXPECT_EQ(Log().size(), before + 5);
  EXPECT_TRUE(Viewer().Marking());
  EXPECT_FLOAT_EQ(Viewer().BrushRadius(), 2.0f);
  Click(ctl::kMarking);
  EXPECT_FALSE(Dialog().Marking());
  EXPECT_FALSE(Viewer().Marking());
  Click(ctl::kMarking);
  EXPECT_EQ(Log().size(), before + 5);
  Click(ctl::kBrush3D);
  EXPECT_TRUE(Viewer().Brush3D());
}

TEST_F(StrokeCommandsTest, FirstSemiAutomaticMarkingScansTheReferenceFolder) {
  LoadCase();
  const std::string refs = MakeReferences(3);
  SetEditText(ctl::kReferenceDir, QString::fromStdString(refs));
  Click(ctl::kSemiAutomatic);
  const std::size_t before = Log().size();
  Click(ctl::kMarking);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(Dialog().Marking());
  EXPECT_TRUE(Viewer().Marking());
  Lines expected = {"-----------------------------------------", "3 reference images are detected."};
  expected.insert(expected.end(), kHelp.begin(), kHelp.end());
  EXPECT_EQ(Tail(Log(), 7), expected);
  EXPECT_EQ(Log().size(), before + 7);
  // The scan went through the platform: the process stays in the folder. (The
  // order of the references and the second Marking are model tests.)
  ASSERT_EQ(Dialog().ReferencePaths().size(), 3u);
  EXPECT_EQ(QDir::currentPath(), QDir(QString::fromStdString(refs)).canonicalPath());
  ExpectGroup(kCorrectionGroup, true);
}

TEST_F(StrokeCommandsTest, MarkingWithoutReferencesIsRefusedAndAMissingFolderIsNotScanned) {
  LoadCase();
  MakeReferences(0);
  const std::string empty = PathOf("refs/sub");
  SetEditText(ctl::kReferenceDir, QString::fromStdString(empty));
  Click(ctl::kSemiAutomatic);
  const Lines before = Log();
  Click(ctl::kMarking);
  const std::string noReference = "There is no referece image. Please check [Reference Image Directory]";
  EXPECT_EQ(Messages(), std::vector<std::string>{noReference});
  EXPECT_FALSE(Dialog().Marking());
  EXPECT_FALSE(Checked(ctl::kMarking));
  EXPECT_FALSE(Viewer().Marking());
  EXPECT_EQ(Log(), before);

  // The built-in folder does not exist here: the current directory, which
  // holds reference files, must not be scanned instead.
  Write("current_label.mhd", MakeBox(kX, kY, kZ, 18, 40, 15, 30, 3, 7));
  ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
  SetEditText(ctl::kReferenceDir, "C:\\DataSet\\prostate\\popR\\label2");
  Click(ctl::kMarking);
  EXPECT_EQ(Messages(), std::vector<std::string>{noReference});
  EXPECT_TRUE(Dialog().ReferencePaths().empty());
  EXPECT_FALSE(Dialog().Marking());
  EXPECT_EQ(QDir::currentPath(), QDir(m_dir.path()).canonicalPath());
}

TEST_F(StrokeCommandsTest, TheBrushPaintsForegroundBackgroundAndErasesThroughTheWidget) {
  LoadCase();
  StartManualMarking();
  Slider(ctl::kSliceZ)->setSliderPosition(4);
  const CVoxel& map = *Dialog().StrokeMap();
  PaintAt(10, 10);
  EXPECT_EQ(map.CountNonZero(), 9);
  EXPECT_EQ(map.At(9, 9, 4), 2);
  EXPECT_EQ(map.At(11, 11, 4), 2);
  EXPECT_EQ(map.At(12, 10, 4), 0);
  EXPECT_EQ(map.At(10, 10, 3), 0);
  PaintAt(30, 10, Qt::ControlModifier);
  EXPECT_EQ(map.At(30, 10, 4), 3);
  PaintAt(40, 10, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(map.At(40, 10, 4), 2);
  PaintAt(10, 10, Qt::ShiftModifier);
  EXPECT_EQ(map.At(10, 10, 4), 0);
  EXPECT_EQ(Count(map, 2), 9);
  EXPECT_EQ(Count(map, 3), 9);

  // The 3-D brush adds the centre voxel on the neighbouring slices.
  Click(ctl::kBrush3D);
  PaintAt(50, 30);
  EXPECT_EQ(map.At(50, 30, 3), 2);
  EXPECT_EQ(map.At(50, 30, 5), 2);
  EXPECT_EQ(map.At(51, 30, 5), 0);
  EXPECT_EQ(map.At(50, 30, 2), 0);

  // At the plane's corner the disc is clipped.
  Click(ctl::kBrush3D);
  const int before = map.CountNonZero();
  PaintAt(kX - 1, kY - 1);
  EXPECT_EQ(map.CountNonZero(), before + 4);
  EXPECT_EQ(map.At(kX - 2, kY - 2, 4), 2);

  // Without Marking the mouse paints nothing.
  Click(ctl::kMarking);
  PaintAt(20, 40);
  EXPECT_EQ(map.At(20, 40, 4), 0);
}

TEST_F(StrokeCommandsTest, LoadUINeedsMarkingAndAMapOfTheImagesSize) {
  LoadCase();
  Click(ctl::kManual);
  Click(ctl::kLoadUI);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Press marking check box first!!"});
  EXPECT_TRUE(m_platform.FileRequests().size() == 2u);  // the two loads of the case only

  Click(ctl::kMarking);
  PaintAt(5, 5);
  CVoxel strokes(kX, kY, kZ);
  strokes.At(1, 2, 3) = 2;
  strokes.At(4, 5, 6) = 3;
  const std::string path = Write("map.mhd", strokes);
  ClickWithFile(ctl::kLoadUI, path);
  EXPECT_EQ(m_platform.FileRequests().back().filter, kLoadBoundaryFilter);
  EXPECT_EQ(Log().back(), "Load an user interaction map... Path: [" + path + "]");
  ASSERT_NE(Dialog().StrokeMap(), nullptr);
  EXPECT_EQ(Dialog().StrokeMap()->At(4, 5, 6), 3);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());

  // A map of another size: the message, and the viewer draws the fresh map
  // the case put in its place.
  const CVoxel* loaded = Dialog().StrokeMap();
  const Lines before = Log();
  ClickWithFile(ctl::kLoadUI, Write("small.mhd", MakeBox(32, 32, 4, 1, 5, 1, 5, 1, 2)));
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"The dimension of mask is difference with it of MR image!!"});
  ASSERT_NE(Dialog().StrokeMap(), nullptr);
  EXPECT_NE(Dialog().StrokeMap(), loaded);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());
  EXPECT_EQ(Log(), before);
}

TEST_F(StrokeCommandsTest, SaveUIAndClearUINeedStrokes) {
  LoadCase();
  StartManualMarking();
  Click(ctl::kSaveUI);
  Click(ctl::kClearUI);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"There is no user interaction map.",
                                                  "There is no user interaction map."}));
  PaintAt(10, 10);
  PaintAt(20, 10, Qt::ControlModifier);
  // The written path, the contents and the failures are model tests.
  ClickWithFile(ctl::kSaveUI, PathOf("map"));
  EXPECT_EQ(m_platform.FileRequests().back().filter, kSaveFilter);
  EXPECT_EQ(Log().back(), "User interaction map is saved at : [" + PathOf("map.mhd") + "]");
  const CVoxel saved(PathOf("map.mhd"));
  ASSERT_TRUE(saved.HasData());
  EXPECT_EQ(saved.CountNonZero(), 18);
  EXPECT_EQ(saved.At(20, 10, 0), 3);

  Click(ctl::kClearUI);
  EXPECT_EQ(Log().back(), "Clear user interaction map");
  EXPECT_EQ(Dialog().StrokeMap()->CountNonZero(), 0);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());
}

TEST_F(StrokeCommandsTest, SegmentationChecksMarkingStrokesAndTheSegmentationFirst) {
  LoadCase();
  Click(ctl::kManual);
  Click(ctl::kSegmentation);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Press marking check box first!!"});
  Click(ctl::kMarking);
  Click(ctl::kSegmentation);
  EXPECT_EQ(Messages(), std::vector<std::string>{"There is no user interaction map."});
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  EXPECT_GE(m_platform.WaitCursorUses(), 2);
  EXPECT_EQ(m_platform.WaitCursorDepth(), 0);

  // Load Image drops the segmentation while the correction controls stay usable.
  PaintAt(10, 10);
  ClickWithFile(ctl::kLoadImage, PathOf("image.mhd"));
  ASSERT_TRUE(Enabled(ctl::kSegmentation));
  Click(ctl::kSegmentation);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please load a segmentation first"});
  EXPECT_FALSE(Dialog().IsWorkerRunning());
}
