// corvane-evaluate: overlap, volume and surface-distance measures of
// segmentations against a ground truth, for one case or a cohort (see --help).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ToolSteps.h"
#include "evaluation/Cohort.h"
#include "evaluation/Metrics.h"
#include "evaluation/ResultFiles.h"

namespace {

constexpr const char* kName = "corvane-evaluate";
constexpr int kBadArguments = cli::kUsage;
constexpr int kBadInput = cli::kInput;
constexpr int kMaximumThreads = 1024;

const char kHelp[] =
    "usage: corvane-evaluate --truth GT --segmentation SEG [--segmentation SEG2 ...] [--csv FILE]\n"
    "                        [--json FILE] [--label N] [--threads N]\n"
    "       corvane-evaluate --manifest CASES.csv [--csv FILE] [--json FILE] [--label N] [--threads N]\n"
    "                        [--shard I/N]\n"
    "       corvane-evaluate --summarize MERGED.csv [--csv FILE] [--json FILE]\n"
    "\n"
    "Measures each segmentation against the truth for the whole volume and for the apex, mid and\n"
    "base, prints a table per segmentation and writes the same numbers to --csv and --json.\n"
    "\n"
    "Inputs: any volume Corvane reads. A voxel is foreground when its value is non-zero, or equals N\n"
    "with --label N. Truth and segmentation must agree in size, spacing (1e-4 relative), origin\n"
    "(1e-3 mm) and direction (1e-4), or hold the same voxel centres in another axis order or\n"
    "direction: such a truth is reordered by position onto the segmentation's grid (one line on\n"
    "stderr says so).\n"
    "\n"
    "CSV columns: segmentation,region,dice,jaccard,truth_ml,segmentation_ml,rvd_percent,abd_mm,\n"
    "hd95_mm,hd_mm,surface_dice_1mm,surface_dice_2mm (segmentation: the path as given; region:\n"
    "whole, apex, mid or base). Numbers have 9 significant digits; nan and inf are spelled out.\n"
    "JSON: an array of objects with the same keys, nan and inf as the strings \"nan\" and \"inf\".\n"
    "\n"
    "Definitions:\n"
    "  Boundary voxels of a mask: foreground voxels with at least one of their 6 face neighbours\n"
    "    background or outside the volume.\n"
    "  Directed distance of a boundary voxel: Euclidean distance in mm between voxel centres (with\n"
    "    the volume's spacing) to the nearest boundary voxel of the other mask, always the whole\n"
    "    other boundary; computed exactly (Euclidean distance transform with anisotropic spacing).\n"
    "  Pooled distances: the directed distances of both boundaries together. abd_mm = their mean;\n"
    "    hd_mm = their maximum; hd95_mm = nearest-rank 95th percentile (sorted ascending, element\n"
    "    ceil(0.95 n), counted from 1); surface_dice_Tmm = share of pooled distances <= T mm.\n"
    "  dice = 2|A and B| / (|A| + |B|); jaccard = |A and B| / |A or B|; both 1 when both masks are\n"
    "    empty. Volumes in mL = voxel count x spacing product / 1000. rvd_percent =\n"
    "    100 (V_seg - V_truth) / V_truth, nan when the truth is empty.\n"
    "  Regions: the truth's occupied slices along the volume's z axis, ordered by their superior (S)\n"
    "    coordinate (slices at the same height, as in a sagittal stack, keep their index order);\n"
    "    slice i (from 0) of n is apex when 3i < n, base when 3i >= 2n, mid otherwise.\n"
    "    Slices below the truth count as apex, above it as base; an empty slice between occupied\n"
    "    ones belongs to the region of the occupied slice below it. Overlap measures use the voxels\n"
    "    on a region's slices, distance measures the boundary voxels on a region's slices. whole is\n"
    "    the whole volume. With an empty truth every apex, mid and base value is nan.\n"
    "  Empty boundaries: one mask empty and the other not: distances inf, surface Dice 0; both empty\n"
    "    (in the region): distances 0, surface Dice 1.\n"
    "\n"
    "Manifest: a CSV file with a header and the columns truth,segmentation and optionally case (any\n"
    "order); relative paths are relative to the manifest's folder. Output columns: case followed by\n"
    "the columns above, one row per case and region (case: the manifest's case, else the case's row\n"
    "number from 1), then summary rows with case = mean, sd, median, q1, q3, min, max and an empty\n"
    "segmentation, for every region, over the cases' values as written (nan values left out):\n"
    "  mean = sum / n; sd = sample standard deviation (divisor n - 1; nan below 2 values);\n"
    "  median, q1, q3 = linear interpolation between the ascending values at position p (n - 1),\n"
    "  p = 0.5, 0.25, 0.75; min, max.\n"
    "--threads N: cases evaluated at once (default: every core). --shard I/N: only the cases at\n"
    "positions p (from 0) with p % N == I - 1, so N jobs cover the cohort; their CSV files joined\n"
    "(header once) give the case rows of one run, and --summarize MERGED.csv recomputes the summary\n"
    "rows over the case rows of a joined file (its own summary rows are ignored).\n"
    "\n"
    "--csv - and --json - write to standard output (the table is then not printed). Options take\n"
    "their value as --opt VALUE or --opt=VALUE; -q silences notices.\n"
    "\n"
    "A failure prints one line on stderr starting with 'corvane-evaluate: ' and writes nothing;\n"
    "status 2 covers an input that cannot be read, a geometry that differs and a malformed manifest.\n"
    "In a manifest, a case that cannot be read or compared gets one line on stderr ('case NAME: ...'\n"
    "with its file) and is left out; the other cases are measured and written, the summary covers\n"
    "them, and the exit status is 4. When no case can be read the status is 2 and nothing is written.\n"
    "A shard beyond the number of cases is refused (status 1).\n";

const cli::Program kProgram{kName, kHelp, false, true};

// The options; a new one is a new row here and a line in ParseArguments.
const std::vector<cli::Option> kOptions{{"--truth"},    {"--segmentation", true, true},
                                        {"--manifest"}, {"--summarize"},
                                        {"--csv"},      {"--json"},
                                        {"--label"},    {"--threads"},
                                        {"--shard"}};

struct Options {
  std::string truth, manifest, summarize, csv, json, shard;
  std::vector<std::string> segmentations;
  evaluation::Foreground foreground;
  int threads = 0;
};

using cli::Fail;
using cli::Failure;

bool ParseArguments(const cli::Arguments& a, Options& o, Failure& failure) {
  o.segmentations = a.Values("--segmentation");
  a.CopyValues({{"--truth", &o.truth},
                {"--manifest", &o.manifest},
                {"--summarize", &o.summarize},
                {"--csv", &o.csv},
                {"--json", &o.json},
                {"--shard", &o.shard}});
  const bool single = a.Has("--truth"), manifest = a.Has("--manifest"), summarize = a.Has("--summarize");
  if (single + manifest + summarize != 1)
    return Fail(failure, kBadArguments,
                "give exactly one of --truth, --manifest and --summarize (see --help)");
  if (single && o.segmentations.empty())
    return Fail(failure, kBadArguments, "missing --segmentation (see --help)");
  if (!single && !o.segmentations.empty())
    return Fail(failure, kBadArguments, "--segmentation goes with --truth");
  if (a.Has("--shard") && !manifest) return Fail(failure, kBadArguments, "--shard goes with --manifest");
  if (summarize && (a.Has("--label") || a.Has("--threads")))
    return Fail(failure, kBadArguments, "--summarize takes only --csv and --json");
  if (!o.csv.empty() && o.csv == o.json)
    return Fail(failure, kBadArguments, "--csv and --json name the same file");
  long label = 0, threads = 0;
  if (!cli::NumberOption(a, "--label", -32768, 32767, label, failure) ||
      !cli::NumberOption(a, "--threads", 1, kMaximumThreads, threads, failure))
    return false;
  if (a.Has("--label")) o.foreground = {true, static_cast<int>(label)};
  o.threads = static_cast<int>(threads);
  return true;
}

// Measures the cases of a manifest. A case that cannot be read is told and
// left out; the others are measured and written, with status kSomeFailed.
bool EvaluateCohort(const Options& o, std::vector<evaluation::ResultRow>& rows,
                    std::vector<std::string>& notices, int& status, Failure& failure) {
  std::vector<evaluation::CohortCase> cases;
  if (!cli::ManifestCases(o.manifest, o.shard, cases, failure)) return false;
  std::vector<evaluation::CaseMetrics> metrics;
  std::vector<std::string> errors;
  {
    // A batch of cases at a time, so that the progress line can count them;
    // each case is measured on its own, so the batches change no result.
    cli::Progress progress(kName, "cases", static_cast<long>(cases.size()));
    const std::size_t batch = std::max<std::size_t>(16, cases.size() / 50);
    for (std::size_t first = 0; first < cases.size(); first += batch) {
      const auto begin = cases.begin() + static_cast<std::ptrdiff_t>(first);
      const std::vector<evaluation::CohortCase> some(
          begin, begin + static_cast<std::ptrdiff_t>(std::min(batch, cases.size() - first)));
      std::vector<evaluation::CaseMetrics> someMetrics;
      std::vector<std::string> someErrors;
      evaluation::EvaluateEachCase(some, o.foreground, o.threads, someMetrics, someErrors, &notices);
      metrics.insert(metrics.end(), someMetrics.begin(), someMetrics.end());
      errors.insert(errors.end(), someErrors.begin(), someErrors.end());
      progress.Update(static_cast<long>(metrics.size()));
    }
  }
  std::size_t failed = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (errors[i].empty()) {
      evaluation::AppendCaseRows(cases[i].name, cases[i].segmentation, metrics[i], rows);
    } else {
      ++failed;
      if (failed < cases.size()) cli::Error(kName, "case " + cases[i].name + ": " + errors[i]);
    }
  }
  if (failed == cases.size())
    return Fail(failure, kBadInput,
                cases.size() == 1
                    ? "case " + cases[0].name + ": " + errors[0]
                    : "no case could be read (case " + cases.back().name + ": " + errors.back() + ")");
  if (failed > 0) status = cli::kSomeFailed;
  return true;
}

bool Run(const Options& o, Failure& failure, int& status) {
  std::vector<evaluation::ResultRow> rows;
  std::vector<std::string> notices;  // what the reading said: one line each on stderr once all is done
  std::string error;
  bool withCase = true;
  if (!o.truth.empty()) {
    withCase = false;
    std::vector<evaluation::CohortCase> cases;
    for (const std::string& s : o.segmentations) cases.push_back({"", s, o.truth, s, ""});
    std::vector<evaluation::CaseMetrics> metrics;
    if (!evaluation::EvaluateCases(cases, o.foreground, o.threads, metrics, error, &notices))
      return Fail(failure, kBadInput, error);
    for (std::size_t i = 0; i < cases.size(); ++i)
      evaluation::AppendCaseRows("", cases[i].segmentation, metrics[i], rows);
  } else if (!o.manifest.empty()) {
    if (!EvaluateCohort(o, rows, notices, status, failure)) return false;
    const std::vector<evaluation::ResultRow> summary = evaluation::SummaryRows(rows);
    rows.insert(rows.end(), summary.begin(), summary.end());
  } else {
    std::string text;
    std::vector<evaluation::ResultRow> read;
    if (!evaluation::ReadTextFile(o.summarize, text, error))
      return Fail(failure, kBadInput, "cannot read '" + o.summarize + "': " + error);
    if (!evaluation::ParseResultCsv(text, read, error))
      return Fail(failure, kBadInput, "'" + o.summarize + "': " + error);
    for (const evaluation::ResultRow& row : read)
      if (!row.IsSummary()) rows.push_back(row);
    const std::vector<evaluation::ResultRow> summary = evaluation::SummaryRows(rows);
    rows.insert(rows.end(), summary.begin(), summary.end());
  }
  cli::TextOutputs outputs;
  if (!outputs.Add(o.csv, evaluation::CsvText(rows, withCase), failure) ||
      !outputs.Add(o.json, evaluation::JsonText(rows, withCase), failure))
    return false;
  if (!outputs.Commit(failure)) return false;
  for (const std::string& notice : notices) cli::Notice(kName, notice);
  // Standard output carries either the file that "-" names or the table.
  outputs.PrintStdout();
  if (!outputs.UsesStdout()) cli::PrintOut(evaluation::TableText(rows, withCase));
  return true;
}

// The outputs are checked before any input is read.
bool ParseCheckAndRun(const cli::Arguments& arguments, int& status, Failure& failure) {
  Options options;
  return ParseArguments(arguments, options, failure) &&
         cli::CheckOutputs({options.csv, options.json}, true, failure) && Run(options, failure, status);
}

}  // namespace

int main(int argc, char** argv) { return cli::Main(kProgram, argc, argv, kOptions, ParseCheckAndRun); }
