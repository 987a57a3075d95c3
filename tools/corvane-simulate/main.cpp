// corvane-simulate: a robot user corrects a case (or a cohort) stroke by
// stroke through the same case model the window runs, and records how the
// quality grows with the strokes, per correction mode (see --help).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "CurvePlot.h"
#include "ToolSteps.h"
#include "evaluation/Cohort.h"
#include "evaluation/ResultFiles.h"
#include "simulation/Curves.h"
#include "simulation/Rounds.h"

namespace {

constexpr const char* kName = "corvane-simulate";
constexpr int kBadArguments = cli::kUsage;
constexpr int kBadInput = cli::kInput;
constexpr int kCannotWrite = cli::kOutput;
constexpr long kMaximumThreads = 1024;
constexpr long kMaximumRounds = 10000;
constexpr long kMaximumBrush = 100;

const char kHelp[] =
    "usage: corvane-simulate --truth GT --segmentation SEG --references DIR [--rounds N]\n"
    "                        [--mode semi|semi-mm|manual|both] [--brush R] [--3d] [--target DICE] [--csv "
    "FILE]\n"
    "                        [--plot FILE.png|FILE.svg] [--save-rounds DIR] [--threads N]\n"
    "       corvane-simulate --manifest CASES.csv [--references DIR] [--shard I/N] [...same options]\n"
    "       corvane-simulate --summarize MERGED.csv [--target DICE] [--csv FILE] [--plot FILE]\n"
    "\n"
    "A robot user corrects the segmentation stroke by stroke in each mode (both: semi, then manual),\n"
    "through the case model the window runs: each round it paints one stroke into the stroke map with\n"
    "the window's brush and runs the correction, then the result is measured against the truth with\n"
    "corvane-evaluate's measures.\n"
    "\n"
    "The robot (deterministic): the error of the segmentation is its missed voxels (truth, not\n"
    "segmentation) and its extra voxels (segmentation, not truth), each split into 3-D connected\n"
    "pieces over face neighbours. It picks the largest piece that still holds an error voxel it has\n"
    "not scribbled (ties: missed before extra, then the lowest first voxel index); a piece left wrong\n"
    "under its scribbles is not drawn again. Its deepest unscribbled voxel is the one farthest, in mm,\n"
    "from the nearest voxel outside the piece (the volume's edge is no border; ties: lowest index).\n"
    "On the axial slice through it, the stroke runs along the middle of the piece's cross-section\n"
    "there (the part 4-connected to that voxel): the brush is set down on every voxel whose in-slice\n"
    "distance to the outside of the cross-section is at least that of its 8 neighbours, and on the\n"
    "deepest voxel. Brush: a disc of radius R (--brush, default 2, the window's), or the window's\n"
    "ball with --3d. The stroke is clipped to the truth: foreground (2) only inside it for missed\n"
    "voxels, background (3) only outside it for extra voxels. Strokes accumulate in the stroke map.\n"
    "A case stops when its Dice reaches --target (default 0.95), when every error voxel is\n"
    "scribbled, or after --rounds strokes (default 10).\n"
    "\n"
    "CSV columns: case,mode,round,strokes,scribbled_voxels,dice,jaccard,hd95_mm,abd_mm,\n"
    "surface_dice_2mm,apex_dice,mid_dice,base_dice,seconds: one row per case, mode and round\n"
    "(round 0: the segmentation as given; case: the segmentation's path, or the manifest's case);\n"
    "the measures are corvane-evaluate's (whole gland, and the Dice of apex, mid and base), seconds\n"
    "the time the round's correction took. Then summary rows per mode: case = mean, q1, median, q3\n"
    "for every round (a case that stopped keeps its last values), over the cases (nan left out;\n"
    "quartiles interpolated as corvane-evaluate's); round = to_target: strokes needed to reach the\n"
    "target (inf when never) in the strokes column; round = auc: the area under the Dice-against-\n"
    "strokes curve divided by the strokes of the mode's longest case, in the dice column.\n"
    "--plot draws Dice against strokes (median line and quartile band per mode) as PNG or SVG.\n"
    "--save-rounds DIR keeps DIR/<case>/<mode>/round-NN-segmentation.mhd and round-NN-strokes.mhd.\n"
    "--threads N: the correction's threads (default every core); the numbers never depend on it.\n"
    "--csv - writes the CSV file to standard output (the summary table is then not printed).\n"
    "\n"
    "Manifest: corvane-evaluate's (columns case, truth, segmentation; optionally references, a\n"
    "folder per case, else --references). --shard I/N takes the cases at positions p (from 0) with\n"
    "p % N == I - 1; the shards' CSV files joined (header once) and given to --summarize give the\n"
    "summary rows of one run; a shard beyond the number of cases is refused (status 1).\n";

const cli::Program kProgram{kName, kHelp, false, false};

// The options; a new one is a new row here and a line in ParseArguments.
const std::vector<cli::Option> kOptions{{"--truth"},    {"--segmentation"}, {"--references"},  {"--rounds"},
                                        {"--mode"},     {"--brush"},        {"--3d", false},   {"--target"},
                                        {"--csv"},      {"--plot"},         {"--save-rounds"}, {"--threads"},
                                        {"--manifest"}, {"--shard"},        {"--summarize"}};

struct Options {
  std::string truth, segmentation, references, manifest, summarize, shard, csv, plot, saveRounds;
  std::string modeText = "semi";
  std::vector<simulation::ModeInfo> modes;
  simulation::SimulationSettings settings;
};

using cli::Fail;
using cli::Failure;

bool ParseArguments(const cli::Arguments& a, Options& o, Failure& failure) {
  std::map<std::string, std::string> values;
  for (const cli::Option& option : kOptions)
    if (option.takesValue && a.Has(option.name)) values[option.name] = a.Value(option.name);
  const auto value = [&](const char* name) { return values.count(name) ? values[name] : std::string(); };
  o.truth = value("--truth");
  o.segmentation = value("--segmentation");
  o.references = value("--references");
  o.manifest = value("--manifest");
  o.summarize = value("--summarize");
  o.shard = value("--shard");
  o.csv = value("--csv");
  o.plot = value("--plot");
  o.settings.saveRoundsDir = value("--save-rounds");
  o.settings.brush3D = a.Has("--3d");
  const int sources = !o.truth.empty() || !o.segmentation.empty() ? 1 : 0;
  if (sources + !o.manifest.empty() + !o.summarize.empty() != 1)
    return Fail(failure, kBadArguments,
                "give --truth and --segmentation, or --manifest, or --summarize (see --help)");
  if (sources && (o.truth.empty() || o.segmentation.empty()))
    return Fail(failure, kBadArguments, "--truth and --segmentation go together");
  if (!o.shard.empty() && o.manifest.empty()) return Fail(failure, kBadArguments, "--shard needs --manifest");
  if (!o.summarize.empty())
    for (const char* name : {"--references", "--rounds", "--mode", "--brush", "--save-rounds", "--threads"})
      if (values.count(name))
        return Fail(failure, kBadArguments, std::string(name) + " does not go with --summarize");
  long rounds = o.settings.rounds, brush = o.settings.brushRadius, threads = o.settings.threads;
  if (!cli::NumberOption(a, "--rounds", 0, kMaximumRounds, rounds, failure) ||
      !cli::NumberOption(a, "--brush", 1, kMaximumBrush, brush, failure) ||
      !cli::NumberOption(a, "--threads", 1, kMaximumThreads, threads, failure))
    return false;
  o.settings.rounds = static_cast<int>(rounds);
  o.settings.brushRadius = static_cast<int>(brush);
  o.settings.threads = static_cast<int>(threads);
  if (values.count("--target")) {
    const std::string& text = values["--target"];
    char* end = nullptr;
    o.settings.target = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(o.settings.target >= 0.0 && o.settings.target <= 1.0))
      return Fail(failure, kBadArguments, "--target must be a Dice from 0 to 1, not '" + text + "'");
  }
  std::string error;
  if (values.count("--mode")) o.modeText = values["--mode"];
  if (!simulation::ParseModes(o.modeText, o.modes, error)) return Fail(failure, kBadArguments, error);
  if (o.summarize.empty() && o.manifest.empty() && o.references.empty())
    for (const auto& mode : o.modes)
      if (simulation::NeedsReferences(mode))
        return Fail(failure, kBadArguments,
                    std::string("missing --references (needed by --mode ") + mode.name + ")");
  if (!o.plot.empty() && !plot::PlotFormatSupported(o.plot, error))
    return Fail(failure, kBadArguments, error);
  // Outputs that cannot be written are told before any round is run.
  return cli::CheckOutputs({o.csv}, true, failure) && cli::CheckOutputs({o.plot}, false, failure);
}

// The CSV file is put in place once the plot is written, so that a failed run leaves both as they were.
bool WriteOutputs(const Options& o, const std::string& csv,
                  const std::vector<simulation::SummaryRow>& summary, cli::TextOutputs& outputs,
                  Failure& failure) {
  if (!outputs.Add(o.csv, csv, failure)) return false;
  std::string error;
  if (!o.plot.empty() && !plot::WritePlot(o.plot, simulation::DiceCurves(summary), error))
    return Fail(failure, kCannotWrite, error);
  return outputs.Commit(failure);
}

// What a reader of the terminal wants: per mode, the Dice before and after and the strokes to the target.
void PrintSummary(const std::vector<simulation::SummaryRow>& summary, double target) {
  std::printf("%-8s %-9s %-9s %-10s %s\n", "mode", "statistic", "dice r0", "dice last",
              ("strokes to " + evaluation::FormatNumber(target)).c_str());
  std::map<std::string, std::vector<double>> first, last, toTarget;
  std::vector<std::string> order;
  for (const auto& row : summary) {
    const std::string key = row.mode + " " + row.statistic;
    if (std::find(order.begin(), order.end(), key) == order.end()) order.push_back(key);
    if (row.kind == simulation::SummaryKind::kRound) {
      if (row.round == 0) first[key].push_back(row.values[simulation::kDice]);
      last[key] = {row.values[simulation::kDice]};
    } else if (row.kind == simulation::SummaryKind::kStrokesToTarget) {
      toTarget[key] = {row.values[simulation::kStrokes]};
    }
  }
  for (const std::string& key : order) {
    const std::size_t space = key.find(' ');
    std::printf("%-8s %-9s %-9.4f %-10.4f %s\n", key.substr(0, space).c_str(), key.substr(space + 1).c_str(),
                first[key].at(0), last[key].at(0), evaluation::FormatNumber(toTarget[key].at(0)).c_str());
  }
}

bool Run(const Options& o, Failure& failure) {
  std::vector<simulation::RoundRow> rows;
  std::string error;
  if (!o.summarize.empty()) {
    std::string text;
    if (!evaluation::ReadTextFile(o.summarize, text, error))
      return Fail(failure, kBadInput, "cannot read '" + o.summarize + "': " + error);
    if (!simulation::ParseRoundsCsv(text, rows, error))
      return Fail(failure, kBadInput, "'" + o.summarize + "': " + error);
  } else {
    std::vector<evaluation::CohortCase> cases;
    if (!o.truth.empty()) {
      cases.push_back({o.segmentation, o.segmentation, o.truth, o.segmentation, ""});
    } else if (!cli::ManifestCases(o.manifest, o.shard, cases, failure)) {
      return false;
    }
    for (const auto& c : cases)
      if (simulation::IsStatisticName(c.name))
        return Fail(failure, kBadInput, "the case name '" + c.name + "' is kept for the summary rows");
    simulation::CaseReport report;
    bool done = true;
    {
      // Case by case, as SimulateCases takes them, so that the progress line can count them.
      cli::Progress progress(kName, "cases", static_cast<long>(cases.size()));
      for (std::size_t i = 0; i < cases.size() && done; ++i) {
        done = simulation::SimulateCases({cases[i]}, o.references, o.modes, o.settings, rows, error, &report);
        progress.Update(static_cast<long>(i + 1));
      }
    }
    for (const std::string& warning : report.warnings) cli::Notice(kName, "warning: " + warning);
    if (!done) return Fail(failure, kBadInput, error);
  }
  const std::vector<simulation::SummaryRow> summary = simulation::SummaryRows(rows, o.settings.target);
  cli::TextOutputs outputs;
  if (!WriteOutputs(o, simulation::CsvText(rows, summary), summary, outputs, failure)) return false;
  // Standard output carries either the CSV file that "-" names or the summary.
  outputs.PrintStdout();
  if (!outputs.UsesStdout()) PrintSummary(summary, o.settings.target);
  return true;
}

bool ParseAndRun(const cli::Arguments& arguments, int&, Failure& failure) {
  Options options;
  return ParseArguments(arguments, options, failure) && Run(options, failure);
}

}  // namespace

int main(int argc, char** argv) { return cli::Main(kProgram, argc, argv, kOptions, ParseAndRun); }
