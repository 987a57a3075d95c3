#include "simulation/Curves.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "evaluation/Cohort.h"
#include "evaluation/ResultFiles.h"

namespace simulation {

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The rounds of one case in one mode, as written.
struct CaseCurve {
  std::vector<ColumnValues> rounds;
  const ColumnValues& At(std::size_t round) const { return rounds[std::min(round, rounds.size() - 1)]; }
};

// mean, q1, median, q3 of the values, nan left out.
std::array<double, 4> Statistics(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  if (values.empty()) return {kNan, kNan, kNan, kNan};
  std::sort(values.begin(), values.end());
  double sum = 0.0;
  for (double v : values) sum += v;
  return {sum / static_cast<double>(values.size()), evaluation::Quantile(values, 0.25),
          evaluation::Quantile(values, 0.5), evaluation::Quantile(values, 0.75)};
}

std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0' && errno != ERANGE;
}

}  // namespace

bool IsStatisticName(const std::string& name) {
  return std::find(kStatisticNames.begin(), kStatisticNames.end(), name) != kStatisticNames.end();
}

std::vector<SummaryRow> SummaryRows(const std::vector<RoundRow>& rows, double target) {
  // Cases per mode: a case's rows run from round 0 upward.
  std::vector<std::string> modes;
  std::map<std::string, std::vector<CaseCurve>> curves;
  for (const RoundRow& row : rows) {
    if (std::find(modes.begin(), modes.end(), row.mode) == modes.end()) modes.push_back(row.mode);
    auto& cases = curves[row.mode];
    if (row.round == 0 || cases.empty()) cases.emplace_back();
    ColumnValues written{};
    for (int c = 0; c < kColumnCount; ++c) written[c] = evaluation::AsWritten(row.values[c]);
    cases.back().rounds.push_back(written);
  }
  std::vector<SummaryRow> summary;
  for (const std::string& mode : modes) {
    const std::vector<CaseCurve>& cases = curves[mode];
    std::size_t last = 0;
    for (const CaseCurve& c : cases) last = std::max(last, c.rounds.size() - 1);
    const std::size_t first = summary.size();
    for (const char* statistic : kStatisticNames)
      for (std::size_t r = 0; r <= last; ++r)
        summary.push_back({statistic, mode, SummaryKind::kRound, static_cast<int>(r), {}});
    for (int column = 0; column < kColumnCount; ++column)
      for (std::size_t r = 0; r <= last; ++r) {
        std::vector<double> values;
        for (const CaseCurve& c : cases) values.push_back(c.At(r)[column]);
        const auto stats = Statistics(values);
        for (std::size_t s = 0; s < stats.size(); ++s)
          summary[first + s * (last + 1) + r].values[column] = stats[s];
      }
    std::vector<double> toTarget, area;
    for (const CaseCurve& c : cases) {
      double strokes = kInfinity;
      for (const ColumnValues& v : c.rounds)
        if (v[kDice] >= target) {
          strokes = v[kStrokes];
          break;
        }
      toTarget.push_back(strokes);
      double sum = 0.0;
      for (std::size_t r = 0; r < last; ++r) sum += (c.At(r)[kDice] + c.At(r + 1)[kDice]) / 2.0;
      area.push_back(last == 0 ? c.At(0)[kDice] : sum / static_cast<double>(last));
    }
    const auto targetStats = Statistics(toTarget), areaStats = Statistics(area);
    for (std::size_t s = 0; s < kStatisticNames.size(); ++s) {
      SummaryRow row{kStatisticNames[s], mode, SummaryKind::kStrokesToTarget, 0, {}};
      row.values.fill(kNan);
      row.values[kStrokes] = targetStats[s];
      summary.push_back(row);
    }
    for (std::size_t s = 0; s < kStatisticNames.size(); ++s) {
      SummaryRow row{kStatisticNames[s], mode, SummaryKind::kArea, 0, {}};
      row.values.fill(kNan);
      row.values[kDice] = areaStats[s];
      summary.push_back(row);
    }
  }
  return summary;
}

std::string CsvHeader() {
  std::string header = "case,mode,round";
  for (const char* name : kColumnNames) header += std::string(",") + name;
  return header;
}

std::string CsvText(const std::vector<RoundRow>& rows, const std::vector<SummaryRow>& summary) {
  std::string text = CsvHeader() + "\n";
  for (const RoundRow& row : rows) {
    text += Field(row.caseName) + "," + Field(row.mode) + "," + std::to_string(row.round);
    for (double v : row.values) text += "," + evaluation::FormatNumber(v);
    text += "\n";
  }
  for (const SummaryRow& row : summary) {
    text += row.statistic + "," + Field(row.mode) + ",";
    switch (row.kind) {
      case SummaryKind::kRound:
        text += std::to_string(row.round);
        for (double v : row.values) text += "," + evaluation::FormatNumber(v);
        break;
      case SummaryKind::kStrokesToTarget:
      case SummaryKind::kArea: {
        const int column = row.kind == SummaryKind::kArea ? kDice : kStrokes;
        text += row.kind == SummaryKind::kArea ? "auc" : "to_target";
        for (int c = 0; c < kColumnCount; ++c)
          text += "," + (c == column ? evaluation::FormatNumber(row.values[c]) : std::string());
        break;
      }
    }
    text += "\n";
  }
  return text;
}

bool ParseRoundsCsv(const std::string& text, std::vector<RoundRow>& rows, std::string& error) {
  std::vector<std::vector<std::string>> records;
  if (!evaluation::ParseCsv(text, records, error)) return false;
  if (records.empty()) {
    error = "the file is empty";
    return false;
  }
  std::vector<std::string> header{"case", "mode", "round"};
  for (const char* name : kColumnNames) header.emplace_back(name);
  if (records[0] != header) {
    error = "the header is not the header of corvane-simulate's CSV (" + CsvHeader() + ")";
    return false;
  }
  rows.clear();
  for (std::size_t r = 1; r < records.size(); ++r) {
    const std::vector<std::string>& fields = records[r];
    if (fields == header) continue;
    const std::string where = "line " + std::to_string(r + 1);
    if (fields.size() != header.size()) {
      error = where + ": " + std::to_string(fields.size()) + " fields where the header has " +
              std::to_string(header.size());
      return false;
    }
    if (IsStatisticName(fields[0])) continue;
    RoundRow row{fields[0], fields[1], 0, {}};
    double round = 0.0;
    if (!ParseNumber(fields[2], round) || round < 0 || round != std::floor(round) || round > 1e6) {
      error = where + ": the round '" + fields[2] + "' is not a whole number";
      return false;
    }
    row.round = static_cast<int>(round);
    for (int c = 0; c < kColumnCount; ++c)
      if (!ParseNumber(fields[3 + c], row.values[c])) {
        error = where + ": '" + fields[3 + c] + "' in the column " + kColumnNames[c] + " is not a number";
        return false;
      }
    const bool continues = !rows.empty() && rows.back().caseName == row.caseName &&
                           rows.back().mode == row.mode && rows.back().round + 1 == row.round;
    if (row.round != 0 && !continues) {
      error = where + ": round " + fields[2] + " of case '" + row.caseName + "' does not follow its round " +
              std::to_string(row.round - 1);
      return false;
    }
    rows.push_back(row);
  }
  if (rows.empty()) {
    error = "the file holds no case rows";
    return false;
  }
  return true;
}

std::vector<DiceCurve> DiceCurves(const std::vector<SummaryRow>& summary) {
  std::vector<DiceCurve> curves;
  for (const SummaryRow& row : summary) {
    if (row.kind != SummaryKind::kRound) continue;
    auto it =
        std::find_if(curves.begin(), curves.end(), [&](const DiceCurve& c) { return c.mode == row.mode; });
    if (it == curves.end()) it = curves.insert(curves.end(), DiceCurve{row.mode, {}, {}, {}, {}});
    const std::string& s = row.statistic;
    if (s == "median") {
      it->strokes.push_back(row.round);
      it->median.push_back(row.values[kDice]);
    } else if (s == "q1") {
      it->q1.push_back(row.values[kDice]);
    } else if (s == "q3") {
      it->q3.push_back(row.values[kDice]);
    }
  }
  return curves;
}

}  // namespace simulation
