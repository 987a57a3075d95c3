// Rounds of the simulated user over a case: each round the robot draws one
// stroke into the case's stroke map, the case runs its correction exactly as
// the window's Segmentation button does, and the result is measured with
// corvane-evaluate's measures.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "evaluation/Cohort.h"
#include "session/CaseSession.h"
#include "volume/Voxel.h"

namespace simulation {

// A correction mode the robot can use, by its command-line name.
struct ModeInfo {
  const char* name;
  session::CorrectionMode mode;
};
// Every mode, in the order runs and summaries list them (a new mode is one
// more line here).
inline constexpr ModeInfo kModes[] = {
    {"semi", session::CorrectionMode::kSemiAutomatic},
    {"manual", session::CorrectionMode::kManual},
    {"semi-mm", session::CorrectionMode::kSemiAutomaticMillimetre},
};
// "semi", "manual", ... (one of kModes), or "both" for semi and manual.
bool ParseModes(const std::string& text, std::vector<ModeInfo>& modes, std::string& error);
// Whether the mode reads reference labels.
bool NeedsReferences(const ModeInfo& mode);

// The numbers of a row of the simulation's CSV, in column order after
// case, mode and round.
enum Column : int {
  kStrokes = 0,
  kScribbledVoxels,
  kDice,
  kJaccard,
  kHd95Mm,
  kAbdMm,
  kSurfaceDice2mm,
  kApexDice,
  kMidDice,
  kBaseDice,
  kSeconds,
};
inline constexpr int kColumnCount = 11;
inline constexpr std::array<const char*, kColumnCount> kColumnNames{
    "strokes",          "scribbled_voxels", "dice",     "jaccard",   "hd95_mm", "abd_mm",
    "surface_dice_2mm", "apex_dice",        "mid_dice", "base_dice", "seconds"};
using ColumnValues = std::array<double, kColumnCount>;

// One round of one case in one mode (round 0: the segmentation as given).
struct RoundRow {
  std::string caseName;
  std::string mode;
  int round = 0;
  ColumnValues values{};
};

struct SimulationSettings {
  int rounds = 10;  // strokes at most
  int brushRadius = session::CaseSession::kDefaultBrushSize;
  bool brush3D = false;
  double target = 0.95;       // the case stops once its Dice reaches it
  int threads = 0;            // the correction's threads (0: every core)
  std::string saveRoundsDir;  // empty: the rounds' volumes are not kept
};

// One case as the robot sees it.
struct SimulationCase {
  std::string name;
  const CVoxel* truth = nullptr;
  const CVoxel* segmentation = nullptr;
  std::string referenceDir;  // read by the modes that need references
};

// What a run tells besides its rows: what the corrections said during the
// rounds (a reference skipped, a run refused), and the wall-clock seconds of
// each round's parts.
struct RoundCost {
  double robot = 0.0;  // finding and painting the stroke
  double session =
      0.0;  // the case's bookkeeping: the stroke kept for undo, the run's copies, its result taken back
  double correction = 0.0;  // the case's correction run
  double measure = 0.0;     // the measures of the result
};
struct CaseReport {
  std::vector<std::string> warnings;
  std::vector<RoundCost> costs;  // one per row, round 0 included
};

// Runs the case in `mode` and appends its rows: round 0, then one row per
// stroke until the target is reached, no error voxel is left unscribbled, or
// the rounds are used up. With saveRoundsDir, each round's segmentation and
// accumulated stroke map are written to
// DIR/<case>/<mode>/round-NN-segmentation.mhd and round-NN-strokes.mhd.
// False with *error when the case cannot be run (sizes or geometry that
// differ, an empty segmentation for a mode with references, no reference, a
// file that cannot be written); *report receives what the corrections said
// and what the rounds cost.
bool SimulateCase(const SimulationCase& c, const ModeInfo& mode, const SimulationSettings& settings,
                  std::vector<RoundRow>& rows, std::string& error, CaseReport* report = nullptr);

// Runs every case from its files, each in every mode (cases in list order,
// modes in the given order), appending their rows. A case without its own
// reference folder uses `defaultReferenceDir`. False with *error on the first
// case that cannot be read or run.
bool SimulateCases(const std::vector<evaluation::CohortCase>& cases, const std::string& defaultReferenceDir,
                   const std::vector<ModeInfo>& modes, const SimulationSettings& settings,
                   std::vector<RoundRow>& rows, std::string& error, CaseReport* report = nullptr);

// The folder name of a case in the saved rounds: its name with every
// character other than letters, digits, '.', '-' and '_' replaced by '_'.
std::string SafeFolderName(const std::string& caseName);

}  // namespace simulation
