// Small parts of the program: command line, the ".mhd" rule, dialog units.
#include <gtest/gtest.h>

#include "app/CorvaneApp.h"
#include "app/DialogLayout.h"
#include "app/FileRules.h"
#include "volume/Writers.h"

using namespace app;

TEST(CommandLine, DemoFolderIsOptional) {
  EXPECT_FALSE(ParseCommandLine({}).demoDir.has_value());
  EXPECT_TRUE(ParseCommandLine({}).error.empty());
  EXPECT_EQ(ParseCommandLine({"--demo", "/tmp/case"}).demoDir, "/tmp/case");
  EXPECT_EQ(ParseCommandLine({"--demo=/tmp/case"}).demoDir, "/tmp/case");
  EXPECT_FALSE(ParseCommandLine({"--demo"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--demo", ""}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--bogus"}).error.empty());
}

// The arguments are read before Qt starts: Qt's own options, with their
// values, are passed by, and everything else is the program's.
TEST(CommandLine, QtOptionsArePassedByBeforeQtStarts) {
  const char* argv[] = {"corvane",  "-platform",         "offscreen", "--image",  "i.mhd", "-style=Fusion",
                        "-reverse", "--qwindowgeometry", "640x480",   "--demo=d", "-sync", "x.mhd"};
  EXPECT_EQ(ProgramArguments(std::size(argv), argv),
            (std::vector<std::string>{"--image", "i.mhd", "--demo=d", "x.mhd"}));
  // "-reverse" takes no value, so "-reverse=1" is not Qt's; a Qt option at the
  // end, without its value, is still Qt's, and "--image" then lacks its file.
  const char* more[] = {"corvane", "-reverse=1", "--image", "-platform"};
  EXPECT_EQ(ProgramArguments(std::size(more), more), (std::vector<std::string>{"-reverse=1", "--image"}));
  EXPECT_FALSE(ParseCommandLine(ProgramArguments(std::size(more), more)).error.empty());
}

TEST(MhdRule, AppendsUnlessTheExtensionIsExactlyMhd) {
  EXPECT_EQ(volume::WithMhdExtension("/d/seg"), "/d/seg.mhd");
  EXPECT_EQ(volume::WithMhdExtension("/d/seg.mhd"), "/d/seg.mhd");
  EXPECT_EQ(volume::WithMhdExtension("/d/seg.MHD"), "/d/seg.MHD.mhd");
  EXPECT_EQ(volume::WithMhdExtension("/d/map.txt"), "/d/map.txt.mhd");
  EXPECT_EQ(volume::WithMhdExtension("/d.mhd/seg"), "/d.mhd/seg.mhd");
  EXPECT_EQ(volume::WithMhdExtension("mhd"), "mhd");  // no ".": the whole path is compared
}

TEST(DialogUnits, MapEdgesSeparatelySoNeighboursShareTheirBorder) {
  const DialogUnits units = CurrentDialogUnits();
  EXPECT_GT(units.BaseX(), 3);
  EXPECT_GT(units.BaseY(), 8);
  const QRect left = units.Rect(10, 10, 33, 10);
  const QRect right = units.Rect(43, 10, 20, 10);
  EXPECT_EQ(left.right() + 1, right.left());
  EXPECT_EQ(units.Rect(0, 0, 753, 400).size(), QSize(units.X(753), units.Y(400)));
  ASSERT_NE(FindControlTemplate(ctl::kLog), nullptr);
  EXPECT_EQ(FindControlTemplate(ctl::kLog)->kind, ControlKind::kListBox);
  EXPECT_EQ(FindControlTemplate(12345), nullptr);
}
