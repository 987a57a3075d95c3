// Runs corvane-simulate on small phantom cases: its numbers against
// corvane-evaluate on the saved rounds, thread counts, shards, and failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "evaluation/ResultFiles.h"
#include "simulation/Rounds.h"
#include "tests/tools/ToolRun.h"

namespace fs = std::filesystem;

namespace {

using testfiles::ReadFile;

std::vector<std::vector<std::string>> Records(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::string error;
  EXPECT_TRUE(evaluation::ParseCsv(text, records, error)) << error;
  return records;
}

// The lines of a CSV with the last column (seconds) left out.
std::vector<std::string> WithoutSeconds(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.rfind(',')));
  return lines;
}

class CorvaneSimulate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "corvane-simulate-XXXXXX").string();
    cases_ = mkdtemp(pattern.data());
    for (int seed : {2, 3, 4}) {
      const fs::path out = cases_ / ("case" + std::to_string(seed));
      const auto r = toolrun::Run(
          CORVANE_PHANTOM,
          {"--out", out.string(), "--size", "64x64x10", "--references", "3", "--seed", std::to_string(seed)},
          cases_);
      ASSERT_EQ(r.status, 0) << r.err;
    }
    std::ofstream(cases_ / "cohort.csv") << "case,truth,segmentation,references\n"
                                         << "two,case2/truth.mhd,case2/segmentation.mhd,case2/references\n"
                                         << "three,case3/truth.mhd,case3/segmentation.mhd,\n"
                                         << "four,case4/truth.mhd,case4/segmentation.mhd,case4/references\n";
  }
  static void TearDownTestSuite() { fs::remove_all(cases_); }
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "corvane-simulate-run-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir_); }

  toolrun::Result Simulate(std::vector<std::string> arguments) {
    return toolrun::Run(CORVANE_SIMULATE, arguments, dir_);
  }
  std::vector<std::string> OneCase(const std::string& csv) {
    const fs::path c = cases_ / "case2";
    return {"--truth",        (c / "truth.mhd").string(),
            "--segmentation", (c / "segmentation.mhd").string(),
            "--references",   (c / "references").string(),
            "--mode",         "both",
            "--rounds",       "3",
            "--target",       "0.999",
            "--csv",          csv};
  }

  static inline fs::path cases_;
  fs::path dir_;
};

TEST_F(CorvaneSimulate, EveryRoundMeasuresAsCorvaneEvaluateOnItsSavedSegmentation) {
  auto arguments = OneCase((dir_ / "rounds.csv").string());
  arguments.insert(arguments.end(), {"--save-rounds", (dir_ / "saved").string()});
  const auto run = Simulate(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rows = Records(ReadFile(dir_ / "rounds.csv"));
  const fs::path truth = cases_ / "case2" / "truth.mhd";
  int checked = 0;
  for (const auto& row : rows) {
    if (row[0] != (cases_ / "case2" / "segmentation.mhd").string()) continue;
    char name[32];
    std::snprintf(name, sizeof name, "round-%02d", std::stoi(row[2]));
    const fs::path saved = dir_ / "saved" / simulation::SafeFolderName(row[0]) / row[1];
    const fs::path segmentation = saved / (std::string(name) + "-segmentation.mhd");
    const auto evaluate = toolrun::Run(CORVANE_EVALUATE,
                                       {"--truth", truth.string(), "--segmentation", segmentation.string(),
                                        "--csv", (dir_ / "evaluate.csv").string()},
                                       dir_);
    ASSERT_EQ(evaluate.status, 0) << evaluate.err;
    std::map<std::string, std::vector<std::string>> region;
    for (const auto& e : Records(ReadFile(dir_ / "evaluate.csv"))) region[e[1]] = e;
    // evaluate:
    // segmentation,region,dice,jaccard,truth_ml,segmentation_ml,rvd_percent,abd_mm,hd95_mm,hd_mm,sd1,sd2
    EXPECT_EQ(row[5], region["whole"][2]);
    EXPECT_EQ(row[6], region["whole"][3]);
    EXPECT_EQ(row[7], region["whole"][8]);
    EXPECT_EQ(row[8], region["whole"][7]);
    EXPECT_EQ(row[9], region["whole"][11]);
    EXPECT_EQ(row[10], region["apex"][2]);
    EXPECT_EQ(row[11], region["mid"][2]);
    EXPECT_EQ(row[12], region["base"][2]);
    // The saved stroke map holds the round's scribbles, all on the right side of the truth.
    CVoxel strokes((saved / (std::string(name) + "-strokes.mhd")).string());
    const CVoxel truthVolume(truth.string());
    ASSERT_TRUE(strokes.SameSize(truthVolume));
    EXPECT_EQ(strokes.CountNonZero(), std::stoi(row[4]));
    for (std::size_t i = 0; i < strokes.VoxelCount(); ++i)
      if (strokes.Data()[i] != 0) {
        ASSERT_EQ(strokes.Data()[i] == 2, truthVolume.Data()[i] != 0);
      }
    ++checked;
  }
  EXPECT_EQ(checked, 8);  // rounds 0 to 3 of both modes
}

TEST_F(CorvaneSimulate, GivesTheSameNumbersOnOneAndTwoThreads) {
  auto one = OneCase((dir_ / "one.csv").string());
  one.insert(one.end(), {"--threads", "1"});
  auto two = OneCase((dir_ / "two.csv").string());
  two.insert(two.end(), {"--threads", "2"});
  ASSERT_EQ(Simulate(one).status, 0);
  ASSERT_EQ(Simulate(two).status, 0);
  const auto a = WithoutSeconds(ReadFile(dir_ / "one.csv"));
  EXPECT_GT(a.size(), 8u);
  EXPECT_EQ(a, WithoutSeconds(ReadFile(dir_ / "two.csv")));
}

TEST_F(CorvaneSimulate, ShardsJoinedAndSummarizedEqualOneRun) {
  const std::string manifest = (cases_ / "cohort.csv").string();
  const std::vector<std::string> common{
      "--manifest", manifest, "--references", (cases_ / "case3" / "references").string(),
      "--mode",     "both",   "--rounds",     "3"};
  auto whole = common;
  whole.insert(whole.end(), {"--csv", (dir_ / "all.csv").string(), "--plot", (dir_ / "all.svg").string()});
  ASSERT_EQ(Simulate(whole).status, 0);
  std::string joined;
  for (const char* shard : {"1/2", "2/2"}) {
    auto part = common;
    const fs::path csv = dir_ / ("shard" + std::string(1, shard[0]) + ".csv");
    part.insert(part.end(), {"--shard", shard, "--csv", csv.string()});
    const auto r = Simulate(part);
    ASSERT_EQ(r.status, 0) << r.err;
    joined += ReadFile(csv);  // headers repeated: the reader skips them
  }
  std::ofstream(dir_ / "merged.csv") << joined;
  const auto r =
      Simulate({"--summarize", (dir_ / "merged.csv").string(), "--csv", (dir_ / "summary.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;

  const auto split = [](const std::vector<std::string>& lines, std::vector<std::string>& cases,
                        std::vector<std::string>& summary) {
    for (const auto& line : lines) {
      const std::string name = line.substr(0, line.find(','));
      (name == "mean" || name == "q1" || name == "median" || name == "q3" ? summary : cases).push_back(line);
    }
    std::sort(cases.begin(), cases.end());
  };
  std::vector<std::string> allCases, allSummary, mergedCases, mergedSummary;
  split(WithoutSeconds(ReadFile(dir_ / "all.csv")), allCases, allSummary);
  split(WithoutSeconds(ReadFile(dir_ / "summary.csv")), mergedCases, mergedSummary);
  EXPECT_EQ(allCases.size(), 1 + 3 * 2 * 4u);  // header, 3 cases x 2 modes x rounds 0..3 at most
  EXPECT_EQ(mergedCases, allCases);
  EXPECT_EQ(mergedSummary, allSummary);
  // The whole run's own file summarized gives the file back, seconds included.
  ASSERT_EQ(
      Simulate({"--summarize", (dir_ / "all.csv").string(), "--csv", (dir_ / "again.csv").string()}).status,
      0);
  EXPECT_EQ(ReadFile(dir_ / "again.csv"), ReadFile(dir_ / "all.csv"));
  const std::string svg = ReadFile(dir_ / "all.svg");
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find(">semi</text>"), std::string::npos);
  EXPECT_NE(svg.find(">manual</text>"), std::string::npos);
  EXPECT_NE(svg.find(">strokes</text>"), std::string::npos);
}

TEST_F(CorvaneSimulate, RefusesBadArgumentsAndInputsAndWritesNothing) {
  const std::string csv = (dir_ / "out.csv").string();
  EXPECT_EQ(Simulate({}).status, 1);
  auto arguments = OneCase(csv);
  arguments[7] = "automatic";  // --mode
  EXPECT_EQ(Simulate(arguments).status, 1);
  arguments = OneCase(csv);
  arguments.erase(arguments.begin() + 4, arguments.begin() + 6);  // no --references
  auto r = Simulate(arguments);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--references"), std::string::npos);
  arguments = OneCase(csv);
  arguments.insert(arguments.end(), {"--plot", (dir_ / "curve.gif").string()});
  EXPECT_EQ(Simulate(arguments).status, 1);
  for (const char* bad : {"0", "-1", "x", "101"}) {
    arguments = OneCase(csv);
    arguments.insert(arguments.end(), {"--brush", bad});
    EXPECT_EQ(Simulate(arguments).status, 1) << bad;
  }
  arguments = OneCase(csv);
  arguments[1] = (dir_ / "missing.mhd").string();
  r = Simulate(arguments);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("corvane-simulate: ", 0), 0u);
  EXPECT_FALSE(fs::exists(csv));
  arguments = OneCase((dir_ / "no-folder" / "out.csv").string());
  EXPECT_EQ(Simulate(arguments).status, 3);
  EXPECT_EQ(Simulate({"--summarize", (dir_ / "missing.csv").string()}).status, 2);
}

// "--csv -" puts the CSV file on standard output, as corvane-evaluate's does,
// and a shard beyond the number of cases is refused before any round runs.
TEST_F(CorvaneSimulate, WritesTheCsvToStandardOutputAndRefusesAnEmptyShard) {
  auto arguments = OneCase("-");
  arguments[9] = "1";  // --rounds
  const auto r = Simulate(arguments);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("case,mode,round,strokes,", 0), 0u) << r.out;
  EXPECT_EQ(r.out.find("dice last"), std::string::npos) << r.out;  // no summary table
  EXPECT_FALSE(fs::exists(dir_ / "-"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "-"));

  const auto beyond = Simulate({"--manifest", (cases_ / "cohort.csv").string(), "--references",
                                (cases_ / "case3" / "references").string(), "--shard", "5/5", "--csv",
                                (dir_ / "shard.csv").string()});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_EQ(beyond.err, "corvane-simulate: shard 5/5 holds no case: the manifest lists 3 cases\n");
  EXPECT_EQ(beyond.out, "");
  EXPECT_FALSE(fs::exists(dir_ / "shard.csv"));
}

#ifdef CORVANE_PLOT_PNG
TEST_F(CorvaneSimulate, DrawsAPngWithoutADisplay) {
  auto arguments = OneCase((dir_ / "out.csv").string());
  arguments.insert(arguments.end(), {"--plot", (dir_ / "curve.png").string()});
  const auto r = toolrun::Run(CORVANE_SIMULATE, arguments, dir_, "env -u DISPLAY -u QT_QPA_PLATFORM ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(dir_ / "curve.png").substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}
#endif

}  // namespace
