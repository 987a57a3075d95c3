// The case model's commands without a window: what each does to the case, what
// it writes to the log, and when it refuses with which message.
#include <filesystem>
#include <fstream>

#include "SessionFixture.h"

namespace sessiontest {
namespace {

using CaseSessionTest = SessionFixture;

TEST_F(CaseSessionTest, StartsEmptyWithTheBuiltInSettings) {
  EXPECT_EQ(m_case.Image(), nullptr);
  EXPECT_EQ(m_case.Mode(), session::CorrectionMode::kManual);
  EXPECT_FALSE(m_case.Marking());
  EXPECT_EQ(m_case.BrushSize(), 2);
  EXPECT_EQ(m_case.ReferenceDir(), "C:\\DataSet\\prostate\\popR\\label2");
  EXPECT_FALSE(m_case.CanUndo());
  // The one parameter set of every semi-automatic run.
  const fusion::CorrectionParameters& p = m_case.Parameters();
  EXPECT_EQ(p.neighbourhoodMargin, (C3DPoint{18, 18, 6}));
  EXPECT_EQ(p.translationRange, (C3DPoint{8, 8, 8}));
  EXPECT_EQ(p.translationStep, (C3DPoint{2, 2, 2}));
  EXPECT_EQ(p.segmentationWeight, 0.005);
  EXPECT_EQ(p.otherScribbleWeight, 0.1);
  EXPECT_EQ(p.priorDistance, 10.0);
  EXPECT_EQ(p.pairDistance, 40.0);
  EXPECT_EQ(p.distanceScale, 100.0);
  EXPECT_EQ(p.votingReferences, 7);
}

TEST_F(CaseSessionTest, LoadingLogsTheVolumesAndAFileWithoutDataChangesNothing) {
  LoadImage(MakeImage(kX, kY, kZ));
  LoadSegmentation(MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5));
  ASSERT_NE(m_case.AccumulatedMap(), nullptr);
  EXPECT_TRUE(m_case.AccumulatedMap()->SameSize(*m_case.Segmentation()));
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 0);
  EXPECT_EQ(TakeLines(), (Lines{"Load Input... Path : [" + m_dir.Path("image.mhd") + "]",
                                "Load Segmentation... Path : [" + m_dir.Path("segmentation.mhd") + "]"}));

  const std::string broken = m_dir.Path("broken.mhd");
  std::ofstream(broken) << "not a header";
  EXPECT_EQ(m_case.LoadVolume(broken), nullptr);
  const Lines messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "Failed to load [" + broken + "]");
  EXPECT_TRUE(m_case.AdoptImage(nullptr, broken).empty());
  EXPECT_EQ(m_case.ImagePath(), m_dir.Path("image.mhd"));
  EXPECT_NE(m_case.Segmentation(), nullptr);
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(CaseSessionTest, ASecondImageDropsTheOverlaysAndTheMapsOfAnotherSize) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  ASSERT_TRUE(m_case.CanUndo());
  const CVoxel* strokes = m_case.StrokeMap();
  const CVoxel* accumulated = m_case.AccumulatedMap();
  TakeLines();

  // Same size: the maps stay, the segmentation goes, the history starts again.
  session::RetiredVolumes retired =
      m_case.AdoptImage(std::make_unique<CVoxel>(MakeImage(kX, kY, kZ)), "second");
  EXPECT_EQ(retired.size(), 2u);  // the segmentation and the old image
  EXPECT_EQ(m_case.Segmentation(), nullptr);
  EXPECT_EQ(m_case.StrokeMap(), strokes);
  EXPECT_EQ(m_case.AccumulatedMap(), accumulated);
  EXPECT_EQ(m_case.ImagePath(), "second");
  EXPECT_EQ(TakeLines(), (Lines{"Load Input... Path : [second]"}));
  EXPECT_FALSE(m_case.CanUndo());

  // Another size: the maps go too.
  retired = m_case.AdoptImage(std::make_unique<CVoxel>(MakeImage(8, 8, 2)), "third");
  EXPECT_EQ(m_case.StrokeMap(), nullptr);
  EXPECT_EQ(m_case.AccumulatedMap(), nullptr);
}

TEST_F(CaseSessionTest, LoadSegmentationForgetsTheReferencesButKeepsTheBackups) {
  StartManualCase();
  Stroke(2, 6, 3, 2, 2);
  RunCorrection();
  ASSERT_NE(m_case.SegmentationBackup(), nullptr);
  LoadSegmentation(MakeBox(kX, kY, kZ, 1, 3, 1, 3, 1, 3));
  EXPECT_NE(m_case.SegmentationBackup(), nullptr);
  EXPECT_NE(m_case.StrokeBackup(), nullptr);
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 0);
  EXPECT_FALSE(m_case.CanUndo());
}

TEST_F(CaseSessionTest, SaveSegmentationNeedsOneAndReportsAFailedWrite) {
  EXPECT_FALSE(m_case.RequireSegmentation());
  EXPECT_FALSE(m_case.SaveSegmentation(m_dir.Path("out.mhd")));
  EXPECT_EQ(TakeMessages(), (Lines{"Please load a segmentation first", "Please load a segmentation first"}));
  StartManualCase();
  TakeLines();
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("out.mhd")));
  EXPECT_TRUE(std::filesystem::exists(m_dir.Path("out.mhd")));
  const std::string nowhere = m_dir.Path("missing/folder/out.mhd");
  EXPECT_FALSE(m_case.SaveSegmentation(nowhere));
  EXPECT_EQ(TakeMessages(), (Lines{"Failed to save at : [" + nowhere + "]"}));
  EXPECT_EQ(TakeLines(), (Lines{"Segmentation is saved at : [" + m_dir.Path("out.mhd") + "]"}));
}

TEST_F(CaseSessionTest, SemiAutomaticModeNeedsMarkingAgainManualKeepsIt) {
  // Choosing a mode gives the case an empty stroke map of the image's size.
  LoadImage(MakeImage(kX, kY, kZ));
  EXPECT_EQ(m_case.StrokeMap(), nullptr);
  EXPECT_FALSE(m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic));
  EXPECT_EQ(m_case.Mode(), session::CorrectionMode::kSemiAutomatic);
  ASSERT_NE(m_case.StrokeMap(), nullptr);
  EXPECT_TRUE(m_case.StrokeMap()->SameSize(*m_case.Image()));
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  // An existing map stays.
  const CVoxel* strokes = m_case.StrokeMap();
  m_case.SetCorrectionMode(session::CorrectionMode::kManual);
  EXPECT_EQ(m_case.Mode(), session::CorrectionMode::kManual);
  EXPECT_EQ(m_case.StrokeMap(), strokes);

  StartManualCase();
  EXPECT_FALSE(m_case.SetCorrectionMode(session::CorrectionMode::kManual));
  EXPECT_TRUE(m_case.Marking());
  EXPECT_TRUE(m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic));
  EXPECT_FALSE(m_case.Marking());
  EXPECT_FALSE(m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic));
}

TEST_F(CaseSessionTest, ManualMarkingWritesTheHelpOnceAndCreatesTheStrokeMap) {
  LoadImage(MakeImage(kX, kY, kZ));
  TakeLines();
  m_case.SetMarkingFlag(true);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOn);
  ASSERT_NE(m_case.StrokeMap(), nullptr);
  EXPECT_TRUE(m_case.StrokeMap()->SameSize(*m_case.Image()));
  const Lines help{"-----------------------------------------", "Foreground scribble : Left",
                   "Background scribble : ctrl+Left", "Eraser : shift+Left",
                   "-----------------------------------------"};
  EXPECT_EQ(TakeLines(), help);
  m_case.SetMarkingFlag(false);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOff);
  m_case.SetMarkingFlag(true);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOn);
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(CaseSessionTest, TheFirstSemiAutomaticMarkingScansTheReferenceDirectoryOnce) {
  LoadImage(MakeImage(kX, kY, kZ));
  TakeLines();
  std::filesystem::create_directories(m_dir.Path("refs/sub"));
  for (const char* name : {"refs/a_label.mhd", "refs/sub/b_label.mhd", "refs/c_label.mhd", "refs/other.mhd"})
    std::ofstream(m_dir.Path(name)) << "x";
  m_case.ChooseReferenceDir(m_dir.Path("refs"));
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  m_case.SetMarkingFlag(true);
  ASSERT_TRUE(m_case.WillScanReferences());
  std::vector<std::string> entered;
  const auto enter = [&entered](const std::string& directory) -> std::optional<std::string> {
    entered.push_back(directory);
    return directory;
  };
  EXPECT_EQ(m_case.ApplyMarking(enter), session::MarkingOutcome::kOnAfterScan);
  EXPECT_EQ(entered, (Lines{m_dir.Path("refs")}));
  // The files of a folder before those of its sub-folders, each sorted.
  EXPECT_EQ(m_case.ReferencePaths(), (Lines{m_dir.Path("refs/a_label.mhd"), m_dir.Path("refs/c_label.mhd"),
                                            m_dir.Path("refs/sub/b_label.mhd")}));
  EXPECT_EQ(TakeLines(),
            (Lines{"-----------------------------------------", "3 reference images are detected.",
                   "-----------------------------------------", "Foreground scribble : Left",
                   "Background scribble : ctrl+Left", "Eraser : shift+Left",
                   "-----------------------------------------"}));
  EXPECT_TRUE(TakeMessages().empty());

  // Known references: no scan, no count line.
  EXPECT_FALSE(m_case.WillScanReferences());
  EXPECT_EQ(m_case.ApplyMarking(enter), session::MarkingOutcome::kOn);
  EXPECT_EQ(entered.size(), 1u);
  EXPECT_TRUE(TakeLines().empty());

  // A chosen directory is scanned again at the next Marking.
  m_case.ChooseReferenceDir(m_dir.Path("refs/sub"));
  EXPECT_TRUE(m_case.ReferencePaths().empty());
  EXPECT_TRUE(m_case.WillScanReferences());
}

TEST_F(CaseSessionTest, MarkingWithoutReferencesIsRefusedAndAMissingFolderIsNotScanned) {
  LoadImage(MakeImage(kX, kY, kZ));
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  m_case.SetMarkingFlag(true);
  bool scanned = false;
  EXPECT_EQ(m_case.ApplyMarking([&scanned](const std::string&) -> std::optional<std::string> {
    scanned = true;
    return std::nullopt;
  }),
            session::MarkingOutcome::kOff);
  EXPECT_TRUE(scanned);
  EXPECT_FALSE(m_case.Marking());
  EXPECT_EQ(TakeMessages(), (Lines{"There is no referece image. Please check [Reference Image Directory]"}));
  EXPECT_EQ(TakeLines(), (Lines{"Load Input... Path : [" + m_dir.Path("image.mhd") + "]"}));
}

// The scan enters the reference folder and the process stays there; a folder
// that does not exist (the built-in one, here) is not scanned, so the current
// directory is never scanned in its place.
TEST_F(CaseSessionTest, TheScanEntersTheReferenceFolderAndNeverScansTheCurrentOneInstead) {
  const std::filesystem::path start = std::filesystem::current_path();
  struct Restore {
    std::filesystem::path path;
    ~Restore() { std::filesystem::current_path(path); }
  } restore{start};
  LoadImage(MakeImage(kX, kY, kZ));
  TakeLines();
  std::filesystem::create_directories(m_dir.Path("refs/sub"));
  std::ofstream(m_dir.Path("current_label.mhd")) << "x";
  std::filesystem::current_path(m_dir.Root());
  m_case.SetCorrectionMode(session::CorrectionMode::kSemiAutomatic);
  m_case.SetMarkingFlag(true);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOff);
  EXPECT_TRUE(m_case.ReferencePaths().empty());
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_dir.Root()));
  // An existing folder without references: entered, nothing found.
  m_case.ChooseReferenceDir(m_dir.Path("refs/sub"));
  m_case.SetMarkingFlag(true);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOff);
  EXPECT_EQ(TakeMessages(), Lines(2, "There is no referece image. Please check [Reference Image Directory]"));
  EXPECT_FALSE(m_case.Marking());
  EXPECT_TRUE(TakeLines().empty());

  std::ofstream(m_dir.Path("refs/one_label.mhd")) << "x";
  m_case.ChooseReferenceDir(m_dir.Path("refs"));
  m_case.SetMarkingFlag(true);
  EXPECT_EQ(m_case.ApplyMarking(), session::MarkingOutcome::kOnAfterScan);
  EXPECT_EQ(m_case.ReferencePaths().size(), 1u);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(m_dir.Path("refs")));
}

TEST_F(CaseSessionTest, LoadUINeedsMarkingAndAMapOfTheImagesSize) {
  LoadImage(MakeImage(kX, kY, kZ));
  EXPECT_FALSE(m_case.RequireMarking());
  EXPECT_EQ(TakeMessages(), (Lines{"Press marking check box first!!"}));
  StartManualCase();
  Stroke(1, 4, 1, 1, 2);
  TakeLines();

  const std::string path = Write("map.mhd", MakeBox(kX, kY, kZ, 0, 2, 0, 2, 0, 2, 3));
  m_case.LoadStrokeMap(m_case.LoadVolume(path), path);
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 8);
  EXPECT_EQ(m_case.StrokeMap()->At(1, 1, 1), 3);
  EXPECT_EQ(TakeLines(), (Lines{"Load an user interaction map... Path: [" + path + "]"}));

  // Another size: refused, and a fresh map of the image's size takes the old one's place.
  const std::string small = Write("small.mhd", MakeBox(4, 4, 4, 0, 2, 0, 2, 0, 2, 2));
  m_case.LoadStrokeMap(m_case.LoadVolume(small), small);
  EXPECT_EQ(TakeMessages(), (Lines{"The dimension of mask is difference with it of MR image!!"}));
  ASSERT_NE(m_case.StrokeMap(), nullptr);
  EXPECT_TRUE(m_case.StrokeMap()->SameSize(*m_case.Image()));
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  EXPECT_TRUE(TakeLines().empty());

  // Both are edits: undo brings back the loaded map, then the painted one.
  ASSERT_TRUE(m_case.Undo());
  EXPECT_EQ(m_case.StrokeMap()->At(1, 1, 1), 3);
  ASSERT_TRUE(m_case.Undo());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 3);
  EXPECT_EQ(m_case.StrokeMap()->At(1, 1, 1), 2);
}

TEST_F(CaseSessionTest, SaveUIAndClearUINeedStrokes) {
  StartManualCase();
  TakeLines();
  EXPECT_FALSE(m_case.SaveStrokeMap(m_dir.Path("ui.mhd")));
  EXPECT_TRUE(m_case.ClearStrokeMap().empty());
  EXPECT_EQ(TakeMessages(),
            (Lines{"There is no user interaction map.", "There is no user interaction map."}));
  EXPECT_FALSE(m_case.CanUndo());

  Stroke(1, 4, 1, 1, 2);
  ASSERT_TRUE(m_case.SaveStrokeMap(m_dir.Path("ui.mhd")));
  const CVoxel* before = m_case.StrokeMap();
  const CVoxel* accumulated = m_case.AccumulatedMap();
  const session::RetiredVolumes retired = m_case.ClearStrokeMap();
  EXPECT_EQ(m_case.AccumulatedMap(), accumulated);
  ASSERT_EQ(retired.size(), 1u);
  EXPECT_EQ(retired[0].get(), before);
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  EXPECT_EQ(TakeLines(), (Lines{"User interaction map is saved at : [" + m_dir.Path("ui.mhd") + "]",
                                "Clear user interaction map"}));
  // Clear UI is one step; the accumulated map is not touched.
  ASSERT_TRUE(m_case.Undo());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 3);
  EXPECT_EQ(m_case.AccumulatedMap()->CountNonZero(), 0);
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(CaseSessionTest, OneStrokeIsOneStepAndANewStrokeClearsRedo) {
  StartManualCase();
  TakeLines();
  Stroke(1, 6, 2, 1, 2);
  Stroke(1, 6, 4, 1, 3);
  // Press and release without painting anything new: no step.
  Stroke(1, 6, 4, 1, 3);
  EXPECT_EQ(m_case.History().StepCount(), 2u);

  ASSERT_TRUE(m_case.Undo());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 5);
  ASSERT_TRUE(m_case.Redo());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 10);
  ASSERT_TRUE(m_case.Undo());
  ASSERT_TRUE(m_case.CanRedo());
  // Undo waits while a stroke is being painted.
  m_case.BeginStroke();
  EXPECT_FALSE(m_case.Undo());
  EXPECT_FALSE(m_case.Redo());
  m_case.StrokeMap()->At(0, 0, 0) = 2;
  m_case.EndStroke();
  EXPECT_FALSE(m_case.CanRedo());
  ASSERT_TRUE(m_case.Undo());
  ASSERT_TRUE(m_case.Undo());
  EXPECT_EQ(m_case.StrokeMap()->CountNonZero(), 0);
  EXPECT_FALSE(m_case.Undo());
  EXPECT_TRUE(TakeLines().empty());  // undo and redo write no log line
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(CaseSessionTest, ResetKeepsTheImageBackupsAndModeAndStartsANewHistory) {
  StartManualCase();
  m_case.SetBrush3D(true);
  m_case.SetBrushSize(7);
  Stroke(1, 6, 2, 1, 2);
  RunCorrection();
  m_case.SetMarkingFlag(true);
  m_case.AdoptBoundary(std::make_unique<CVoxel>(kX, kY, kZ), "boundary");
  const CVoxel* image = m_case.Image();
  TakeLines();
  const session::RetiredVolumes retired = m_case.Reset();
  EXPECT_EQ(retired.size(), 4u);  // segmentation, boundary, stroke map, accumulated map
  EXPECT_EQ(m_case.Image(), image);
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(m_case.ImagePath(), m_dir.Path("image.mhd"));
  EXPECT_EQ(m_case.Boundary(), nullptr);
  EXPECT_EQ(m_case.AccumulatedMap(), nullptr);
  EXPECT_TRUE(m_case.ReferencePaths().empty());
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_NE(m_case.SegmentationBackup(), nullptr);
  EXPECT_EQ(m_case.Segmentation(), nullptr);
  EXPECT_EQ(m_case.StrokeMap(), nullptr);
  EXPECT_FALSE(m_case.Marking());
  EXPECT_FALSE(m_case.Brush3D());
  EXPECT_EQ(m_case.BrushSize(), 2);
  EXPECT_FALSE(m_case.ScribbleHelpShown());
  EXPECT_EQ(m_case.Mode(), session::CorrectionMode::kManual);
  EXPECT_FALSE(m_case.CanUndo());

  // With Marking off the brush keeps its settings.
  m_case.SetBrush3D(true);
  m_case.SetBrushSize(9);
  m_case.ChooseReferenceDir("/elsewhere");
  m_case.Reset();
  EXPECT_TRUE(m_case.Brush3D());
  EXPECT_EQ(m_case.BrushSize(), 9);
  EXPECT_EQ(m_case.ReferenceDir(), "C:\\DataSet\\prostate\\popR\\label2");
}

TEST_F(CaseSessionTest, VolumesInTheWrongRoleAreToldAndSavesKeepEveryValue) {
  // An MR image loaded as the segmentation: one log line says so, and Save
  // Segmentation keeps its values (16-bit voxels) instead of wrapping them.
  LoadImage(MakeImage(kX, kY, kZ));
  TakeLines();
  LoadSegmentation(MakeImage(kX, kY, kZ));
  Lines lines = TakeLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("The segmentation [" + m_dir.Path("segmentation.mhd") + "] holds ", 0), 0u);
  EXPECT_NE(lines[1].find("different non-zero values (1 to 327), not 0 and one label value: is it an image?"),
            std::string::npos)
      << lines[1];
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("saved.mhd")));
  EXPECT_EQ(TakeLines(), (Lines{"Saved [" + m_dir.Path("saved.mhd") +
                                    "] with 16-bit voxels: its values do not fit in 0..255",
                                "Segmentation is saved at : [" + m_dir.Path("saved.mhd") + "]"}));
  EXPECT_TRUE(SameVoxels(CVoxel(m_dir.Path("saved.mhd")), MakeImage(kX, kY, kZ)));

  // A segmentation (0 and 1) loaded as the scribble map.
  StartManualCase();
  TakeLines();
  const std::string label = Write("label.mhd", MakeBox(kX, kY, kZ, 2, 6, 2, 6, 1, 3));
  m_case.LoadStrokeMap(m_case.LoadVolume(label), label);
  EXPECT_EQ(TakeLines(), (Lines{"Load an user interaction map... Path: [" + label + "]",
                                "The scribble map [" + label +
                                    "] holds no scribble: no value 2 (foreground) or 3 (background): is it a "
                                    "segmentation?"}));
  // A label of 0 and one value is a segmentation, whatever the value.
  LoadSegmentation(MakeBox(kX, kY, kZ, 8, 20, 6, 16, 1, 5, 255));
  EXPECT_EQ(TakeLines().size(), 1u);
  ASSERT_TRUE(m_case.SaveSegmentation(m_dir.Path("label255.mhd")));
  EXPECT_EQ(TakeLines().size(), 1u);  // fits in bytes: no widening
}

TEST_F(CaseSessionTest, SavingOntoAFolderNameIsRefusedWithoutAHiddenFile) {
  StartManualCase();
  TakeLines();
  std::filesystem::create_directory(m_dir.Path("folder"));
  for (const std::string& name :
       {m_dir.Path("folder"), m_dir.Path("folder") + "/", m_dir.Path("new") + "/"}) {
    EXPECT_FALSE(m_case.SaveSegmentation(name)) << name;
    EXPECT_EQ(TakeMessages().size(), 1u) << name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path("folder")));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("folder.mhd")));
  EXPECT_FALSE(std::filesystem::exists(m_dir.Path("new")));
  EXPECT_EQ(TakeLines(), Lines{});
}

}  // namespace
}  // namespace sessiontest
