// Correction runs and Cancel in the case model: what a run needs before it
// starts, what it hands back, the one-level backup, and undo/redo across runs.
#include <algorithm>
#include <filesystem>
#include <thread>

#include "Phantom.h"
#include "SessionFixture.h"

namespace sessiontest {
namespace {

using CorrectionRunTest = SessionFixture;

TEST_F(CorrectionRunTest, ARunNeedsMarkingStrokesAndMatchingVolumes) {
  LoadImage(MakeImage(kX, kY, kZ));
  EXPECT_EQ(m_case.StartCorrection(), nullptr);
  m_case.SetCorrectionMode(session::CorrectionMode::kManual);
  m_case.SetMarkingFlag(true);
  m_case.ApplyMarking();
  EXPECT_EQ(m_case.StartCorrection(), nullptr);
  Stroke(1, 4, 1, 1, 2);
  // Marking is on and there are strokes, but no segmentation.
  EXPECT_EQ(m_case.StartCorrection(), nullptr);
  EXPECT_EQ(TakeMessages(), (Lines{"Press marking check box first!!", "There is no user interaction map.",
                                   "Please load a segmentation first"}));
  EXPECT_FALSE(m_case.IsRunning());
  EXPECT_EQ(m_case.SegmentationBackup(), nullptr);

  // A segmentation of another size than the image never reaches a run.
  m_case.AdoptSegmentation(std::make_unique<CVoxel>(MakeBox(8, 8, 2, 1, 3, 1, 3, 0, 1)), "small");
  EXPECT_EQ(m_case.StartCorrection(), nullptr);
  EXPECT_EQ(TakeMessages(),
            (Lines{"The segmentation does not match the MR image or the user interaction map. "
                   "Please load the segmentation again."}));
}

TEST_F(CorrectionRunTest, AManualRunCorrectsACopyAndHandsItBackOnFinish) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);   // foreground outside the box
  Stroke(9, 12, 7, 2, 3);  // background inside it
  const CVoxel before = *m_case.Segmentation();
  const CVoxel strokes = *m_case.StrokeMap();
  const CVoxel* segmentation = m_case.Segmentation();
  TakeLines();

  auto job = m_case.StartCorrection();
  ASSERT_NE(job, nullptr);
  EXPECT_TRUE(m_case.IsRunning());
  // The run's copies are its own: the case still shows what it showed.
  EXPECT_NE(job->segmentation.get(), m_case.Segmentation());
  EXPECT_EQ(job->accumulatedMap->CountNonZero(), 7);
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 0);
  std::thread worker([&] { job->Run(m_sink, m_sink); });
  worker.join();
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), before));

  const CVoxel* oldStrokes = m_case.StrokeMap();
  const session::RetiredVolumes retired = m_case.FinishCorrection(std::move(job));
  EXPECT_FALSE(m_case.IsRunning());
  EXPECT_EQ(TakeLines(),
            (Lines{"Manual segmentation correction starts...", "Manual segmentation correction is done..."}));
  // The same segmentation, corrected in place: the viewer's pointer stays good.
  ASSERT_EQ(m_case.Segmentation(), segmentation);
  EXPECT_EQ(m_case.Segmentation()->At(3, 3, 2), 1);
  EXPECT_EQ(m_case.Segmentation()->At(10, 7, 2), 0);
  EXPECT_EQ(m_case.Segmentation()->At(14, 10, 2), 1);  // inside, untouched
  EXPECT_EQ(m_case.Segmentation()->At(3, 3, 1), 0);    // the slice below, untouched
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 7);
  EXPECT_TRUE(SameVoxels(*m_case.AccumulatedMap(), strokes));
  EXPECT_FALSE(m_case.Marking());
  ASSERT_NE(m_case.StrokeMap(), nullptr);
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  // The old stroke map is handed out, to be freed once the viewer has the fresh one.
  EXPECT_TRUE(
      std::any_of(retired.begin(), retired.end(), [&](const auto& v) { return v.get() == oldStrokes; }));
  EXPECT_TRUE(SameVoxels(*m_case.SegmentationBackup(), before));
  EXPECT_EQ(m_case.StrokeBackup()->CountNonZero(), 7);
  EXPECT_TRUE(SameVoxels(*m_case.StrokeBackup(), strokes));

  // Cancel puts the segmentation back, in the same object, and empties the accumulated map.
  ASSERT_TRUE(m_case.StartRestore());
  ASSERT_TRUE(m_case.FinishRestore());
  ASSERT_EQ(m_case.Segmentation(), segmentation);
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), before));
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 0);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(CorrectionRunTest, WhileARunIsOpenCommandsUndoAndRedoAreRefused) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  Stroke(2, 6, 4, 2, 2);
  ASSERT_TRUE(m_case.Undo());
  auto job = m_case.StartCorrection();
  ASSERT_NE(job, nullptr);
  EXPECT_FALSE(m_case.Undo());
  EXPECT_FALSE(m_case.Redo());
  EXPECT_TRUE(m_case.RefuseWhileRunning());
  EXPECT_FALSE(m_case.StartRestore());
  EXPECT_EQ(m_case.StartCorrection(), nullptr);
  // The viewer cannot paint during a run; should a stroke arrive, it is no step.
  m_case.BeginStroke();
  EXPECT_FALSE(m_case.History().EditOpen());
  EXPECT_EQ(TakeMessages(), Lines(3, "A correction is running. Please wait until it has finished."));
  job->Run(m_sink, m_sink);
  m_case.FinishCorrection(std::move(job));
  // The run was a new edit: the undone stroke cannot come back.
  EXPECT_FALSE(m_case.CanRedo());
  EXPECT_TRUE(m_case.CanUndo());
}

// The window refuses these before it asks for a file; the case refuses them
// too, so no caller can swap a volume under an open run.
TEST_F(CorrectionRunTest, WhileARunIsOpenNoVolumeIsLoadedSavedClearedOrReset) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  const std::string label = Write("label.mhd", MakeBox(kX, kY, kZ, 1, 3, 1, 3, 1, 3));
  auto job = m_case.StartCorrection();
  ASSERT_NE(job, nullptr);
  const CVoxel* image = m_case.Image();
  const CVoxel* segmentation = m_case.Segmentation();
  const CVoxel* strokes = m_case.StrokeMap();
  TakeLines();

  EXPECT_TRUE(m_case.AdoptImage(m_case.LoadVolume(label), label).empty());
  EXPECT_TRUE(m_case.AdoptSegmentation(m_case.LoadVolume(label), label).empty());
  EXPECT_TRUE(m_case.AdoptBoundary(m_case.LoadBoundaryVolume(label), label).empty());
  EXPECT_TRUE(m_case.LoadStrokeMap(m_case.LoadVolume(label), label).empty());
  EXPECT_TRUE(m_case.ClearStrokeMap().empty());
  EXPECT_FALSE(m_case.SaveSegmentation(m_dir.Path("seg.mhd")));
  EXPECT_FALSE(m_case.SaveStrokeMap(m_dir.Path("map.mhd")));
  EXPECT_TRUE(m_case.Reset().empty());
  EXPECT_EQ(TakeMessages(), Lines(8, "A correction is running. Please wait until it has finished."));
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("seg.mhd")));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("map.mhd")));
  EXPECT_EQ(m_case.Image(), image);
  EXPECT_EQ(m_case.Segmentation(), segmentation);
  EXPECT_EQ(m_case.Boundary(), nullptr);
  EXPECT_EQ(m_case.StrokeMap(), strokes);
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 4);
  EXPECT_TRUE(m_case.Marking());

  // The run finishes on the case as it was.
  job->Run(m_sink, m_sink);
  m_case.FinishCorrection(std::move(job));
  EXPECT_EQ(m_case.Segmentation()->At(3, 3, 2), 1);
  EXPECT_EQ(m_case.History().StepCount(), 2u);  // the stroke and the run
}

TEST_F(CorrectionRunTest, CancelRestoresOnceAndTakesTheRunsStrokesOutOfTheAccumulatedMap) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  RunCorrection();
  Stroke(9, 12, 7, 2, 3);
  m_case.SetMarkingFlag(true);
  RunCorrection();
  const CVoxel afterFirst = *m_case.SegmentationBackup();
  TakeLines();

  ASSERT_TRUE(m_case.StartRestore());
  EXPECT_TRUE(m_case.IsRunning());
  ASSERT_TRUE(m_case.FinishRestore());
  EXPECT_FALSE(m_case.IsRunning());
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), afterFirst));
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 4);  // the first run's strokes only
  EXPECT_EQ(m_case.SegmentationBackup(), nullptr);
  EXPECT_NE(m_case.StrokeBackup(), nullptr);
  EXPECT_EQ(TakeLines(), (Lines{"Segmentation is returned"}));

  ASSERT_TRUE(m_case.StartRestore());
  EXPECT_FALSE(m_case.FinishRestore());
  EXPECT_EQ(TakeMessages(), (Lines{"There is no backup result."}));
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), afterFirst));
}

TEST_F(CorrectionRunTest, LaterRunsAccumulateStrokesAndCancelTakesOnlyTheLastOnesBack) {
  StartManualCase();
  Stroke(2, 3, 3, 2, 2);  // outside the box: becomes inside
  RunCorrection();
  m_case.SetMarkingFlag(true);
  Stroke(25, 26, 20, 2, 2);
  RunCorrection();
  const CVoxel& accumulated = *m_case.AccumulatedMap();
  EXPECT_EQ(accumulated.At(2, 3, 2), 2);
  EXPECT_EQ(accumulated.At(25, 20, 2), 2);
  EXPECT_EQ(m_case.Segmentation()->At(2, 3, 2), 1);
  EXPECT_EQ(m_case.Segmentation()->At(25, 20, 2), 1);
  ASSERT_TRUE(m_case.StartRestore());
  ASSERT_TRUE(m_case.FinishRestore());
  EXPECT_EQ(m_case.AccumulatedMap()->At(2, 3, 2), 2);
  EXPECT_EQ(m_case.AccumulatedMap()->At(25, 20, 2), 0);
  EXPECT_EQ(m_case.Segmentation()->At(2, 3, 2), 1);
  EXPECT_EQ(m_case.Segmentation()->At(25, 20, 2), 0);
}

TEST_F(CorrectionRunTest, CancelBeforeAnyRunOrWithABackupOfAnotherSizeChangesNothing) {
  StartManualCase();
  const CVoxel before = *m_case.Segmentation();
  ASSERT_TRUE(m_case.StartRestore());
  EXPECT_FALSE(m_case.FinishRestore());
  EXPECT_EQ(TakeMessages(), (Lines{"There is no backup result."}));
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), before));
  EXPECT_FALSE(m_case.CanUndo());

  Stroke(2, 6, 3, 2, 2);
  RunCorrection();
  m_case.AdoptSegmentation(std::make_unique<CVoxel>(MakeBox(8, 8, 2, 1, 3, 1, 3, 0, 1)), "small");
  EXPECT_FALSE(m_case.StartRestore());
  EXPECT_EQ(TakeMessages(), (Lines{"The backup result does not match the current segmentation."}));
  EXPECT_FALSE(m_case.IsRunning());
}

TEST_F(CorrectionRunTest, CancelNeedsASegmentationAndABackupOfTheImagesSize) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  RunCorrection();
  TakeMessages();
  // A new image lets go of the segmentation; the backup of its size stays.
  m_case.AdoptImage(std::make_unique<CVoxel>(MakeImage(kX, kY, kZ)), "again");
  ASSERT_NE(m_case.SegmentationBackup(), nullptr);
  EXPECT_FALSE(m_case.StartRestore());
  EXPECT_EQ(TakeMessages(), (Lines{"Please load a segmentation first"}));
  EXPECT_FALSE(m_case.IsRunning());

  // An image of another size: the backups go with the old size.
  m_case.AdoptImage(std::make_unique<CVoxel>(MakeImage(16, 16, 4)), "small");
  EXPECT_EQ(m_case.SegmentationBackup(), nullptr);
  EXPECT_EQ(m_case.StrokeBackup(), nullptr);
  m_case.AdoptSegmentation(std::make_unique<CVoxel>(MakeBox(16, 16, 4, 5, 12, 5, 12, 1, 3)), "smallseg");
  const CVoxel before = *m_case.Segmentation();
  ASSERT_TRUE(m_case.StartRestore());
  EXPECT_FALSE(m_case.FinishRestore());
  EXPECT_EQ(TakeMessages(), (Lines{"There is no backup result."}));
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), before));
}

// Undo across a run gives back the segmentation and both maps bit for bit,
// redo gives back the run's result, and Cancel is a step of its own.
TEST_F(CorrectionRunTest, UndoAcrossARunAndACancelRestoresEveryVolumeBitForBit) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  RunCorrection();
  m_case.SetMarkingFlag(true);
  Stroke(9, 12, 7, 2, 3);
  Stroke(3, 5, 20, 4, 2);
  const CVoxel segmentationBefore = *m_case.Segmentation();
  const CVoxel strokesBefore = *m_case.StrokeMap();
  const CVoxel accumulatedBefore = *m_case.AccumulatedMap();
  const CVoxel backupBefore = *m_case.SegmentationBackup();
  RunCorrection();
  const CVoxel segmentationAfter = *m_case.Segmentation();
  const CVoxel accumulatedAfter = *m_case.AccumulatedMap();
  ASSERT_FALSE(SameVoxels(segmentationAfter, segmentationBefore));
  ASSERT_TRUE(m_case.StartRestore());
  ASSERT_TRUE(m_case.FinishRestore());
  TakeLines();

  // Undo the Cancel: the corrected result and the backup are back, so Cancel works again.
  ASSERT_TRUE(m_case.Undo());
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), segmentationAfter));
  EXPECT_TRUE(SameVoxels(*m_case.AccumulatedMap(), accumulatedAfter));
  ASSERT_NE(m_case.SegmentationBackup(), nullptr);
  EXPECT_TRUE(SameVoxels(*m_case.SegmentationBackup(), segmentationBefore));

  // Undo the run: segmentation, strokes and accumulated map as before it.
  ASSERT_TRUE(m_case.Undo());
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), segmentationBefore));
  EXPECT_TRUE(SameVoxels(*m_case.StrokeMap(), strokesBefore));
  EXPECT_TRUE(SameVoxels(*m_case.AccumulatedMap(), accumulatedBefore));
  EXPECT_TRUE(SameVoxels(*m_case.SegmentationBackup(), backupBefore));

  // Redo the run, then the Cancel.
  ASSERT_TRUE(m_case.Redo());
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), segmentationAfter));
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  ASSERT_TRUE(m_case.Redo());
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), segmentationBefore));
  EXPECT_EQ(m_case.SegmentationBackup(), nullptr);
  EXPECT_FALSE(m_case.Redo());
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_TRUE(TakeMessages().empty());
}

// The job is the one run of a correction (corvane-correct runs it too): it
// tells whether the driver refused, writes its closing line either way, and a
// refused run leaves the segmentation as it was.
TEST_F(CorrectionRunTest, AJobSaysWhetherItsRunWasRefusedAndAlwaysClosesItsLog) {
  session::CorrectionJob job;
  job.mode = session::CorrectionMode::kSemiAutomatic;
  job.referencePaths = {m_dir.Path("never_read_label.mhd")};
  job.segmentation = std::make_unique<CVoxel>(kX, kY, kZ, true);
  job.accumulatedMap = std::make_unique<CVoxel>(MakeBox(kX, kY, kZ, 1, 3, 1, 3, 0, 1, 2));
  EXPECT_FALSE(job.Run(m_sink, m_sink));
  EXPECT_EQ(TakeMessages(), (Lines{"The segmentation is empty: there is nothing to correct."}));
  EXPECT_EQ(TakeLines(), (Lines{"Semi-automatic segmentation correction starts...",
                                "Semi-automatic segmentation correction is done..."}));
  EXPECT_EQ(job.segmentation->CountNonZero(), 0);

  job.mode = session::CorrectionMode::kManual;
  EXPECT_TRUE(job.Run(m_sink, m_sink));
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(TakeLines(),
            (Lines{"Manual segmentation correction starts...", "Manual segmentation correction is done..."}));
  // Foreground strokes (2) became the label.
  EXPECT_TRUE(SameVoxels(*job.segmentation, MakeBox(kX, kY, kZ, 1, 3, 1, 3, 0, 1)));
}

// A small phantom case through the whole semi-automatic road: the run gets
// what the engine would get from the files directly, Cancel takes it back, and
// a second run on the reference labels the first one kept gives the same.
TEST_F(CorrectionRunTest, SemiAutomaticRunsOnAPhantomCaseMatchTheEngineAndAreRepeatable) {
  phantom::PhantomOptions options;
  options.size = C3DPoint(64, 64, 12);
  options.references = 3;
  options.seed = 7;
  const phantom::PhantomCase c = phantom::GeneratePhantom(options);
  ASSERT_TRUE(c.image.HasData());
  ASSERT_EQ(c.references.size(), 3u);
  std::filesystem::create_directories(m_dir.Path("references"));
  for (std::size_t i = 0; i < c.references.size(); ++i)
    Write("references/case_" + std::to_string(i) + "_label.mhd", *c.references[i]);
  const std::string scribbles = Write("scribbles.mhd", c.scribbles);
  LoadImage(c.image);
  LoadSegmentation(c.segmentation);
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  m_case.ChooseReferenceDir(m_dir.Path("references"));
  const auto stay = [](const std::string& directory) -> std::optional<std::string> { return directory; };
  m_case.SetMarkingFlag(true);
  ASSERT_EQ(m_case.ApplyMarking(stay), session::MarkingOutcome::kOnAfterScan);
  ASSERT_EQ(m_case.ReferencePaths().size(), 3u);
  m_case.LoadStrokeMap(m_case.LoadVolume(scribbles), scribbles);
  ASSERT_EQ(m_case.StrokeMap()->CountNonZero(), c.scribbles.CountNonZero());
  const CVoxel original = *m_case.Segmentation();
  TakeLines();

  RunCorrection();
  EXPECT_TRUE(TakeMessages().empty());
  const Lines expected = {"Semi-automatic segmentation correction starts...",
                          "Center position is detected...",
                          "All reference labels are registered...",
                          "Distance maps are computed...",
                          "Probability maps are computed...",
                          "Final result is computed...",
                          "Semi-automatic segmentation correction is done..."};
  EXPECT_EQ(TakeLines(), expected);
  const CVoxel& corrected = *m_case.Segmentation();
  EXPECT_FALSE(SameVoxels(corrected, original));
  for (std::size_t i = 0; i < corrected.VoxelCount(); ++i)
    ASSERT_TRUE(corrected[i] == 0 || corrected[i] == 1);
  CVoxel expectedLabel = c.segmentation;
  volume::RecordingSink sink;
  ASSERT_TRUE(RunSemiAutomaticCorrection(expectedLabel, c.scribbles, m_case.ReferencePaths(),
                                         session::SemiAutomaticParameters(), {sink, sink}));
  EXPECT_TRUE(SameVoxels(corrected, expectedLabel));
  EXPECT_FALSE(m_case.Marking());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);

  ASSERT_TRUE(m_case.StartRestore());
  ASSERT_TRUE(m_case.FinishRestore());
  EXPECT_EQ(TakeLines(), (Lines{"Segmentation is returned"}));
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), original));

  m_case.SetMarkingFlag(true);
  ASSERT_EQ(m_case.ApplyMarking(stay), session::MarkingOutcome::kOn);
  m_case.LoadStrokeMap(m_case.LoadVolume(scribbles), scribbles);
  TakeLines();
  RunCorrection();
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(TakeLines(), expected);
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), expectedLabel));
}

// References on a finer grid than the case: the millimetre run places them by
// their geometry and keeps them apart from the fixed mode's, whose next run on
// the same files still reads them voxel for voxel.
TEST_F(CorrectionRunTest, MillimetreRunsMatchTheEngineAndLeaveTheFixedModesReferencesAlone) {
  phantom::PhantomOptions options;
  options.size = C3DPoint(64, 64, 12);
  options.references = 3;
  options.seed = 5;
  const phantom::PhantomCase c = phantom::GeneratePhantom(options);
  std::filesystem::create_directories(m_dir.Path("references"));
  for (std::size_t i = 0; i < c.references.size(); ++i) {
    CVoxel reference = *c.references[i];
    for (float& s : reference.spacing) s *= 0.8f;  // the same label said to be smaller
    Write("references/case_" + std::to_string(i) + "_label.mhd", reference);
  }
  const std::string scribbles = Write("scribbles.mhd", c.scribbles);
  LoadImage(c.image);
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomaticMillimetre);
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  EXPECT_EQ(
      std::count_if(m_sink.lines.begin(), m_sink.lines.end(),
                    [](const std::string& line) { return line.find("(millimetres)") != std::string::npos; }),
      1);
  const auto stay = [](const std::string& directory) -> std::optional<std::string> { return directory; };
  const auto runIn = [&](session::CorrectionMode mode) {
    LoadSegmentation(c.segmentation);
    m_case.SetCorrectionMode(mode);
    m_case.ChooseReferenceDir(m_dir.Path("references"));
    m_case.SetMarkingFlag(true);
    ASSERT_NE(m_case.ApplyMarking(stay), session::MarkingOutcome::kOff);
    m_case.LoadStrokeMap(m_case.LoadVolume(scribbles), scribbles);
    RunCorrection();
    EXPECT_TRUE(TakeMessages().empty());
  };
  const auto engine = [&](const fusion::CorrectionParameters& parameters) {
    CVoxel label = c.segmentation;
    const CVoxel map = c.scribbles;
    volume::RecordingSink sink;
    EXPECT_TRUE(RunSemiAutomaticCorrection(label, map, m_case.ReferencePaths(), parameters, {sink, sink}));
    return label;
  };

  runIn(session::CorrectionMode::kSemiAutomaticMillimetre);
  const CVoxel millimetre = *m_case.Segmentation();
  EXPECT_TRUE(
      SameVoxels(millimetre, engine(session::ParametersFor(session::CorrectionMode::kSemiAutomaticMillimetre,
                                                           *m_case.Segmentation()))));
  runIn(session::CorrectionMode::kSemiAutomatic);
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), engine(session::SemiAutomaticParameters())));
  EXPECT_FALSE(SameVoxels(*m_case.Segmentation(), millimetre));
  runIn(session::CorrectionMode::kSemiAutomaticMillimetre);
  EXPECT_TRUE(SameVoxels(*m_case.Segmentation(), millimetre));
}

}  // namespace
}  // namespace sessiontest
