// Rounds of the robot over the case model, and the result rows, summaries
// and curves made of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "evaluation/Metrics.h"
#include "simulation/Curves.h"
#include "simulation/Rounds.h"

using namespace simulation;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

CVoxel Volume(int X, int Y, int Z) {
  CVoxel v(X, Y, Z, true);
  v.spacing[0] = 0.5f, v.spacing[1] = 0.5f, v.spacing[2] = 2.0f;
  v.origin[0] = v.origin[1] = v.origin[2] = 0;
  return v;
}

void Fill(CVoxel& v, int x0, int x1, int y0, int y1, int z0, int z1, std::int16_t value) {
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) v.At(x, y, z) = value;
}

ModeInfo Manual() {
  std::vector<ModeInfo> modes;
  std::string error;
  EXPECT_TRUE(ParseModes("manual", modes, error));
  return modes.at(0);
}

RoundRow Row(const std::string& name, int round, double dice) {
  RoundRow row{name, "manual", round, {}};
  row.values[kStrokes] = round;
  row.values[kDice] = dice;
  return row;
}

}  // namespace

TEST(Rounds, ModesAreSemiManualOrBoth) {
  std::vector<ModeInfo> modes;
  std::string error;
  ASSERT_TRUE(ParseModes("both", modes, error));
  ASSERT_EQ(modes.size(), 2u);
  EXPECT_STREQ(modes[0].name, "semi");
  EXPECT_STREQ(modes[1].name, "manual");
  EXPECT_TRUE(NeedsReferences(modes[0]));
  EXPECT_FALSE(NeedsReferences(modes[1]));
  EXPECT_FALSE(ParseModes("auto", modes, error));
  EXPECT_NE(error.find("'auto'"), std::string::npos);
}

TEST(Rounds, ManualRoundsMeasureEachResultAndStopAtTheTarget) {
  CVoxel truth = Volume(24, 24, 8);
  Fill(truth, 4, 19, 4, 19, 1, 6, 1);
  CVoxel seg = truth;
  Fill(seg, 4, 9, 4, 19, 2, 5, 0);    // a missed slab
  Fill(seg, 20, 21, 8, 15, 2, 3, 1);  // an extra bump
  SimulationSettings settings;
  settings.rounds = 30;
  settings.target = 1.0;
  std::vector<RoundRow> rows;
  std::string error;
  ASSERT_TRUE(SimulateCase({"c1", &truth, &seg, ""}, Manual(), settings, rows, error)) << error;
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0].round, 0);
  EXPECT_EQ(rows[0].values[kStrokes], 0);
  EXPECT_EQ(rows[0].values[kScribbledVoxels], 0);
  EXPECT_EQ(rows[0].values[kDice], evaluation::Evaluate(truth, seg)[evaluation::kWhole][evaluation::kDice]);
  for (std::size_t r = 1; r < rows.size(); ++r) {
    EXPECT_EQ(rows[r].round, static_cast<int>(r));
    EXPECT_EQ(rows[r].values[kStrokes], static_cast<double>(r));
    EXPECT_GT(rows[r].values[kScribbledVoxels], rows[r - 1].values[kScribbledVoxels]);
    // Manual correction writes the scribbles, which the robot keeps on the right side.
    EXPECT_GE(rows[r].values[kDice], rows[r - 1].values[kDice]);
  }
  // Manual correction with every error scribbled reaches the truth.
  EXPECT_EQ(rows.back().values[kDice], 1.0);
  EXPECT_LT(rows.size(), 31u);

  // A lower target stops the case at the first round that reaches it.
  std::vector<RoundRow> early;
  settings.target = rows[2].values[kDice];
  ASSERT_TRUE(SimulateCase({"c1", &truth, &seg, ""}, Manual(), settings, early, error));
  EXPECT_EQ(early.size(), 3u);
  // The given segmentation is not changed.
  CVoxel again = truth;
  Fill(again, 4, 9, 4, 19, 2, 5, 0);
  Fill(again, 20, 21, 8, 15, 2, 3, 1);
  EXPECT_TRUE(std::equal(seg.Data(), seg.Data() + seg.VoxelCount(), again.Data()));
}

TEST(Rounds, RefusesCasesThatCannotBeRun) {
  CVoxel truth = Volume(10, 10, 4);
  Fill(truth, 2, 7, 2, 7, 1, 2, 1);
  CVoxel elsewhere = truth;
  elsewhere.origin[0] = 5;
  std::vector<RoundRow> rows;
  std::string error;
  EXPECT_FALSE(SimulateCase({"c", &truth, &elsewhere, ""}, Manual(), {}, rows, error));
  EXPECT_NE(error.find("case 'c'"), std::string::npos);
  std::vector<ModeInfo> semi;
  ASSERT_TRUE(ParseModes("semi", semi, error));
  CVoxel empty = Volume(10, 10, 4);
  EXPECT_FALSE(SimulateCase({"c", &truth, &empty, "/nonexistent"}, semi[0], {}, rows, error));
  EXPECT_NE(error.find("empty"), std::string::npos);
  CVoxel seg = truth;
  Fill(seg, 2, 4, 2, 7, 1, 2, 0);
  EXPECT_FALSE(SimulateCase({"c", &truth, &seg, "/nonexistent-references"}, semi[0], {}, rows, error));
  EXPECT_NE(error.find("no reference label"), std::string::npos);
  EXPECT_TRUE(rows.empty() || rows.size() == 1u);
}

TEST(Curves, SummariesCarryStoppedCasesForwardAndDoNotDependOnTheOrder) {
  // Case a stops after one stroke at 0.96, case b runs three strokes.
  const std::vector<RoundRow> rows{Row("a", 0, 0.90), Row("a", 1, 0.96), Row("b", 0, 0.80),
                                   Row("b", 1, 0.85), Row("b", 2, 0.90), Row("b", 3, 0.94)};
  const auto summary = SummaryRows(rows, 0.95);
  const auto find = [&](const std::vector<SummaryRow>& s, const std::string& statistic, SummaryKind kind,
                        int round) {
    for (const auto& row : s)
      if (row.statistic == statistic && row.kind == kind && row.round == round) return row.values;
    ADD_FAILURE() << statistic << " " << round;
    return ColumnValues{};
  };
  EXPECT_DOUBLE_EQ(find(summary, "mean", SummaryKind::kRound, 0)[kDice], 0.85);
  EXPECT_DOUBLE_EQ(find(summary, "mean", SummaryKind::kRound, 3)[kDice], (0.96 + 0.94) / 2);
  EXPECT_DOUBLE_EQ(find(summary, "q1", SummaryKind::kRound, 2)[kDice], 0.90 + 0.25 * 0.06);
  EXPECT_DOUBLE_EQ(find(summary, "median", SummaryKind::kRound, 2)[kStrokes], 1.5);
  // Strokes to 0.95: 1 for a, never for b.
  EXPECT_EQ(find(summary, "median", SummaryKind::kStrokesToTarget, 0)[kStrokes], kInf);
  EXPECT_EQ(find(summary, "q1", SummaryKind::kStrokesToTarget, 0)[kStrokes], kInf);
  EXPECT_EQ(find(summary, "mean", SummaryKind::kStrokesToTarget, 0)[kStrokes], kInf);
  // Area under the curve over 3 strokes, divided by 3.
  const double areaA = ((0.90 + 0.96) / 2 + 0.96 + 0.96) / 3;
  const double areaB = ((0.80 + 0.85) / 2 + (0.85 + 0.90) / 2 + (0.90 + 0.94) / 2) / 3;
  EXPECT_NEAR(find(summary, "mean", SummaryKind::kArea, 0)[kDice], (areaA + areaB) / 2, 1e-12);
  EXPECT_TRUE(std::isnan(find(summary, "mean", SummaryKind::kArea, 0)[kHd95Mm]));

  std::vector<RoundRow> reversed(rows.begin() + 2, rows.end());
  reversed.insert(reversed.end(), rows.begin(), rows.begin() + 2);
  EXPECT_EQ(CsvText({}, SummaryRows(reversed, 0.95)), CsvText({}, summary));
}

TEST(Curves, TheCsvReadsBackAndCurvesFollowTheMedian) {
  std::vector<RoundRow> rows{Row("a,b", 0, 0.9), Row("a,b", 1, 1.0 / 3.0), Row("c", 0, 0.5)};
  rows[1].values[kHd95Mm] = kInf;
  rows[1].values[kAbdMm] = std::numeric_limits<double>::quiet_NaN();
  const auto summary = SummaryRows(rows, 0.95);
  const std::string text = CsvText(rows, summary);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "case,mode,round,strokes,scribbled_voxels,dice,jaccard,hd95_mm,"
            "abd_mm,surface_dice_2mm,apex_dice,mid_dice,base_dice,seconds");
  EXPECT_NE(text.find("\"a,b\",manual,1,1,0,0.333333333,0,inf,nan,"), std::string::npos);
  EXPECT_NE(text.find("median,manual,to_target,inf,,,"), std::string::npos);
  std::vector<RoundRow> back;
  std::string error;
  // Two files joined with their headers read as the case rows of both.
  ASSERT_TRUE(ParseRoundsCsv(text + text, back, error)) << error;
  ASSERT_EQ(back.size(), 6u);
  EXPECT_EQ(back[1].caseName, "a,b");
  EXPECT_EQ(back[1].values[kDice], 0.333333333);
  EXPECT_EQ(CsvText(back, {}),
            CsvText(std::vector<RoundRow>{rows[0], rows[1], rows[2], rows[0], rows[1], rows[2]}, {}));
  EXPECT_EQ(CsvText(rows, SummaryRows(std::vector<RoundRow>(back.begin(), back.begin() + 3), 0.95)), text);

  const auto curves = DiceCurves(summary);
  ASSERT_EQ(curves.size(), 1u);
  EXPECT_EQ(curves[0].strokes, (std::vector<double>{0, 1}));
  EXPECT_DOUBLE_EQ(curves[0].median[0], 0.7);
  EXPECT_DOUBLE_EQ(curves[0].q1[1], 0.333333333 + 0.25 * (0.5 - 0.333333333));

  // A round out of its sequence, a bad number, a foreign header.
  EXPECT_FALSE(ParseRoundsCsv(CsvHeader() + "\nx,manual,2,2,0,1,1,0,0,1,1,1,1,0\n", back, error));
  EXPECT_NE(error.find("does not follow"), std::string::npos);
  EXPECT_FALSE(ParseRoundsCsv(CsvHeader() + "\nx,manual,0,0,0,one,1,0,0,1,1,1,1,0\n", back, error));
  EXPECT_FALSE(ParseRoundsCsv("case,segmentation,region\n", back, error));
}
