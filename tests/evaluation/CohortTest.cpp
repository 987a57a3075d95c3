// Manifests, shards, summaries and the result files of corvane-evaluate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "evaluation/Cohort.h"
#include "evaluation/ResultFiles.h"

using namespace evaluation;
namespace fs = std::filesystem;

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "corvane-cohort-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(path / name, std::ios::binary) << text;
    return (path / name).string();
  }
  fs::path path;
};

ResultRow Row(const std::string& name, int region, double value) {
  ResultRow row{name, name + ".mhd", region, {}};
  row.values.fill(value);
  return row;
}

}  // namespace

TEST(Cohort, ManifestColumnsPathsAndCaseNames) {
  TempFolder folder;
  const std::string manifest =
      folder.Write("cases.csv",
                   "\xEF\xBB\xBFsegmentation, truth "
                   ",case\r\nseg/a.mhd,gt/a.mhd,alpha\r\n\r\n\"/abs/b,1.mhd\",gt/b.mhd,\"be\"\"ta\"\n");
  std::vector<CohortCase> cases;
  std::string error;
  ASSERT_TRUE(ReadManifest(manifest, cases, error)) << error;
  ASSERT_EQ(cases.size(), 2u);
  EXPECT_EQ(cases[0].name, "alpha");
  EXPECT_EQ(cases[0].segmentation, "seg/a.mhd");  // as given
  EXPECT_EQ(cases[0].segmentationPath, (folder.path / "seg/a.mhd").string());
  EXPECT_EQ(cases[0].truthPath, (folder.path / "gt/a.mhd").string());
  EXPECT_EQ(cases[1].name, "be\"ta");
  EXPECT_EQ(cases[1].segmentationPath, "/abs/b,1.mhd");

  // Without a case column the cases are numbered from 1.
  ASSERT_TRUE(ReadManifest(folder.Write("plain.csv", "truth,segmentation\nt1,s1\nt2,s2\n"), cases, error));
  ASSERT_EQ(cases.size(), 2u);
  EXPECT_EQ(cases[0].name, "1");
  EXPECT_EQ(cases[1].name, "2");
}

TEST(Cohort, MalformedManifestsAreRefusedWithTheReason) {
  TempFolder folder;
  std::vector<CohortCase> cases;
  std::string error;
  const auto refused = [&](const std::string& text, const std::string& reason) {
    error.clear();
    EXPECT_FALSE(ReadManifest(folder.Write("m.csv", text), cases, error)) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  };
  refused("", "is empty");
  refused("truth,case\nt,c\n", "no column 'segmentation'");
  refused("truth,segmentation\n", "lists no case");
  refused("truth,segmentation\nt,s,extra\n", "3 fields where the header has 2");
  refused("truth,segmentation\nt,\n", "empty");
  refused("truth,segmentation\n\"t,s\n", "not closed");
  refused("truth,truth,segmentation\nt,t,s\n", "appears twice");
  EXPECT_FALSE(ReadManifest((folder.path / "missing.csv").string(), cases, error));
  EXPECT_NE(error.find("no such file"), std::string::npos);
}

TEST(Cohort, ShardsCoverEveryCaseOnce) {
  for (std::size_t cases = 0; cases <= 13; ++cases)
    for (int n = 1; n <= 6; ++n) {
      std::multiset<std::size_t> seen;
      for (int i = 1; i <= n; ++i)
        for (std::size_t p : ShardPositions(cases, i, n)) {
          EXPECT_EQ(p % static_cast<std::size_t>(n), static_cast<std::size_t>(i - 1));
          seen.insert(p);
        }
      ASSERT_EQ(seen.size(), cases);
      for (std::size_t p = 0; p < cases; ++p) EXPECT_EQ(seen.count(p), 1u);
    }
  EXPECT_EQ(ShardPositions(10, 2, 3), (std::vector<std::size_t>{1, 4, 7}));

  int index = 0, count = 0;
  std::string error;
  EXPECT_TRUE(ParseShard("3/8", index, count, error));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(count, 8);
  for (const char* bad : {"0/4", "5/4", "1/0", "1", "/4", "1/4x", "-1/4", "a/b", "1/99999999999"})
    EXPECT_FALSE(ParseShard(bad, index, count, error)) << bad;
}

TEST(Cohort, SummaryStatistics) {
  std::vector<ResultRow> rows;
  const double values[] = {4.0, 1.0, 3.0, 2.0};
  for (int i = 0; i < 4; ++i) rows.push_back(Row("c" + std::to_string(i), kWhole, values[i]));
  rows.push_back(Row("nan", kWhole, std::nan("")));  // left out
  rows.push_back(Row("one", kApex, 5.0));
  ResultRow old = Row("mean", kWhole, 100.0);
  old.segmentation.clear();  // an earlier summary row: ignored
  rows.push_back(old);

  const std::vector<ResultRow> summary = SummaryRows(rows);
  ASSERT_EQ(summary.size(), kSummaryNames.size() * kRegionCount);
  const auto stat = [&](const std::string& name, int region) {
    for (const ResultRow& row : summary)
      if (row.caseName == name && row.region == region) {
        EXPECT_TRUE(row.IsSummary());
        return row.values[kDice];
      }
    ADD_FAILURE() << name;
    return 0.0;
  };
  EXPECT_DOUBLE_EQ(stat("mean", kWhole), 2.5);
  EXPECT_DOUBLE_EQ(stat("sd", kWhole), std::sqrt(5.0 / 3.0));
  EXPECT_DOUBLE_EQ(stat("median", kWhole), 2.5);
  EXPECT_DOUBLE_EQ(stat("q1", kWhole), 1.75);
  EXPECT_DOUBLE_EQ(stat("q3", kWhole), 3.25);
  EXPECT_EQ(stat("min", kWhole), 1.0);
  EXPECT_EQ(stat("max", kWhole), 4.0);
  EXPECT_EQ(stat("mean", kApex), 5.0);
  EXPECT_TRUE(std::isnan(stat("sd", kApex)));   // one value
  EXPECT_TRUE(std::isnan(stat("mean", kMid)));  // no value
  EXPECT_EQ(summary.front().caseName, "mean");  // statistics outer, regions inner
  EXPECT_EQ(summary[1].region, kApex);
}

TEST(Cohort, ResultCsvRoundTrip) {
  std::vector<ResultRow> rows{Row("a", kWhole, 0.123456789012), Row("b,\"c\"", kBase, -INFINITY)};
  rows[0].values[kRvdPercent] = std::nan("");
  rows[0].values[kHdMm] = INFINITY;
  const std::string text = CsvText(rows, true);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "case,segmentation,region,dice,jaccard,truth_ml,segmentation_ml,rvd_percent,abd_mm,hd95_mm,hd_mm,"
            "surface_dice_1mm,surface_dice_2mm");
  EXPECT_NE(text.find("\na,a.mhd,whole,0.123456789,"), std::string::npos);
  EXPECT_NE(text.find(",nan,"), std::string::npos);
  EXPECT_NE(text.find("\"b,\"\"c\"\"\",\"b,\"\"c\"\".mhd\",base,-inf"), std::string::npos);

  // Joined files repeat the header; it is skipped.
  std::vector<ResultRow> read;
  std::string error;
  ASSERT_TRUE(ParseResultCsv(text + text.substr(text.find('\n') + 1) + CsvText(rows, true), read, error))
      << error;
  ASSERT_EQ(read.size(), 6u);
  EXPECT_EQ(read[1].caseName, "b,\"c\"");
  EXPECT_EQ(read[1].region, kBase);
  EXPECT_EQ(read[0].values[kDice], AsWritten(0.123456789012));
  EXPECT_TRUE(std::isnan(read[0].values[kRvdPercent]));
  EXPECT_EQ(read[0].values[kHdMm], INFINITY);

  EXPECT_FALSE(ParseResultCsv("segmentation,region\nx,whole\n", read, error));
  EXPECT_FALSE(ParseResultCsv(CsvHeader(true) + "\na,s,everywhere,1,1,1,1,1,1,1,1,1,1\n", read, error));
  EXPECT_NE(error.find("everywhere"), std::string::npos);
  EXPECT_FALSE(ParseResultCsv(CsvHeader(true) + "\na,s,whole,1,1,x,1,1,1,1,1,1,1\n", read, error));

  // The single-segmentation header, exactly.
  EXPECT_EQ(CsvHeader(false),
            "segmentation,region,dice,jaccard,truth_ml,segmentation_ml,rvd_percent,abd_mm,hd95_mm,hd_mm,"
            "surface_dice_1mm,surface_dice_2mm");
}

TEST(Cohort, JsonHoldsTheSameContent) {
  std::vector<ResultRow> rows{Row("a\\b", kMid, 0.5)};
  rows[0].values[kHdMm] = INFINITY;
  rows[0].values[kRvdPercent] = std::nan("");
  const std::string json = JsonText(rows, true);
  EXPECT_EQ(json.rfind("[\n  {\"case\": \"a\\\\b\", \"segmentation\": \"a\\\\b.mhd\", ", 0), 0u) << json;
  EXPECT_NE(json.find("\"region\": \"mid\", \"dice\": 0.5,"), std::string::npos);
  EXPECT_NE(json.find("\"rvd_percent\": \"nan\""), std::string::npos);
  EXPECT_NE(json.find("\"hd_mm\": \"inf\""), std::string::npos);
  EXPECT_EQ(JsonText({}, false), "[]\n");
}

TEST(Cohort, ArbitraryTextNeverBreaksTheReaders) {
  std::mt19937 random(11);
  const std::string alphabet = ",\"\r\n \tab1.-\xEF\xBB\xBF";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 80);
  const std::string header = CsvHeader(true) + "\n";
  for (int trial = 0; trial < 2000; ++trial) {
    std::string text;
    for (std::size_t i = length(random); i > 0; --i) text += alphabet[pick(random)];
    std::vector<std::vector<std::string>> records;
    std::vector<ResultRow> rows;
    std::string error;
    if (ParseCsv(text, records, error)) {
      for (const auto& record : records) EXPECT_FALSE(record.empty());
    }
    ParseResultCsv(text, rows, error);
    ParseResultCsv(header + text, rows, error);
  }
}
