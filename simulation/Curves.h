// The simulation's result file and what it says over many cases: the CSV of
// the rounds, the summary rows per mode and the Dice curves a plot draws.
//
// CSV columns: case,mode,round,strokes,scribbled_voxels,dice,jaccard,hd95_mm,
// abd_mm,surface_dice_2mm,apex_dice,mid_dice,base_dice,seconds. Numbers are
// written as corvane-evaluate writes them (nine significant digits, nan and
// inf spelled out). After the case rows come the summary rows of each mode:
//   - per round, case = mean, q1, median or q3: that statistic of every column
//     over the cases (a case that stopped early keeps its last values in the
//     later rounds; nan values are left out);
//   - round = to_target: the statistic of the strokes each case needed to reach
//     the target Dice (inf when never) in the strokes column;
//   - round = auc: the statistic of each case's area under its Dice-against-
//     strokes curve from 0 to the last round of the mode, divided by that
//     number of strokes (trapezoids; the Dice of round 0 when no case had a
//     stroke), in the dice column.
// Summaries use the values as written, so that they can be recomputed from the
// file, and do not depend on the order of the cases.
#pragma once

#include <string>
#include <vector>

#include "simulation/Rounds.h"

namespace simulation {

// The statistics of the summary rows, in their order; a case may not be named so.
inline constexpr std::array<const char*, 4> kStatisticNames{"mean", "q1", "median", "q3"};
bool IsStatisticName(const std::string& name);

enum class SummaryKind { kRound, kStrokesToTarget, kArea };

struct SummaryRow {
  std::string statistic;  // one of kStatisticNames
  std::string mode;
  SummaryKind kind = SummaryKind::kRound;
  int round = 0;          // kRound rows
  ColumnValues values{};  // kStrokesToTarget: kStrokes only; kArea: kDice only
};

// The summary rows over the case rows (modes in the order they first appear).
std::vector<SummaryRow> SummaryRows(const std::vector<RoundRow>& rows, double target);

std::string CsvHeader();
std::string CsvText(const std::vector<RoundRow>& rows, const std::vector<SummaryRow>& summary);
// Reads the case rows of a result file (several shard files joined together:
// header lines inside the text are skipped, summary rows are left out).
bool ParseRoundsCsv(const std::string& text, std::vector<RoundRow>& rows, std::string& error);

// One line of a Dice-against-strokes plot: the median over the cases at each
// stroke count and the band between the quartiles.
struct DiceCurve {
  std::string mode;
  std::vector<double> strokes, median, q1, q3;
};
std::vector<DiceCurve> DiceCurves(const std::vector<SummaryRow>& summary);

}  // namespace simulation
