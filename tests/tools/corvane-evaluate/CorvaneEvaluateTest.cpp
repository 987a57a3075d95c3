// Runs the corvane-evaluate program (and corvane-correct --metrics) on small
// cases written as MetaImage files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "evaluation/Metrics.h"
#include "evaluation/ResultFiles.h"
#include "tests/tools/ToolRun.h"
#include "tests/volume/OtherOrder.h"
#include "volume/GridReorder.h"
#include "volume/Voxel.h"

namespace fs = std::filesystem;

namespace {

using testfiles::ReadFile;
using toolrun::Result;

void WriteMetaImage(const fs::path& header, const CVoxel& volume, const std::string& spacing = "0.5 0.5 2") {
  toolrun::WriteMetaImage(header, volume, "ElementSpacing = " + spacing + "\nOffset = 0 0 0\n");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A box label of a 20 x 18 x 10 volume.
CVoxel Box(int x0, int x1, int z0, int z1, CVoxel::value_type value = 1) {
  CVoxel v(20, 18, 10);
  for (int z = z0; z <= z1; ++z)
    for (int y = 4; y <= 13; ++y)
      for (int x = x0; x <= x1; ++x) v.At(x, y, z) = value;
  return v;
}

class CorvaneEvaluate : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "corvane-evaluate-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    fs::create_directories(dir_ / "cases");
    WriteMetaImage(dir_ / "truth.mhd", Box(4, 15, 2, 7));
    WriteMetaImage(dir_ / "seg1.mhd", Box(5, 15, 1, 7));
    WriteMetaImage(dir_ / "seg2.mhd", Box(4, 12, 2, 8));
    // Seven cases of a cohort with different errors.
    for (int i = 0; i < 7; ++i) {
      WriteMetaImage(dir_ / "cases" / ("gt" + std::to_string(i) + ".mhd"), Box(4, 15, 2, 7));
      WriteMetaImage(dir_ / "cases" / ("s" + std::to_string(i) + ".mhd"),
                     Box(4 + i % 3, 15 - i / 3, 2, 7 + i % 2));
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  Result Run(const std::vector<std::string>& arguments, const char* program = CORVANE_EVALUATE) const {
    return toolrun::Run(program, arguments, dir_);
  }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  // A manifest of the seven cases with paths relative to its folder.
  std::string Manifest() const {
    std::string text = "case,truth,segmentation\n";
    for (int i = 0; i < 7; ++i)
      text += "c" + std::to_string(i) + ",gt" + std::to_string(i) + ".mhd,s" + std::to_string(i) + ".mhd\n";
    std::ofstream(dir_ / "cases" / "manifest.csv") << text;
    return P("cases/manifest.csv");
  }
  void ExpectRefused(const Result& r, int status = 2) const {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.rfind("corvane-evaluate: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(CorvaneEvaluate, SingleModeWritesOneRowPerSegmentationAndRegion) {
  const Result r = Run({"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--segmentation",
                        P("seg2.mhd"), "--csv", P("out.csv"), "--json", P("out.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_NE(r.out.find(P("seg1.mhd")), std::string::npos);
  EXPECT_NE(r.out.find(P("seg2.mhd")), std::string::npos);

  const std::vector<std::string> lines = Lines(ReadFile(P("out.csv")));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0],
            "segmentation,region,dice,jaccard,truth_ml,segmentation_ml,rvd_percent,abd_mm,hd95_mm,hd_mm,"
            "surface_dice_1mm,surface_dice_2mm");
  // The numbers are those of the library on the same volumes.
  const CVoxel truth(P("truth.mhd")), seg2(P("seg2.mhd"));
  ASSERT_TRUE(truth.HasData() && seg2.HasData());
  std::vector<evaluation::ResultRow> expected;
  evaluation::AppendCaseRows("", P("seg2.mhd"), evaluation::Evaluate(truth, seg2), expected);
  const std::vector<std::string> expectedLines = Lines(evaluation::CsvText(expected, false));
  for (int region = 0; region < 4; ++region) EXPECT_EQ(lines[5 + region], expectedLines[1 + region]);
  EXPECT_EQ(lines[1].substr(0, P("seg1.mhd").size() + 7), P("seg1.mhd") + ",whole,");
  EXPECT_EQ(lines[2].substr(P("seg1.mhd").size(), 6), ",apex,");

  const std::string json = ReadFile(P("out.json"));
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 8);
  EXPECT_NE(json.find("\"region\": \"base\""), std::string::npos);
}

TEST_F(CorvaneEvaluate, RefusesDifferentGeometryAndUnreadableInputWritingNothing) {
  WriteMetaImage(dir_ / "spacing.mhd", Box(5, 15, 1, 7), "0.5 0.5 2.5");
  WriteMetaImage(dir_ / "small.mhd", CVoxel(20, 18, 9));
  std::ofstream(P("out.csv")) << "earlier";
  for (const std::string& bad : {P("spacing.mhd"), P("small.mhd"), P("missing.mhd")}) {
    const Result r = Run({"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--segmentation", bad,
                          "--csv", P("out.csv"), "--json", P("out.json")});
    ExpectRefused(r);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(P("out.csv")), "earlier");
    EXPECT_FALSE(fs::exists(P("out.json")));
  }
  std::ofstream(P("cut.raw"), std::ios::binary) << "xx";
  std::ofstream(P("cut.mhd"))
      << ReadFile(P("truth.mhd")).replace(ReadFile(P("truth.mhd")).find("truth.raw"), 9, "cut.raw");
  ExpectRefused(Run({"--truth", P("cut.mhd"), "--segmentation", P("seg1.mhd"), "--csv", P("out.csv")}));
}

TEST_F(CorvaneEvaluate, ACohortSurvivesCasesThatCannotBeRead) {
  // Case c5 does not fit its truth, c2's segmentation is missing: each gets one
  // line naming the case and the file, the other five are measured, written
  // and summarized, and the status says some failed.
  const std::string manifest = Manifest();
  ASSERT_EQ(Run({"--manifest", manifest, "--csv", P("full.csv")}).status, 0);
  WriteMetaImage(dir_ / "cases" / "s5.mhd", CVoxel(20, 18, 9));
  fs::remove(dir_ / "cases" / "s2.mhd");
  const Result r = Run({"--manifest", manifest, "--csv", P("out.csv"), "--json", P("out.json")});
  EXPECT_EQ(r.status, 4);
  const std::vector<std::string> errors = Lines(r.err);
  ASSERT_EQ(errors.size(), 2u) << r.err;
  EXPECT_EQ(errors[0].rfind("corvane-evaluate: case c2: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find(P("cases/s2.mhd")), std::string::npos) << errors[0];
  EXPECT_EQ(errors[1].rfind("corvane-evaluate: case c5: ", 0), 0u) << errors[1];
  EXPECT_NE(errors[1].find("s5.mhd"), std::string::npos) << errors[1];
  const std::vector<std::string> rows = Lines(ReadFile(P("out.csv")));
  ASSERT_EQ(rows.size(), 1u + 5 * 4 + 7 * 4);
  // The rows of the readable cases are those of a full run; the summary is over them.
  const std::vector<std::string> full = Lines(ReadFile(P("full.csv")));
  for (const int c : {0, 1, 3, 4, 6})
    EXPECT_NE(std::find(rows.begin(), rows.end(), full[1 + 4 * c]), rows.end()) << c;
  for (const std::string& row : rows) EXPECT_NE(row.rfind("c2,", 0), 0u) << row;
  EXPECT_NE(rows[21], full[29]);  // the mean over five cases, not seven
  EXPECT_EQ(rows[21].rfind("mean,,whole,", 0), 0u);
  EXPECT_TRUE(fs::exists(P("out.json")));
  EXPECT_NE(r.out.find("c6"), std::string::npos);  // the table too

  // No readable case: status 2, nothing written.
  std::ofstream(dir_ / "cases" / "one.csv") << "truth,segmentation\ngt0.mhd,s2.mhd\n";
  const Result none = Run({"--manifest", P("cases/one.csv"), "--csv", P("none.csv")});
  ExpectRefused(none);
  EXPECT_NE(none.err.find("case 1: "), std::string::npos) << none.err;
  EXPECT_FALSE(fs::exists(P("none.csv")));
}

TEST_F(CorvaneEvaluate, ATruthOfTheSegmentationsGridInAnotherOrderIsReordered) {
  ASSERT_EQ(Run({"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--csv", P("base.csv")}).status,
            0);
  // An oblique case: the truth stored by another tool with its slices the
  // other way and with x and y swapped, the segmentation as it is.
  CVoxel obliqueSeg = CVoxel(P("seg1.mhd")), obliqueTruth = CVoxel(P("truth.mhd"));
  const double c = std::cos(0.4), s = std::sin(0.4);
  const double axes[3][3] = {{0.5 * c, -0.5 * s, 0}, {0.5 * s, 0.5 * c, 0}, {0, 0, 2}};
  const double origin[3] = {12.5, -40.25, 7};
  ASSERT_TRUE(obliqueSeg.SetGeometryFromMatrix(axes, origin) &&
              obliqueTruth.SetGeometryFromMatrix(axes, origin));
  toolrun::WriteMetaImage(dir_ / "seg-oblique.mhd", obliqueSeg, toolrun::GeometryLines(obliqueSeg));
  toolrun::WriteMetaImage(dir_ / "truth-oblique.mhd", obliqueTruth, toolrun::GeometryLines(obliqueTruth));
  const CVoxel other = testvolumes::StoredInOtherOrder(obliqueTruth, {1, 0, 2}, {false, false, true});
  toolrun::WriteMetaImage(dir_ / "truth-other.mhd", other, toolrun::GeometryLines(other));

  ASSERT_EQ(Run({"--truth", P("truth-oblique.mhd"), "--segmentation", P("seg-oblique.mhd"), "--csv",
                 P("oblique.csv")})
                .status,
            0);
  const Result r =
      Run({"--truth", P("truth-other.mhd"), "--segmentation", P("seg-oblique.mhd"), "--csv", P("other.csv")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "corvane-evaluate: " +
                       volume::ReorderedText("truth", P("truth-other.mhd"), "segmentation",
                                             P("seg-oblique.mhd"), "y, x, -z") +
                       "\n");
  // The very measures of the truth in the segmentation's order (and of the
  // upright case: the geometry plays no part beyond the slice order).
  EXPECT_EQ(ReadFile(P("other.csv")), ReadFile(P("oblique.csv")));
  const std::vector<std::string> upright = Lines(ReadFile(P("base.csv"))),
                                 turned = Lines(ReadFile(P("other.csv")));
  ASSERT_EQ(upright.size(), turned.size());
  for (std::size_t i = 1; i < upright.size(); ++i)
    EXPECT_EQ(upright[i].substr(upright[i].find(',')), turned[i].substr(turned[i].find(',')));

  // A truth stored as a series of volumes: the first is measured, and the
  // line that says so comes before the one about the order.
  toolrun::WriteVolumes(dir_ / "truth-3.nii", other, 3);
  const Result series =
      Run({"--truth", P("truth-3.nii"), "--segmentation", P("seg-oblique.mhd"), "--csv", P("series.csv")});
  ASSERT_EQ(series.status, 0) << series.err;
  EXPECT_EQ(ReadFile(P("series.csv")), ReadFile(P("oblique.csv")));
  const std::vector<std::string> told = Lines(series.err);
  ASSERT_EQ(told.size(), 2u) << series.err;
  EXPECT_EQ(told[0], "corvane-evaluate: " + P("truth-3.nii") +
                         " holds 3 volumes: only the first was read, 2 volumes were skipped.");
  EXPECT_EQ(told[1].rfind("corvane-evaluate: The truth '" + P("truth-3.nii") + "' holds the voxels", 0), 0u);

  // One voxel off along x: not the same points, refused as before.
  CVoxel off = other;
  off.origin[0] += 0.5f;
  toolrun::WriteMetaImage(dir_ / "truth-off.mhd", off, toolrun::GeometryLines(off));
  const Result refused =
      Run({"--truth", P("truth-off.mhd"), "--segmentation", P("seg-oblique.mhd"), "--csv", P("off.csv")});
  ExpectRefused(refused);
  EXPECT_NE(refused.err.find("the sizes differ"), std::string::npos) << refused.err;
}

TEST_F(CorvaneEvaluate, BadArgumentsExitWithStatusOne) {
  const std::vector<std::vector<std::string>> cases{
      {},
      {"--truth", P("truth.mhd")},
      {"--segmentation", P("seg1.mhd")},
      {"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--manifest", P("m.csv")},
      {"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--shard", "1/2"},
      {"--manifest", P("m.csv"), "--threads", "0"},
      {"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--label", "x"},
      {"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--bogus", "1"},
      {"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--csv", P("a"), "--json", P("a")},
  };
  for (const auto& arguments : cases) ExpectRefused(Run(arguments), 1);
  Manifest();
  ExpectRefused(Run({"--manifest", P("cases/manifest.csv"), "--shard", "3/2"}), 1);

  // An output that cannot be written: status 3, and the other output is not left behind.
  ExpectRefused(Run({"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--json", P("j.json"),
                     "--csv", P("no/such/folder/out.csv")}),
                3);
  EXPECT_FALSE(fs::exists(P("j.json")));

  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* term : {"Boundary voxels", "nearest-rank", "ceil(0.95 n)", "3i < n",
                           "sample standard deviation", "linear interpolation", "--shard I/N", "--summarize"})
    EXPECT_NE(help.out.find(term), std::string::npos) << term;
}

TEST_F(CorvaneEvaluate, ShardsJoinedAndSummarizedEqualOneRun) {
  const std::string manifest = Manifest();
  ASSERT_EQ(Run({"--manifest", manifest, "--csv", P("all.csv"), "--threads", "1"}).status, 0);
  ASSERT_EQ(Run({"--manifest", manifest, "--csv", P("all2.csv"), "--threads", "3"}).status, 0);
  EXPECT_EQ(ReadFile(P("all.csv")), ReadFile(P("all2.csv")));  // the thread count changes nothing

  const std::vector<std::string> all = Lines(ReadFile(P("all.csv")));
  ASSERT_EQ(all.size(), 1u + 7 * 4 + 7 * 4);
  EXPECT_EQ(all[0].substr(0, 31), "case,segmentation,region,dice,j");
  EXPECT_EQ(all[1].substr(0, 17), "c0,s0.mhd,whole,1");  // the case's path as the manifest gives it
  EXPECT_EQ(all[29].substr(0, 12), "mean,,whole,");
  EXPECT_EQ(all.back().substr(0, 10), "max,,base,");

  // Three shards, joined with the header once, as a job array would leave them.
  std::string joined, concatenated;
  for (int i = 1; i <= 3; ++i) {
    const std::string shard = P("shard" + std::to_string(i) + ".csv");
    const Result r = Run({"--manifest", manifest, "--shard", std::to_string(i) + "/3", "--csv", shard});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(ReadFile(shard));
    EXPECT_EQ(lines[1].substr(0, 3), "c" + std::to_string(i - 1) + ",");  // interleaved
    for (std::size_t k = i == 1 ? 0 : 1; k < lines.size(); ++k) joined += lines[k] + "\n";
    concatenated += ReadFile(shard);  // as `cat` joins them, every header kept
  }
  std::ofstream(P("merged.csv")) << joined;
  const Result r =
      Run({"--summarize", P("merged.csv"), "--csv", P("summary.csv"), "--json", P("summary.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> summarized = Lines(ReadFile(P("summary.csv")));
  ASSERT_EQ(summarized.size(), all.size());
  // The same case rows (in shard order) and the very same summary rows.
  std::vector<std::string> caseRows(summarized.begin() + 1, summarized.begin() + 29);
  std::vector<std::string> expectedRows(all.begin() + 1, all.begin() + 29);
  std::sort(caseRows.begin(), caseRows.end());
  std::sort(expectedRows.begin(), expectedRows.end());
  EXPECT_EQ(caseRows, expectedRows);
  EXPECT_EQ(std::vector<std::string>(summarized.begin() + 29, summarized.end()),
            std::vector<std::string>(all.begin() + 29, all.end()));
  std::ofstream(P("concatenated.csv")) << concatenated;
  ASSERT_EQ(Run({"--summarize", P("concatenated.csv"), "--csv", P("from-cat.csv")}).status, 0);
  EXPECT_EQ(ReadFile(P("from-cat.csv")), ReadFile(P("summary.csv")));
  // Summarizing a summarized file changes nothing.
  ASSERT_EQ(Run({"--summarize", P("summary.csv"), "--csv", P("again.csv")}).status, 0);
  EXPECT_EQ(ReadFile(P("again.csv")), ReadFile(P("summary.csv")));

  // A shard beyond the number of cases says so and writes nothing.
  const Result beyond = Run({"--manifest", manifest, "--shard", "9/10", "--csv", P("empty.csv")});
  ExpectRefused(beyond, 1);
  EXPECT_NE(beyond.err.find("shard 9/10 holds no case: the manifest lists 7 cases"), std::string::npos)
      << beyond.err;
  EXPECT_FALSE(fs::exists(P("empty.csv")));

  ExpectRefused(Run({"--summarize", P("truth.mhd")}));
}

TEST_F(CorvaneEvaluate, LabelSelectsOneStructure) {
  CVoxel truth = Box(4, 15, 2, 7, 3);
  for (int x = 0; x < 20; ++x) truth.At(x, 0, 0) = 1;
  WriteMetaImage(dir_ / "multi.mhd", truth);
  WriteMetaImage(dir_ / "three.mhd", Box(4, 15, 2, 7, 3));
  ASSERT_EQ(
      Run({"--truth", P("multi.mhd"), "--segmentation", P("three.mhd"), "--label", "3", "--csv", P("l.csv")})
          .status,
      0);
  EXPECT_NE(ReadFile(P("l.csv")).find(",whole,1,1,"), std::string::npos);
  ASSERT_EQ(Run({"--truth", P("multi.mhd"), "--segmentation", P("three.mhd"), "--csv", P("l.csv")}).status,
            0);
  EXPECT_EQ(ReadFile(P("l.csv")).find(",whole,1,1,"), std::string::npos);
}

TEST_F(CorvaneEvaluate, CorrectWritesTheMeasuresBeforeAndAfter) {
  CVoxel map(20, 18, 10);
  map.At(5, 8, 1) = 3;  // background scribble on the segmentation's extra slice
  WriteMetaImage(dir_ / "map.mhd", map);
  const Result r = Run({"--segmentation", P("seg1.mhd"), "--scribbles", P("map.mhd"), "--output", P("fixed"),
                        "--mode", "manual", "--truth", P("truth.mhd"), "--metrics", P("m.csv")},
                       CORVANE_CORRECT);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Manual segmentation correction starts...",
                                                    "Manual segmentation correction is done...",
                                                    "Dice before: 0.8859", "Dice after: 0.8865"}));
  const std::vector<std::string> lines = Lines(ReadFile(P("m.csv")));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], evaluation::CsvHeader(false));
  EXPECT_EQ(lines[1].rfind(P("seg1.mhd") + ",whole,0.88590604,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[5].rfind(P("fixed.mhd") + ",whole,", 0), 0u) << lines[5];
  // The very file corvane-evaluate writes for the input and the saved result.
  ASSERT_EQ(Run({"--truth", P("truth.mhd"), "--segmentation", P("seg1.mhd"), "--segmentation", P("fixed.mhd"),
                 "--csv", P("e.csv")})
                .status,
            0);
  EXPECT_EQ(ReadFile(P("m.csv")), ReadFile(P("e.csv")));
  // Without --metrics stdout is the same.
  const Result plain = Run({"--segmentation", P("seg1.mhd"), "--scribbles", P("map.mhd"), "--output",
                            P("plain"), "--mode", "manual", "--truth", P("truth.mhd")},
                           CORVANE_CORRECT);
  EXPECT_EQ(plain.out, r.out);

  // --metrics needs --truth; a failed run writes neither file.
  const Result refused = Run({"--segmentation", P("seg1.mhd"), "--scribbles", P("map.mhd"), "--output",
                              P("other"), "--mode", "manual", "--metrics", P("m2.csv")},
                             CORVANE_CORRECT);
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(fs::exists(P("m2.csv")));
  EXPECT_FALSE(fs::exists(P("other.mhd")));
}
