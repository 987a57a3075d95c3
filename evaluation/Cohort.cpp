#include "evaluation/Cohort.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

#include "geometry/Parallel.h"
#include "volume/GridReorder.h"
#include "volume/Sinks.h"

namespace evaluation {

namespace fs = std::filesystem;

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

class CollectingSink final : public volume::MessageSink {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

bool ParsePositive(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::stoi(text);
  return value >= 1;
}

}  // namespace

bool ReadManifest(const std::string& manifestPath, std::vector<CohortCase>& cases, std::string& error) {
  std::string text, why;
  std::vector<std::vector<std::string>> records;
  const std::string where = "the manifest '" + manifestPath + "'";
  if (!ReadTextFile(manifestPath, text, why)) {
    error = "cannot read " + where + ": " + why;
    return false;
  }
  if (!ParseCsv(text, records, why)) {
    error = where + ": " + why;
    return false;
  }
  if (records.empty()) {
    error = where + " is empty";
    return false;
  }
  std::map<std::string, std::size_t> column;
  for (std::size_t c = 0; c < records[0].size(); ++c)
    if (!column.emplace(records[0][c], c).second) {
      error = where + ": the column '" + records[0][c] + "' appears twice";
      return false;
    }
  for (const char* name : {"truth", "segmentation"})
    if (!column.count(name)) {
      error = where + ": the header has no column '" + std::string(name) + "'";
      return false;
    }
  const fs::path folder = fs::path(manifestPath).parent_path();
  const auto resolve = [&](const std::string& path) {
    return fs::path(path).is_absolute() || folder.empty() ? path : (folder / path).string();
  };
  cases.clear();
  for (std::size_t r = 1; r < records.size(); ++r) {
    const std::vector<std::string>& fields = records[r];
    const std::string row = where + ", case " + std::to_string(r);
    if (fields.size() != records[0].size()) {
      error = row + ": " + std::to_string(fields.size()) + " fields where the header has " +
              std::to_string(records[0].size());
      return false;
    }
    CohortCase c;
    c.name = column.count("case") ? fields[column["case"]] : std::to_string(r);
    c.segmentation = fields[column["segmentation"]];
    const std::string& truth = fields[column["truth"]];
    if (truth.empty() || c.segmentation.empty()) {
      error = row + ": the truth or the segmentation is empty";
      return false;
    }
    c.truthPath = resolve(truth);
    c.segmentationPath = resolve(c.segmentation);
    if (column.count("references") && !fields[column["references"]].empty())
      c.referencesPath = resolve(fields[column["references"]]);
    cases.push_back(std::move(c));
  }
  if (cases.empty()) {
    error = where + " lists no case";
    return false;
  }
  return true;
}

bool ParseShard(const std::string& text, int& index, int& count, std::string& error) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || !ParsePositive(text.substr(0, slash), index) ||
      !ParsePositive(text.substr(slash + 1), count) || index > count) {
    error = "--shard must be I/N with 1 <= I <= N, not '" + text + "'";
    return false;
  }
  return true;
}

std::vector<std::size_t> ShardPositions(std::size_t caseCount, int index, int count) {
  std::vector<std::size_t> positions;
  for (std::size_t p = static_cast<std::size_t>(index - 1); p < caseCount;
       p += static_cast<std::size_t>(count))
    positions.push_back(p);
  return positions;
}

bool LoadLabelVolume(const std::string& what, const std::string& path, std::unique_ptr<CVoxel>& volume,
                     std::string& error, std::vector<std::string>* notices) {
  std::error_code missing;
  if (path.empty() || !fs::exists(path, missing)) {
    error = "cannot read the " + what + " '" + path + "': no such file or folder";
    return false;
  }
  CollectingSink sink;
  volume = std::make_unique<CVoxel>(path, &sink);
  if (!volume->HasData() || volume->VoxelCount() == 0) {
    const std::string why = sink.messages.empty() ? "it holds no voxel data" : OneLine(sink.messages.front());
    error = "cannot read the " + what + " '" + path + "': " + why;
    return false;
  }
  if (notices)
    for (const std::string& message : sink.messages) notices->push_back(OneLine(message));
  return true;
}

bool EvaluateFiles(const std::string& truthPath, const std::string& segmentationPath,
                   const Foreground& foreground, CaseMetrics& metrics, std::string& error,
                   std::vector<std::string>* notices) {
  std::unique_ptr<CVoxel> truth, segmentation;
  std::vector<std::string> told;
  if (!LoadLabelVolume("truth", truthPath, truth, error, &told) ||
      !LoadLabelVolume("segmentation", segmentationPath, segmentation, error, &told))
    return false;
  std::string how;
  if (volume::ReorderOntoGrid(*truth, *segmentation, &how) == volume::GridMatch::Reordered)
    told.push_back(volume::ReorderedText("truth", truthPath, "segmentation", segmentationPath, how));
  const std::string mismatch = GeometryMismatch(*truth, *segmentation);
  if (!mismatch.empty()) {
    error = "cannot compare '" + segmentationPath + "' with the truth '" + truthPath + "': " + mismatch;
    return false;
  }
  metrics = Evaluate(*truth, *segmentation, foreground);
  if (notices) notices->insert(notices->end(), told.begin(), told.end());
  return true;
}

void EvaluateEachCase(const std::vector<CohortCase>& cases, const Foreground& foreground, int threads,
                      std::vector<CaseMetrics>& metrics, std::vector<std::string>& errors,
                      std::vector<std::string>* notices) {
  metrics.assign(cases.size(), CaseMetrics{});
  errors.assign(cases.size(), std::string());
  std::vector<std::vector<std::string>> told(cases.size());
  geometry::ParallelFor(geometry::ResolveThreadCount(threads), static_cast<int>(cases.size()), [&](int i) {
    const std::size_t k = static_cast<std::size_t>(i);
    if (!EvaluateFiles(cases[k].truthPath, cases[k].segmentationPath, foreground, metrics[k], errors[k],
                       &told[k]) &&
        errors[k].empty())
      errors[k] = "it could not be measured";
  });
  if (notices)
    for (const std::vector<std::string>& lines : told)
      notices->insert(notices->end(), lines.begin(), lines.end());
}

bool EvaluateCases(const std::vector<CohortCase>& cases, const Foreground& foreground, int threads,
                   std::vector<CaseMetrics>& metrics, std::string& error, std::vector<std::string>* notices) {
  std::vector<std::string> errors;
  EvaluateEachCase(cases, foreground, threads, metrics, errors, notices);
  for (const std::string& e : errors)
    if (!e.empty()) {
      error = e;
      return false;
    }
  return true;
}

double Quantile(const std::vector<double>& ascending, double p) {
  if (ascending.empty()) return kNan;
  const double h = p * static_cast<double>(ascending.size() - 1);
  const std::size_t low = static_cast<std::size_t>(std::floor(h));
  const double fraction = h - static_cast<double>(low);
  if (fraction == 0.0 || ascending[low] == ascending[low + 1]) return ascending[low];
  return ascending[low] + fraction * (ascending[low + 1] - ascending[low]);
}

std::vector<ResultRow> SummaryRows(const std::vector<ResultRow>& rows) {
  // values[region][metric]: the cases' values as written, nan left out.
  std::vector<double> values[kRegionCount][kMetricCount];
  for (const ResultRow& row : rows) {
    if (row.IsSummary()) continue;
    for (int m = 0; m < kMetricCount; ++m) {
      const double v = AsWritten(row.values[m]);
      if (!std::isnan(v)) values[row.region][m].push_back(v);
    }
  }
  std::vector<ResultRow> summary;
  for (const char* name : kSummaryNames)
    for (int r = 0; r < kRegionCount; ++r) summary.push_back(ResultRow{name, "", r, {}});
  for (int r = 0; r < kRegionCount; ++r)
    for (int m = 0; m < kMetricCount; ++m) {
      // Sorted first, so that the sums do not depend on the order of the cases.
      std::vector<double>& v = values[r][m];
      std::sort(v.begin(), v.end());
      const std::size_t n = v.size();
      double sum = 0.0;
      for (double x : v) sum += x;
      const double mean = n == 0 ? kNan : sum / static_cast<double>(n);
      double squares = 0.0;
      for (double x : v) squares += (x - mean) * (x - mean);
      const double statistics[kSummaryNames.size()] = {
          mean,
          n < 2 ? kNan : std::sqrt(squares / static_cast<double>(n - 1)),
          Quantile(v, 0.5),
          Quantile(v, 0.25),
          Quantile(v, 0.75),
          n == 0 ? kNan : v.front(),
          n == 0 ? kNan : v.back(),
      };
      for (std::size_t s = 0; s < kSummaryNames.size(); ++s)
        summary[s * kRegionCount + static_cast<std::size_t>(r)].values[m] = statistics[s];
    }
  return summary;
}

}  // namespace evaluation
