// The correction and restore workers: runs, undo, the run lock and the
// refusals. These tests start real worker threads (label "threads").
#include <QDir>

#include "DialogFixture.h"
#include "Phantom.h"
#include "app/SpinControl.h"
#include "correction/CorrectionDriver.h"
#include "correction/MillimetreScale.h"
#include "volume/Writers.h"

using namespace app;

using namespace apptest;

namespace {
constexpr const char* kBusy = "A correction is running. Please wait until it has finished.";
}  // namespace

class WorkerTest : public DialogFixture {
 protected:
  // Every control of the window that has an identifier.
  std::vector<int> ControlIds() {
    std::vector<int> ids;
    for (QWidget* widget : Dialog().findChildren<QWidget*>())
      if (widget->property("controlId").isValid()) ids.push_back(widget->property("controlId").toInt());
    return ids;
  }

  // Manual mode, Marking on, a foreground stroke outside the segmentation box
  // and a background stroke inside it, on slice 4.
  void PaintManualStrokes() {
    StartManualMarking();
    Slider(ctl::kSliceZ)->setSliderPosition(4);
    PaintAt(10, 10);                       // outside the box: becomes inside
    PaintAt(30, 20, Qt::ControlModifier);  // inside the box: becomes outside
  }
};

// What a run and Cancel do to the volumes is tested on the model; here they
// go through the worker thread and the window shows the outcome.
TEST_F(WorkerTest, ManualCorrectionThenCancelThenASecondCancel) {
  LoadCase();
  const CVoxel original = *Dialog().Segmentation();
  const CVoxel* segmentation = Dialog().Segmentation();
  PaintManualStrokes();
  const std::size_t before = Log().size();

  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Log().size(), before + 2);
  EXPECT_EQ(Log()[before], "Manual segmentation correction starts...");
  EXPECT_EQ(Log()[before + 1], "Manual segmentation correction is done...");
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  // The same segmentation object, corrected in place.
  ASSERT_EQ(Dialog().Segmentation(), segmentation);
  EXPECT_EQ(segmentation->At(10, 10, 4), 1);
  EXPECT_EQ(segmentation->At(30, 20, 4), 0);
  EXPECT_EQ(Viewer().Segmentation(), segmentation);
  // Marking is off, and the viewer draws the fresh stroke map.
  EXPECT_FALSE(Checked(ctl::kMarking));
  EXPECT_FALSE(Viewer().Marking());
  EXPECT_EQ(Dialog().StrokeMap()->CountNonZero(), 0);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());
  EXPECT_TRUE(Enabled(ctl::kLoadImage));
  EXPECT_TRUE(Enabled(ctl::kCancelCorrection));

  Click(ctl::kCancelCorrection);
  Dialog().WaitForWorker();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Log().back(), "Segmentation is returned");
  ASSERT_EQ(Dialog().Segmentation(), segmentation);
  EXPECT_TRUE(SameVoxels(*segmentation, original));
  EXPECT_EQ(Viewer().Segmentation(), segmentation);

  const Lines after = Log();
  Click(ctl::kCancelCorrection);
  Dialog().WaitForWorker();
  EXPECT_EQ(Messages(), std::vector<std::string>{"There is no backup result."});
  EXPECT_EQ(Log(), after);
  EXPECT_TRUE(SameVoxels(*segmentation, original));
  EXPECT_TRUE(Enabled(ctl::kCancelCorrection));
}

TEST_F(WorkerTest, CancelBeforeAnyRunChangesNothing) {
  LoadCase();
  Click(ctl::kManual);
  const CVoxel original = *Dialog().Segmentation();
  const Lines before = Log();
  Click(ctl::kCancelCorrection);
  Dialog().WaitForWorker();
  EXPECT_EQ(Messages(), std::vector<std::string>{"There is no backup result."});
  EXPECT_EQ(Log(), before);
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), original));
  EXPECT_TRUE(Enabled(ctl::kSegmentation));
}

TEST_F(WorkerTest, WhileAWorkerRunsItsVolumesAreLockedAgainstEveryCommand) {
  LoadCase();
  PaintManualStrokes();
  std::map<int, bool> enabledBefore;
  for (int id : ControlIds()) enabledBefore[id] = Enabled(id);
  const CVoxel* segmentation = Dialog().Segmentation();
  const CVoxel* strokes = Dialog().StrokeMap();
  const std::string referenceDir = Dialog().ReferenceDir();
  const int brushSize = Dialog().BrushSize();
  const QString brushText = Text(ctl::kBrushSizeEdit);
  const QString referenceText = Text(ctl::kReferenceDir);
  const std::size_t fileRequests = m_platform.FileRequests().size();

  Click(ctl::kSegmentation);
  // The worker now waits for the window's thread to take its first log line:
  // nothing has been processed yet, so the run is certainly still going.
  ASSERT_TRUE(Dialog().IsWorkerRunning());
  EXPECT_FALSE(Viewer().Marking());  // no painting into the map the worker reads
  // A user tries every button and types into every field: nothing that could
  // touch the run's volumes answers (no file dialog, no message, no change).
  for (int id : ControlIds()) {
    QWidget* control = Dialog().Control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      if (id != ctl::kShowSegmentation && id != ctl::kShowBoundary) button->click();
    } else if (auto* edit = qobject_cast<QLineEdit*>(control); edit && id != ctl::kZoomEdit) {
      QTest::keyClicks(edit, "7");
    } else if (auto* spin = qobject_cast<SpinControl*>(control); spin && id == ctl::kBrushSpin) {
      spin->Step(1);
    }
  }
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(m_platform.FileRequests().size(), fileRequests);
  EXPECT_EQ(Dialog().Segmentation(), segmentation);
  EXPECT_EQ(Dialog().StrokeMap(), strokes);
  EXPECT_EQ(Dialog().ReferenceDir(), referenceDir);
  EXPECT_EQ(Dialog().BrushSize(), brushSize);
  EXPECT_EQ(Text(ctl::kBrushSizeEdit), brushText);
  EXPECT_EQ(Text(ctl::kReferenceDir), referenceText);
  EXPECT_EQ(Dialog().CorrectionMode(), 1);
  EXPECT_TRUE(Dialog().IsWorkerRunning());
  // Commands that reach the window anyway are refused.
  Dialog().OnLoadImage();
  Dialog().OnReset();
  Dialog().OnSegmentation();
  Dialog().OnCancelCorrection();
  Dialog().OnClearUI();
  Dialog().OnSaveSegmentation();
  EXPECT_EQ(Messages(), std::vector<std::string>(6, kBusy));
  EXPECT_EQ(m_platform.FileRequests().size(), fileRequests);
  // View controls stay usable.
  EXPECT_TRUE(Enabled(ctl::kSliceZ));
  Slider(ctl::kSliceY)->setSliderPosition(3);
  EXPECT_EQ(Viewer().Axis(), 1);

  Dialog().WaitForWorker();
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  EXPECT_EQ(Dialog().Segmentation(), segmentation);
  EXPECT_EQ(Log().back(), "Manual segmentation correction is done...");
  for (int id : ControlIds()) EXPECT_EQ(Enabled(id), enabledBefore[id]) << id;
  EXPECT_EQ(Dialog().BrushSize(), brushSize);
  const Lines log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Manual segmentation correction starts..."), 1);
}

// Undo is refused while the worker runs; afterwards it takes the run back:
// the segmentation and both maps as they were, bit for bit.
TEST_F(WorkerTest, UndoWaitsForTheRunAndThenTakesItBackExactly) {
  LoadCase();
  PaintManualStrokes();
  const CVoxel segmentation = *Dialog().Segmentation();
  const CVoxel strokes = *Dialog().StrokeMap();
  const CVoxel accumulated = *Dialog().AccumulatedMap();

  Click(ctl::kSegmentation);
  ASSERT_TRUE(Dialog().IsWorkerRunning());
  QTest::keyClick(Dialog().Control(ctl::kLog), Qt::Key_Z, Qt::ControlModifier);
  Dialog().WaitForWorker();
  // The run is complete: the last stroke was not taken back under it.
  EXPECT_EQ(Dialog().StrokeMap()->CountNonZero(), 0);
  EXPECT_FALSE(SameVoxels(*Dialog().Segmentation(), segmentation));
  const CVoxel corrected = *Dialog().Segmentation();
  const Lines log = Log();

  QTest::keyClick(Dialog().Control(ctl::kLog), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), segmentation));
  EXPECT_TRUE(SameVoxels(*Dialog().StrokeMap(), strokes));
  EXPECT_TRUE(SameVoxels(*Dialog().AccumulatedMap(), accumulated));
  EXPECT_EQ(Viewer().Segmentation(), Dialog().Segmentation());
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());
  QTest::keyClick(Dialog().Control(ctl::kLog), Qt::Key_Y, Qt::ControlModifier);
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), corrected));
  EXPECT_EQ(Log(), log);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(WorkerTest, AThreadThatCannotStartIsReported) {
  LoadCase();
  PaintManualStrokes();
  m_platform.FailNextThreadStart();
  Click(ctl::kSegmentation);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ERROR: Failed to begin thread"});
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  EXPECT_TRUE(Enabled(ctl::kSegmentation));
  EXPECT_TRUE(Viewer().Marking());
  EXPECT_EQ(Dialog().SegmentationBackup(), nullptr);
  m_platform.FailNextThreadStart();
  Click(ctl::kCancelCorrection);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ERROR: Failed to begin thread"});
  EXPECT_TRUE(Enabled(ctl::kCancelCorrection));
}

// Cancel without a segmentation, or after an image of another size, is a
// model test; a refusal before the worker starts leaves Cancel usable.
TEST_F(WorkerTest, ACancelRefusedBeforeItsWorkerStartsLeavesTheWindowUsable) {
  LoadCase();
  PaintManualStrokes();
  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  // Load Image drops the segmentation; the backup stays.
  ClickWithFile(ctl::kLoadImage, PathOf("image.mhd"));
  Click(ctl::kCancelCorrection);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please load a segmentation first"});
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  EXPECT_TRUE(Enabled(ctl::kCancelCorrection));
}

TEST_F(WorkerTest, ClosingWithEveryVolumeHeldAndClosingEmpty) {
  LoadCase();
  ClickWithFile(ctl::kLoadBoundary, PathOf("segmentation.mhd"));
  PaintManualStrokes();
  Click(ctl::kSegmentation);
  // Closing while the worker runs waits for it, then asks about the corrected segmentation.
  m_platform.QueueAnswer("Discard");
  Dialog().close();
  EXPECT_FALSE(Dialog().IsWorkerRunning());
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_EQ(Log().back(), "Manual segmentation correction is done...");
  m_dialog.reset();
  CCorvaneDlg empty(m_platform);
  empty.show();
  empty.close();
}

// A small phantom case through the whole semi-automatic road.
TEST_F(WorkerTest, SemiAutomaticCorrectionOnAPhantomCase) {
  phantom::PhantomOptions options;
  options.size = C3DPoint(64, 64, 12);
  options.references = 3;
  options.seed = 7;
  const phantom::PhantomCase c = phantom::GeneratePhantom(options);
  ASSERT_TRUE(c.image.HasData());
  ASSERT_EQ(c.references.size(), 3u);
  ASSERT_TRUE(QDir(m_dir.path()).mkpath("case/references"));
  const std::string image = Write("case/image.mhd", c.image);
  const std::string segmentation = Write("case/segmentation.mhd", c.segmentation);
  const std::string scribbles = Write("case/scribbles.mhd", c.scribbles);
  for (std::size_t i = 0; i < c.references.size(); ++i) {
    Write("case/references/case_" + std::to_string(i) + "_label.mhd", *c.references[i]);
  }

  ClickWithFile(ctl::kLoadImage, image);
  ClickWithFile(ctl::kLoadSegmentation, segmentation);
  Click(ctl::kSemiAutomatic);
  m_platform.QueueFolder(PathOf("case/references"));
  Click(ctl::kBrowseReferenceDir);
  Click(ctl::kMarking);
  ASSERT_EQ(Dialog().ReferencePaths().size(), 3u);
  ClickWithFile(ctl::kLoadUI, scribbles);
  ASSERT_EQ(Dialog().StrokeMap()->CountNonZero(), c.scribbles.CountNonZero());
  const CVoxel original = *Dialog().Segmentation();
  const std::size_t before = Log().size();

  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  EXPECT_TRUE(Messages().empty());
  const Lines expected = {"Semi-automatic segmentation correction starts...",
                          "Center position is detected...",
                          "All reference labels are registered...",
                          "Distance maps are computed...",
                          "Probability maps are computed...",
                          "Final result is computed...",
                          "Semi-automatic segmentation correction is done..."};
  const Lines log = Log();
  EXPECT_EQ(Lines(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()), expected);
  const CVoxel& corrected = *Dialog().Segmentation();
  EXPECT_FALSE(SameVoxels(corrected, original));
  for (std::size_t i = 0; i < corrected.VoxelCount(); ++i)
    ASSERT_TRUE(corrected[i] == 0 || corrected[i] == 1);
  // The window hands the engine what it would get from the files directly.
  CVoxel expectedLabel = c.segmentation;
  volume::RecordingSink sink;
  fusion::CorrectionParameters parameters;  // the window's fixed values are the defaults
  ASSERT_TRUE(RunSemiAutomaticCorrection(expectedLabel, c.scribbles, Dialog().ReferencePaths(), parameters,
                                         {sink, sink}));
  EXPECT_TRUE(SameVoxels(corrected, expectedLabel));
  EXPECT_FALSE(Dialog().Marking());
  EXPECT_EQ(Dialog().StrokeMap()->CountNonZero(), 0);

  Click(ctl::kCancelCorrection);
  Dialog().WaitForWorker();
  EXPECT_EQ(Log().back(), "Segmentation is returned");
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), original));

  // The same strokes again: this run uses the reference labels the first one
  // read, with the same log lines and the same result.
  Click(ctl::kMarking);
  ClickWithFile(ctl::kLoadUI, scribbles);
  const std::size_t again = Log().size();
  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  EXPECT_TRUE(Messages().empty());
  const Lines second = Log();
  EXPECT_EQ(Lines(second.begin() + static_cast<std::ptrdiff_t>(again), second.end()), expected);
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), expectedLabel));
}

TEST_F(WorkerTest, ChoosingAModeWhileAWorkerRunsIsRefused) {
  LoadCase();
  PaintManualStrokes();
  Click(ctl::kSegmentation);
  ASSERT_TRUE(Dialog().IsWorkerRunning());
  Dialog().OnSemiAutomaticMillimetre();
  Dialog().OnSemiAutomatic();
  EXPECT_EQ(Messages(), std::vector<std::string>(2, kBusy));
  EXPECT_EQ(Dialog().CorrectionMode(), static_cast<int>(session::CorrectionMode::kManual));
  Dialog().WaitForWorker();
  EXPECT_EQ(Log().back(), "Manual segmentation correction is done...");
}

// The millimetre choice on a phantom case of coarse voxels: the window says
// once that the mode is meant for it, and its run is the engine's millimetre
// run on the same files.
TEST_F(WorkerTest, MillimetreCorrectionOnACoarsePhantomCase) {
  phantom::PhantomOptions options;
  options.size = C3DPoint(64, 64, 12);  // 2.5 x 2.5 x 8 mm voxels
  options.references = 3;
  options.seed = 3;
  const phantom::PhantomCase c = phantom::GeneratePhantom(options);
  ASSERT_TRUE(QDir(m_dir.path()).mkpath("case/references"));
  const std::string image = Write("case/image.mhd", c.image);
  const std::string segmentation = Write("case/segmentation.mhd", c.segmentation);
  const std::string scribbles = Write("case/scribbles.mhd", c.scribbles);
  for (std::size_t i = 0; i < c.references.size(); ++i)
    Write("case/references/case_" + std::to_string(i) + "_label.mhd", *c.references[i]);

  const auto hints = [this] {
    const Lines log = Log();
    return std::count_if(log.begin(), log.end(), [](const std::string& line) {
      return line.find("Semi-automatic (millimetres) is meant for such images") != std::string::npos;
    });
  };
  ClickWithFile(ctl::kLoadImage, image);
  ClickWithFile(ctl::kLoadSegmentation, segmentation);
  EXPECT_EQ(hints(), 0);
  // Choosing the voxel mode on this image names the millimetre mode, once.
  Click(ctl::kSemiAutomatic);
  EXPECT_EQ(hints(), 1);
  Click(ctl::kManual);
  Click(ctl::kSemiAutomatic);
  EXPECT_EQ(hints(), 1);
  ClickWithFile(ctl::kLoadSegmentation, segmentation);
  Click(ctl::kSemiAutomaticMillimetre);
  EXPECT_EQ(Dialog().CorrectionMode(), static_cast<int>(session::CorrectionMode::kSemiAutomaticMillimetre));
  EXPECT_TRUE(Enabled(ctl::kReferenceDir));
  m_platform.QueueFolder(PathOf("case/references"));
  Click(ctl::kBrowseReferenceDir);
  Click(ctl::kMarking);
  ASSERT_EQ(Dialog().ReferencePaths().size(), 3u);
  ClickWithFile(ctl::kLoadUI, scribbles);
  const std::size_t before = Log().size();
  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  EXPECT_TRUE(Messages().empty());
  const Lines log = Log();
  ASSERT_EQ(log.size(), before + 7);
  EXPECT_EQ(log[before], "Semi-automatic segmentation correction starts...");
  EXPECT_EQ(log.back(), "Semi-automatic segmentation correction is done...");

  CVoxel expected = c.segmentation;
  CVoxel fixed = c.segmentation;
  volume::RecordingSink sink;
  ASSERT_TRUE(RunSemiAutomaticCorrection(
      expected, c.scribbles, Dialog().ReferencePaths(),
      correction::MillimetreParameters(fusion::CorrectionParameters{}, c.segmentation), {sink, sink}));
  ASSERT_TRUE(RunSemiAutomaticCorrection(fixed, c.scribbles, Dialog().ReferencePaths(),
                                         fusion::CorrectionParameters{}, {sink, sink}));
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), expected));
  EXPECT_FALSE(SameVoxels(expected, fixed));  // the millimetre run is not the voxel one here
  // A new image: the voxel mode chosen on it says it again, once.
  ClickWithFile(ctl::kLoadImage, image);
  ClickWithFile(ctl::kLoadSegmentation, segmentation);
  Click(ctl::kSemiAutomatic);
  Click(ctl::kSemiAutomatic);
  EXPECT_EQ(hints(), 2);
}
