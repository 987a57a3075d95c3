// What every command-line program does alike: --version, --opt=value, the
// exit statuses, "-" for standard output, names that are links, devices,
// FIFOs or folders, suffixes, and checks of the output before any work.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "corvane/Version.h"
#include "tests/tools/ToolRun.h"
#include "volume/Voxel.h"

namespace fs = std::filesystem;

namespace {

using testfiles::ReadFile;
using toolrun::Result;

const std::vector<std::pair<std::string, std::string>> kTools{{"corvane-volume", CORVANE_VOLUME_EXE},
                                                              {"corvane-correct", CORVANE_CORRECT_EXE},
                                                              {"corvane-evaluate", CORVANE_EVALUATE_EXE},
                                                              {"corvane-phantom", CORVANE_PHANTOM_EXE}};

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class ToolConventions : public ::testing::Test {
 protected:
  void SetUp() override {
    CVoxel segmentation(12, 10, 4), map(12, 10, 4);
    for (int z = 0; z < 4; ++z)
      for (int y = 2; y < 8; ++y)
        for (int x = 3; x < 9; ++x) segmentation.At(x, y, z) = 1;
    map.At(1, 1, 1) = 2;  // a foreground scribble outside the segmentation
    toolrun::WriteMetaImage(P("seg.mhd"), segmentation);
    toolrun::WriteMetaImage(P("map.mhd"), map);
  }
  std::string P(const std::string& name) const { return dir_.Path(name); }
  Result Run(const std::string& exe, const std::vector<std::string>& args, const std::string& shell = "") {
    return toolrun::Run(exe, args, scratch_.Root(), shell);
  }
  Result Evaluate(const std::vector<std::string>& more) {
    std::vector<std::string> args{"--truth", P("seg.mhd"), "--segmentation", P("seg.mhd")};
    args.insert(args.end(), more.begin(), more.end());
    return Run(CORVANE_EVALUATE_EXE, args);
  }
  Result Manual(const std::string& output, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"--segmentation", P("seg.mhd"), "--scribbles", P("map.mhd"),
                                  "--mode",         "manual",     "--output",    output};
    args.insert(args.end(), more.begin(), more.end());
    return Run(CORVANE_CORRECT_EXE, args);
  }
  testfiles::TempDir dir_, scratch_;
};

TEST_F(ToolConventions, EveryProgramPrintsItsVersionAndTheExitStatusTable) {
  for (const auto& [name, exe] : kTools) {
    const Result version = Run(exe, {"--version"});
    EXPECT_EQ(version.status, 0) << name;
    EXPECT_EQ(version.out, name + " " + CORVANE_VERSION + "\n");
    const Result help = Run(exe, {"--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_NE(help.out.find("Exit status: 0 done; 1 bad arguments; 2 an input cannot be read"),
              std::string::npos)
        << name << help.out;
    EXPECT_NE(help.out.find("130 interrupted (SIGINT), 143 terminated (SIGTERM)"), std::string::npos) << name;
    // An unknown option is a usage error everywhere: status 1 and one line.
    const Result bad = Run(exe, {"--frobnicate"});
    EXPECT_EQ(bad.status, 1) << name;
    EXPECT_EQ(bad.err, name + ": unknown argument '--frobnicate' (see --help)\n") << name;
  }
}

TEST_F(ToolConventions, OptionsTakeTheirValueAfterAnEqualsSign) {
  const Result joined = Evaluate({"--csv=" + P("a.csv"), "--label=1"});
  ASSERT_EQ(joined.status, 0) << joined.err;
  const Result apart = Evaluate({"--csv", P("b.csv"), "--label", "1"});
  ASSERT_EQ(apart.status, 0) << apart.err;
  EXPECT_EQ(ReadFile(P("a.csv")), ReadFile(P("b.csv")));
  EXPECT_FALSE(ReadFile(P("a.csv")).empty());

  EXPECT_EQ(Manual(P("a"), {"--output=" + P("x")}).status, 1);  // "--output" given twice
  const Result manual =
      Run(CORVANE_CORRECT_EXE, {"--segmentation=" + P("seg.mhd"), "--scribbles=" + P("map.mhd"),
                                "--mode=manual", "--output=" + P("fixed.nii")});
  EXPECT_EQ(manual.status, 0) << manual.err;
  EXPECT_TRUE(CVoxel(P("fixed.nii")).HasData());

  EXPECT_EQ(Run(CORVANE_PHANTOM_EXE, {"--out=" + P("case"), "--size=24x24x4", "--references=1"}).status, 0);
  EXPECT_TRUE(fs::exists(P("case/references/case_01_label.mhd")));
  // A value may itself hold "=" and begin with "-".
  const Result label = Evaluate({"--label=-3"});
  EXPECT_EQ(label.status, 0) << label.err;
}

TEST_F(ToolConventions, QuietDropsNoticesButNotErrors) {
  CVoxel oblique(2, 2, 2);
  toolrun::WriteMetaImage(P("oblique.mhd"), oblique,
                          "ElementSpacing = 1 1 1\nOffset = 0 0 0\nTransformMatrix = 0 1 0 -1 0 0 0 0 1\n");
  const Result loud = Run(CORVANE_VOLUME_EXE, {"convert", P("oblique.mhd"), P("o.raw")});
  EXPECT_EQ(loud.status, 0);
  EXPECT_EQ(Lines(loud.err), 1) << loud.err;
  const Result quiet = Run(CORVANE_VOLUME_EXE, {"-q", "convert", P("oblique.mhd"), P("q.raw")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  const Result failing = Run(CORVANE_VOLUME_EXE, {"-q", "info", P("missing.mhd")});
  EXPECT_EQ(failing.status, 2);
  EXPECT_EQ(Lines(failing.err), 1);
}

TEST_F(ToolConventions, DashMeansStandardOutput) {
  const Result csv = Evaluate({"--csv", "-"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.rfind("segmentation,region,dice,", 0), 0u) << csv.out;
  EXPECT_FALSE(fs::exists(fs::current_path() / "-"));
  const Result json = Evaluate({"--json=-", "--csv", P("c.csv")});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.rfind("[", 0), 0u) << json.out;
  EXPECT_TRUE(fs::exists(P("c.csv")));

  const Result metrics = Manual(P("fixed"), {"--truth", P("seg.mhd"), "--metrics", "-"});
  ASSERT_EQ(metrics.status, 0) << metrics.err;
  EXPECT_NE(metrics.out.find("segmentation,region,dice,"), std::string::npos) << metrics.out;
  EXPECT_FALSE(fs::exists(P("-")));
}

}  // namespace
