// Opening a case from the command line: the arguments, and loading the named
// files exactly as the buttons would.
#include <sys/stat.h>

#include "DialogFixture.h"
#include "app/CorvaneApp.h"

using namespace app;

using namespace apptest;

TEST(CommandLine, ReadsEveryCaseFileInBothSpellings) {
  const CommandLine c = ParseCommandLine({"--image", "i.mhd", "--segmentation=s.mhd", "--boundary", "b.mhd",
                                          "--scribbles", "m.mhd", "--references=refs", "--demo", "demo"});
  EXPECT_TRUE(c.error.empty()) << c.error;
  EXPECT_EQ(c.image, "i.mhd");
  EXPECT_EQ(c.segmentation, "s.mhd");
  EXPECT_EQ(c.boundary, "b.mhd");
  EXPECT_EQ(c.scribbles, "m.mhd");
  EXPECT_EQ(c.referenceDir, "refs");
  EXPECT_EQ(c.demoDir, "demo");
  EXPECT_FALSE(ParseCommandLine({"--image"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--image="}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--references", ""}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--images", "x"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"i.mhd"}).error.empty());
}

class OpenCaseTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    m_image = Write("image.mhd", MakeImage(kX, kY, kZ));
    m_segmentation = Write("segmentation.mhd", MakeBox(kX, kY, kZ, 20, 40, 15, 30, 3, 7));
    m_boundary = Write("truth.mhd", MakeBox(kX, kY, kZ, 22, 40, 15, 30, 3, 7));
    CVoxel map(kX, kY, kZ);
    map.At(30, 20, 5) = 2;
    m_scribbles = Write("scribbles.mhd", map);
    QDir(m_dir.path()).mkdir(QStringLiteral("references"));
    for (const char* name : {"references/a_label.mhd", "references/b_label.mhd"})
      Write(name, MakeBox(kX, kY, kZ, 21, 40, 15, 30, 3, 7));
    m_options.referenceDir = PathOf("references");
  }

  // Everything a user sees of the controls: text, enabled and checked state.
  static std::vector<std::string> ControlStates(CCorvaneDlg& dialog) {
    std::vector<std::string> states;
    for (const ControlTemplate& control : MainWindowControls()) {
      if (control.id == ctl::kNoId) continue;
      QWidget* widget = dialog.Control(control.id);
      std::string state = std::to_string(control.id) + (widget->isEnabled() ? " on" : " off");
      if (auto* button = qobject_cast<QAbstractButton*>(widget))
        state += button->isChecked() ? " checked" : "";
      if (auto* label = qobject_cast<QLabel*>(widget)) state += " " + label->text().toStdString();
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) state += " " + edit->text().toStdString();
      states.push_back(state);
    }
    return states;
  }

  std::string m_image, m_segmentation, m_boundary, m_scribbles;
  CCorvaneDlg::Options m_options;
};

TEST_F(OpenCaseTest, LoadsTheFilesAsTheButtonsWould) {
  // By hand: the buttons, their dialogs answered with the files.
  ScriptedPlatform handPlatform;
  CCorvaneDlg byHand(handPlatform, m_options);
  for (const auto& [id, path] :
       {std::pair{ctl::kLoadImage, m_image}, std::pair{ctl::kLoadSegmentation, m_segmentation},
        std::pair{ctl::kLoadBoundary, m_boundary}}) {
    handPlatform.QueueFile(path);
    byHand.ControlAs<QAbstractButton>(id)->click();
  }
  // The segmentation's slices are 3 to 6: the user moves to its middle.
  byHand.ControlAs<QSlider>(ctl::kSliceZ)->setSliderPosition(4);
  byHand.ControlAs<QAbstractButton>(ctl::kSemiAutomatic)->click();
  byHand.ControlAs<QAbstractButton>(ctl::kMarking)->click();
  handPlatform.QueueFile(m_scribbles);
  byHand.ControlAs<QAbstractButton>(ctl::kLoadUI)->click();
  EXPECT_EQ(handPlatform.Messages(), std::vector<std::string>{});

  // From the command line.
  ScriptedPlatform platform;
  CCorvaneDlg opened(platform, m_options);
  opened.OpenCase({m_image, m_segmentation, m_boundary, m_scribbles});
  EXPECT_EQ(platform.FileRequests().size(), 0u) << "no file dialog is shown";
  EXPECT_EQ(platform.Messages(), std::vector<std::string>{});
  EXPECT_EQ(opened.LogLines(), byHand.LogLines());
  EXPECT_EQ(ControlStates(opened), ControlStates(byHand));
  ASSERT_NE(opened.StrokeMap(), nullptr);
  EXPECT_EQ(opened.StrokeMap()->At(30, 20, 5), 2);
  EXPECT_EQ(opened.ReferencePaths().size(), 2u);
  EXPECT_EQ(opened.Viewer().SliceZ(), 4) << "the view shows the organ";
  EXPECT_EQ(opened.Viewer().Image(), opened.Image());
  EXPECT_EQ(opened.Viewer().Segmentation(), opened.Segmentation());
  EXPECT_EQ(opened.Viewer().GroundTruth(), opened.Boundary());
  EXPECT_EQ(opened.LogLines().front(), "Load Input... Path : [" + m_image + "]");
}

TEST_F(OpenCaseTest, AFileThatCannotBeLoadedGivesTheUsualMessageAndTheRestGoesOn) {
  Dialog().OpenCase({m_image, PathOf("missing.mhd"), m_boundary, std::nullopt});
  EXPECT_EQ(Messages(), std::vector<std::string>{"Failed to load [" + PathOf("missing.mhd") + "]"});
  EXPECT_EQ(Log(), (Lines{"Load Input... Path : [" + m_image + "]",
                          "Load Boundary... Path : [" + m_boundary + "]"}));
  EXPECT_EQ(Dialog().Segmentation(), nullptr);
  EXPECT_FALSE(Enabled(ctl::kSemiAutomatic));
}

TEST_F(OpenCaseTest, LoadsNeedingAnImageAreRefusedWithoutOne) {
  Dialog().OpenCase({PathOf("missing.mhd"), m_segmentation, m_boundary, m_scribbles});
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], "Failed to load [" + PathOf("missing.mhd") + "]");
  EXPECT_EQ(messages[1],
            "Cannot load the segmentation [" + m_segmentation + "]: an image must be loaded first");
  EXPECT_EQ(messages[2], "Cannot load the boundary [" + m_boundary + "]: an image must be loaded first");
  EXPECT_EQ(messages[3], "Cannot load the scribbles [" + m_scribbles +
                             "]: an image and a segmentation must be loaded first");
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(Dialog().Image(), nullptr);
  EXPECT_TRUE(Enabled(ctl::kLoadImage));
  EXPECT_FALSE(Enabled(ctl::kLoadSegmentation));
}

TEST_F(OpenCaseTest, AFifoGivenAsTheImageIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = PathOf("pipe.mhd");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Dialog().OpenCase({fifo, std::nullopt, std::nullopt, std::nullopt});
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Cannot read mhd file " + fifo +
                                                      ": it is a FIFO (named pipe), not a regular file",
                                                  "Failed to load [" + fifo + "]"}));
  EXPECT_EQ(Dialog().Image(), nullptr);
}
