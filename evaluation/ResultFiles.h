// The result files of corvane-evaluate (CSV, JSON, the stdout table) and the
// small CSV reader shared by manifests and result files.
#pragma once

#include <string>
#include <vector>

#include "evaluation/Metrics.h"

namespace evaluation {

// One row of results: one segmentation (or one summary statistic) and one region.
struct ResultRow {
  std::string caseName;      // cohort results only; the statistic's name on summary rows
  std::string segmentation;  // the path as given; empty on summary rows
  int region = kWhole;
  MetricValues values{};

  bool IsSummary() const { return segmentation.empty(); }
};

// The rows of one evaluated case, whole, apex, mid, base.
void AppendCaseRows(const std::string& caseName, const std::string& segmentation, const CaseMetrics& metrics,
                    std::vector<ResultRow>& rows);

// "%.9g": nine significant digits, "nan", "inf" and "-inf" spelled out.
std::string FormatNumber(double value);
// A value as it reads back from its written form.
double AsWritten(double value);

// The header line: [case,]segmentation,region,dice,...,surface_dice_2mm
std::string CsvHeader(bool withCase);
// Header and one line per row. Fields holding a comma, a quote or a line
// break are quoted, quotes doubled.
std::string CsvText(const std::vector<ResultRow>& rows, bool withCase);
// An array with one object per row, keyed by the CSV's column names; nan and
// infinities are written as the strings "nan", "inf" and "-inf".
std::string JsonText(const std::vector<ResultRow>& rows, bool withCase);
// A readable table per segmentation (and one for the summary rows).
std::string TableText(const std::vector<ResultRow>& rows, bool withCase);

// Splits CSV text into records of fields: lines end in "\n" or "\r\n", blank
// lines are skipped, a leading UTF-8 byte-order mark is ignored, fields may be
// quoted ("" stands for a quote) and unquoted fields lose surrounding blanks.
// False with *error for a quote that is not closed on its line.
bool ParseCsv(const std::string& text, std::vector<std::vector<std::string>>& records, std::string& error);

// Reads result rows written with the case column (for example several shard
// files joined together). Header lines repeated inside the text are skipped.
bool ParseResultCsv(const std::string& text, std::vector<ResultRow>& rows, std::string& error);

bool ReadTextFile(const std::string& path, std::string& text, std::string& error);

}  // namespace evaluation
