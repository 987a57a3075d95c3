// The robot user's cost on the correction benchmark case: per round, the time
// to find and paint its stroke and to measure the result, beside the
// correction itself and the case's own bookkeeping (the stroke kept for undo,
// the run's copies), and the whole of 10 rounds in each mode.
//
//   simulation-bench [--threads N] [CASE_DIR]
//
// Without CASE_DIR the case is written into a temporary folder first
// (corvane-phantom --size 512x512x32 --references 40 --strokes 6 --seed 1).
// The rounds do not stop at a target Dice, so that every round is timed.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "PhantomTool.h"
#include "evaluation/Cohort.h"
#include "simulation/Rounds.h"

namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 0;
  std::string caseDir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else if (caseDir.empty() && a.rfind("--", 0) != 0) {
      caseDir = a;
    } else {
      std::fprintf(stderr, "usage: simulation-bench [--threads N] [CASE_DIR]\n");
      return 1;
    }
  }
  fs::path scratch;
  if (caseDir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "corvane-simulation-bench-XXXXXX").string();
    scratch = mkdtemp(pattern.data());
    caseDir = scratch.string();
    std::ostringstream out, err;
    const int status = phantom::RunPhantomTool(
        {"--out", caseDir, "--size", "512x512x32", "--references", "40", "--strokes", "6", "--seed", "1"},
        out, err);
    if (status != 0) {
      std::fprintf(stderr, "simulation-bench: %s", err.str().c_str());
      return 1;
    }
  }
  volume::ReuseVolumeMemory();
  std::unique_ptr<CVoxel> truth, segmentation;
  std::string error;
  if (!evaluation::LoadLabelVolume("truth", caseDir + "/truth.mhd", truth, error) ||
      !evaluation::LoadLabelVolume("segmentation", caseDir + "/segmentation.mhd", segmentation, error)) {
    std::fprintf(stderr, "simulation-bench: %s\n", error.c_str());
    return 1;
  }
  simulation::SimulationSettings settings;
  settings.rounds = 10;
  settings.target = 1.0;
  settings.threads = threads;
  std::printf("case %s (%dx%dx%d), 10 rounds per mode, %s threads\n", caseDir.c_str(), truth->X, truth->Y,
              truth->Z, threads > 0 ? std::to_string(threads).c_str() : "all");
  double total = 0.0;
  for (const simulation::ModeInfo& mode : simulation::kModes) {
    std::vector<simulation::RoundRow> rows;
    simulation::CaseReport report;
    const auto start = std::chrono::steady_clock::now();
    const bool done =
        simulation::SimulateCase({"bench", truth.get(), segmentation.get(), caseDir + "/references"}, mode,
                                 settings, rows, error, &report);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!done) {
      std::fprintf(stderr, "simulation-bench: %s\n", error.c_str());
      return 1;
    }
    total += seconds;
    std::printf("\n%s: %zu rounds after round 0, %.2f s in all\n", mode.name, rows.size() - 1, seconds);
    std::printf("  round  robot ms  measure ms  robot+measure ms  correction ms  case ms  dice\n");
    std::vector<double> robotPlusMeasure;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const simulation::RoundCost& c = report.costs[r];
      std::printf("  %5zu  %8.1f  %10.1f  %16.1f  %13.1f  %7.1f  %.4f\n", r, c.robot * 1e3, c.measure * 1e3,
                  (c.robot + c.measure) * 1e3, c.correction * 1e3, c.session * 1e3,
                  rows[r].values[simulation::kDice]);
      if (r > 0) robotPlusMeasure.push_back((c.robot + c.measure) * 1e3);
    }
    std::printf(
        "  robot+measure per round: median %.1f ms, max %.1f ms\n", Median(robotPlusMeasure),
        robotPlusMeasure.empty() ? 0.0 : *std::max_element(robotPlusMeasure.begin(), robotPlusMeasure.end()));
  }
  std::printf("\nboth modes, 10 rounds each: %.2f s\n", total);
  if (!scratch.empty()) fs::remove_all(scratch);
  return 0;
}
