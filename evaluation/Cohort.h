// A cohort of cases for corvane-evaluate: the manifest, its shards, the
// evaluation of every case on several threads and the summary statistics.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "evaluation/Metrics.h"
#include "evaluation/ResultFiles.h"

namespace evaluation {

struct CohortCase {
  std::string name;              // the manifest's case column, else the case's row number from 1
  std::string segmentation;      // as the manifest gives it
  std::string truthPath;         // resolved against the manifest's folder
  std::string segmentationPath;  // resolved against the manifest's folder
  std::string referencesPath;    // the optional references column, resolved; empty without it
};

// Reads a manifest: a CSV file with a header holding the columns `truth` and
// `segmentation` and optionally `case` (and `references`, a folder of reference
// labels for corvane-simulate), in any order. Relative paths are taken
// relative to the manifest's folder. False with *error on any fault.
bool ReadManifest(const std::string& manifestPath, std::vector<CohortCase>& cases, std::string& error);

// "I/N" with 1 <= I <= N.
bool ParseShard(const std::string& text, int& index, int& count, std::string& error);
// The positions (from 0) of the cases of shard I of N: every position p with
// p % N == I - 1. The shards of one N cover every case exactly once.
std::vector<std::size_t> ShardPositions(std::size_t caseCount, int index, int count);

// Loads a volume through the load dispatcher; a volume without voxels is a
// failure, told in *error with the path and the reader's first message. The
// reader's messages about a volume it did read (values cut to 16 bits, volumes
// skipped) are appended to *notices when given.
bool LoadLabelVolume(const std::string& what, const std::string& path, std::unique_ptr<CVoxel>& volume,
                     std::string& error, std::vector<std::string>* notices = nullptr);

// Loads both volumes, reorders a truth that holds the segmentation's voxels in
// another axis order or direction onto the segmentation's grid (saying so in
// *notices), refuses differing geometry and evaluates.
bool EvaluateFiles(const std::string& truthPath, const std::string& segmentationPath,
                   const Foreground& foreground, CaseMetrics& metrics, std::string& error,
                   std::vector<std::string>* notices = nullptr);

// Evaluates every case on up to `threads` threads (0: every core); errors[i]
// is empty when case i was measured, else says why it was not (with the path).
void EvaluateEachCase(const std::vector<CohortCase>& cases, const Foreground& foreground, int threads,
                      std::vector<CaseMetrics>& metrics, std::vector<std::string>& errors,
                      std::vector<std::string>* notices = nullptr);

// Evaluates every case on up to `threads` threads (0: every core). On failure
// *error tells the first failing case in list order. The cases' notices are
// appended to *notices in list order.
bool EvaluateCases(const std::vector<CohortCase>& cases, const Foreground& foreground, int threads,
                   std::vector<CaseMetrics>& metrics, std::string& error,
                   std::vector<std::string>* notices = nullptr);

inline constexpr std::array<const char*, 7> kSummaryNames{"mean", "sd", "median", "q1", "q3", "min", "max"};

// Summary rows over the case rows (summary rows among them are ignored): for
// every statistic (kSummaryNames order) and region, the statistic of each
// metric over the cases' values as written to the files, nan values left out.
// mean: sum of the ascending values / n; sd: sample standard deviation
// (n - 1), nan below two values; median, q1, q3: linear interpolation between
// the ascending values at position p (n - 1), p = 0.5, 0.25, 0.75; a
// statistic without any value is nan.
std::vector<ResultRow> SummaryRows(const std::vector<ResultRow>& rows);

// Order statistics of ascending values, as SummaryRows uses them.
double Quantile(const std::vector<double>& ascending, double p);

}  // namespace evaluation
