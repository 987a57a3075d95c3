// Nothing lost in the window: the question before closing with unsaved work,
// and the offer at start of the work a crashed or killed window left behind.
#include <filesystem>
#include <fstream>

#include "DialogFixture.h"

using namespace app;

namespace apptest {
namespace {

namespace fs = std::filesystem;

class RecoveryWindowTest : public DialogFixture {
 protected:
  std::string Folder() { return PathOf("recovery"); }

  // A window with its recovery file in this test's folder.
  std::unique_ptr<CCorvaneDlg> NewWindow() {
    CCorvaneDlg::Options options;
    options.recoveryFolder = Folder();
    auto window = std::make_unique<CCorvaneDlg>(m_platform, options);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }

  // The usual case in the fixture's window, but keeping its file in Folder(),
  // with a boundary, manual mode, Marking, a brush of 3 and two strokes. The
  // window then goes as if killed: no close, no question.
  void LeaveWorkBehind(bool runCorrection) {
    m_dialog = NewWindow();
    LoadCase();
    ClickWithFile(ctl::kLoadBoundary, Write("truth.mhd", MakeBox(kX, kY, kZ, 22, 38, 17, 28, 3, 7)));
    SetEditText(ctl::kBrushSizeEdit, QStringLiteral("3"));
    StartManualMarking();
    PaintAt(5, 5);
    PaintAt(30, 20, Qt::ControlModifier);
    if (runCorrection) {
      Click(ctl::kSegmentation);
      Dialog().WaitForWorker();
      Click(ctl::kMarking);  // a run turns Marking off
      PaintAt(8, 40);
    }
    m_leftStrokes = Dialog().StrokeMap()->Clone();
    m_leftSegmentation = Dialog().Segmentation()->Clone();
    m_leftFile = Dialog().RecoveryFilePath();
    m_dialog.reset();
    ASSERT_TRUE(fs::exists(m_leftFile));
  }

  std::string Offer(const std::string& image) {
    return "Corvane was closed without saving the work on " + image + " (last edit ";
  }

  std::unique_ptr<CVoxel> m_leftStrokes, m_leftSegmentation;
  std::string m_leftFile;
};

TEST_F(RecoveryWindowTest, ClosingWithUnsavedScribblesAsksAndEachAnswerDoesWhatItSays) {
  LoadCase();
  StartManualMarking();
  PaintAt(5, 5);
  const std::string file = Dialog().RecoveryFilePath();

  m_platform.QueueAnswer("Cancel");
  Dialog().close();
  EXPECT_TRUE(Dialog().isVisible());
  EXPECT_EQ(m_platform.Questions(), std::vector<std::string>{"Save the scribbles?"});

  // Save, then a cancelled save dialog: still open, nothing lost.
  m_platform.QueueAnswer("Save");
  m_platform.QueueFile(std::nullopt);
  Dialog().close();
  EXPECT_TRUE(Dialog().isVisible());

  m_platform.QueueAnswer("Save");
  m_platform.QueueFile(PathOf("scribbles.mhd"));
  Dialog().close();
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_TRUE(fs::exists(PathOf("scribbles.mhd")));
  EXPECT_EQ(Log().back(), "User interaction map is saved at : [" + PathOf("scribbles.mhd") + "]");
  EXPECT_FALSE(fs::exists(file)) << "a clean close removes the recovery file";
}

TEST_F(RecoveryWindowTest, ACorrectedSegmentationIsAskedAboutAndDiscardCloses) {
  LoadCase();
  StartManualMarking();
  PaintAt(5, 5);
  Click(ctl::kSegmentation);
  Dialog().WaitForWorker();
  Click(ctl::kMarking);
  PaintAt(8, 40);
  m_platform.QueueAnswer("Discard");
  m_platform.QueueAnswer("Discard");
  Dialog().close();
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_EQ(m_platform.Questions(),
            (std::vector<std::string>{"Save the segmentation?", "Save the scribbles?"}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(RecoveryWindowTest, NothingUnsavedClosesWithoutAQuestion) {
  LoadCase();
  StartManualMarking();
  PaintAt(5, 5);
  ClickWithFile(ctl::kSaveUI, PathOf("saved.mhd"));
  Dialog().close();
  EXPECT_FALSE(Dialog().isVisible());
  EXPECT_TRUE(m_platform.Questions().empty());
}

TEST_F(RecoveryWindowTest, RecoverGivesBackTheCaseAsTheLoadButtonsWould) {
  LeaveWorkBehind(false);
  m_dialog = NewWindow();
  m_platform.QueueAnswer("Recover");
  EXPECT_TRUE(Dialog().OfferRecovery());
  ASSERT_EQ(m_platform.Questions().size(), 1u);
  const std::string& question = m_platform.Questions()[0];
  EXPECT_EQ(question.rfind(Offer(PathOf("image.mhd")), 0), 0u) << question;
  const std::string end = "). Recover it?";
  ASSERT_GT(question.size(), end.size());
  EXPECT_EQ(question.substr(question.size() - end.size()), end);

  const Lines log = Log();
  const Lines expected = {"Load Input... Path : [" + PathOf("image.mhd") + "]",
                          "Load Segmentation... Path : [" + PathOf("segmentation.mhd") + "]",
                          "Load Boundary... Path : [" + PathOf("truth.mhd") + "]"};
  for (const std::string& line : expected) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
  EXPECT_EQ(log.back(), "Load an user interaction map... Path: [" + m_leftFile + "]");
  ASSERT_NE(Dialog().StrokeMap(), nullptr);
  EXPECT_TRUE(SameVoxels(*Dialog().StrokeMap(), *m_leftStrokes));
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap()) << "the stroke map is shown";
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), *m_leftSegmentation));
  EXPECT_NE(Dialog().Boundary(), nullptr);
  EXPECT_TRUE(Checked(ctl::kManual));
  EXPECT_TRUE(Dialog().Marking());
  EXPECT_EQ(Dialog().BrushSize(), 3);
  for (int id : {ctl::kSaveUI, ctl::kClearUI, ctl::kSegmentation, ctl::kSaveSegmentation, ctl::kSliceZ})
    EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_FALSE(Dialog().Case().CanUndo()) << "the history starts afresh";
  // The work moved into the new window's own file.
  EXPECT_FALSE(fs::exists(m_leftFile));
  EXPECT_TRUE(fs::exists(Dialog().RecoveryFilePath()));
  // Unsaved scribbles: closing asks.
  m_platform.QueueAnswer("Discard");
  Dialog().close();
  EXPECT_EQ(m_platform.Questions().back(), "Save the scribbles?");
}

TEST_F(RecoveryWindowTest, ACorrectedSegmentationComesBackFromTheFileUnsaved) {
  LeaveWorkBehind(true);
  m_dialog = NewWindow();
  m_platform.QueueAnswer("Recover");
  ASSERT_TRUE(Dialog().OfferRecovery());
  EXPECT_TRUE(SameVoxels(*Dialog().Segmentation(), *m_leftSegmentation));
  EXPECT_FALSE(SameVoxels(*Dialog().Segmentation(), MakeBox(kX, kY, kZ, 20, 40, 15, 30, 3, 7)));
  EXPECT_TRUE(SameVoxels(*Dialog().StrokeMap(), *m_leftStrokes));
  EXPECT_EQ(Viewer().Segmentation(), Dialog().Segmentation());
  EXPECT_TRUE(Dialog().Case().SegmentationUnsaved());
  m_platform.QueueAnswer("Discard");
  m_platform.QueueAnswer("Discard");
  Dialog().close();
  EXPECT_EQ(m_platform.Questions().size(), 3u);
  EXPECT_FALSE(Dialog().isVisible());
}

TEST_F(RecoveryWindowTest, DiscardRemovesTheFileAndLoadsNothing) {
  LeaveWorkBehind(false);
  m_dialog = NewWindow();
  m_platform.QueueAnswer("Discard");
  EXPECT_FALSE(Dialog().OfferRecovery());
  EXPECT_FALSE(fs::exists(m_leftFile));
  EXPECT_EQ(Dialog().Image(), nullptr);
  EXPECT_TRUE(Log().empty());
  // Offered once: the next start asks nothing.
  EXPECT_FALSE(Dialog().OfferRecovery());
  EXPECT_EQ(m_platform.Questions().size(), 1u);
}

TEST_F(RecoveryWindowTest, AGoneImageIsToldAndTheFileKept) {
  LeaveWorkBehind(false);
  fs::remove(PathOf("image.mhd"));
  m_dialog = NewWindow();
  EXPECT_FALSE(Dialog().OfferRecovery());
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(Offer(PathOf("image.mhd")), 0), 0u) << messages[0];
  EXPECT_NE(messages[0].find("can no longer be found"), std::string::npos);
  EXPECT_NE(messages[0].find(m_leftFile), std::string::npos);
  EXPECT_TRUE(m_platform.Questions().empty());
  EXPECT_TRUE(fs::exists(m_leftFile));
}

TEST_F(RecoveryWindowTest, AnUnreadableFileIsReportedOnceAndTheWindowOpens) {
  LeaveWorkBehind(false);
  std::ofstream(m_leftFile, std::ios::binary | std::ios::trunc) << "CVRECOV";
  m_dialog = NewWindow();
  EXPECT_FALSE(Dialog().OfferRecovery());
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(m_leftFile + ": the file is cut short"), std::string::npos) << messages[0];
  EXPECT_FALSE(Dialog().OfferRecovery());
  EXPECT_TRUE(Messages().empty());
  // The window works as usual.
  LoadCase();
}

TEST_F(RecoveryWindowTest, ARunningWindowsFileIsNeverOffered) {
  m_dialog = NewWindow();
  LoadCase();
  StartManualMarking();
  PaintAt(5, 5);
  auto second = NewWindow();
  EXPECT_FALSE(second->OfferRecovery());
  EXPECT_TRUE(m_platform.Questions().empty());
  EXPECT_NE(second->RecoveryFilePath(), Dialog().RecoveryFilePath());
  second.reset();
  m_platform.QueueAnswer("Discard");
  Dialog().close();
}

}  // namespace
}  // namespace apptest
