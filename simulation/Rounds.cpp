#include "simulation/Rounds.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "evaluation/Metrics.h"
#include "geometry/LabelGeometry.h"
#include "simulation/Robot.h"
#include "volume/Writers.h"

namespace simulation {

namespace fs = std::filesystem;

namespace {

// Keeps the messages of the case (the correction may report from its worker
// threads); the log lines of the runs are not needed.
class CaseSinks final : public volume::MessageSink, public volume::LogSink {
 public:
  void ShowMessage(const std::string& text) override {
    const std::lock_guard lock(m_mutex);
    m_messages.push_back(text);
  }
  void AppendLine(const std::string&) override {}
  std::size_t Count() {
    const std::lock_guard lock(m_mutex);
    return m_messages.size();
  }
  std::string Since(std::size_t first) {
    const std::lock_guard lock(m_mutex);
    std::string text;
    for (std::size_t i = first; i < m_messages.size(); ++i)
      text += (text.empty() ? "" : "; ") + m_messages[i];
    for (char& c : text)
      if (c == '\n' || c == '\r') c = ' ';
    return text;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_messages;
};

ColumnValues Measure(const CVoxel& truth, const CVoxel& segmentation) {
  const evaluation::CaseMetrics m = evaluation::Evaluate(truth, segmentation);
  ColumnValues v{};
  v[kDice] = m[evaluation::kWhole][evaluation::kDice];
  v[kJaccard] = m[evaluation::kWhole][evaluation::kJaccard];
  v[kHd95Mm] = m[evaluation::kWhole][evaluation::kHd95Mm];
  v[kAbdMm] = m[evaluation::kWhole][evaluation::kAbdMm];
  v[kSurfaceDice2mm] = m[evaluation::kWhole][evaluation::kSurfaceDice2mm];
  v[kApexDice] = m[evaluation::kApex][evaluation::kDice];
  v[kMidDice] = m[evaluation::kMid][evaluation::kDice];
  v[kBaseDice] = m[evaluation::kBase][evaluation::kDice];
  return v;
}

std::string RoundName(int round) {
  char text[32];
  std::snprintf(text, sizeof text, "round-%02d", round);
  return text;
}

bool SaveRound(const fs::path& folder, int round, const CVoxel& segmentation, const CVoxel* strokes,
               std::string& error) {
  std::error_code why;
  fs::create_directories(folder, why);
  if (why) {
    error = "cannot create '" + folder.string() + "': " + why.message();
    return false;
  }
  const std::string stem = (folder / RoundName(round)).string();
  std::string reason;
  if (!volume::SaveVolumeAs(segmentation, stem + "-segmentation.mhd", volume::ElementStorage::UnsignedByte,
                            nullptr, &reason) ||
      (strokes && !volume::SaveVolumeAs(*strokes, stem + "-strokes.mhd", volume::ElementStorage::UnsignedByte,
                                        nullptr, &reason))) {
    error = reason.empty() ? "cannot write the rounds into '" + folder.string() + "'" : reason;
    return false;
  }
  return true;
}

// The reference directory as the case's scan reads it, without moving the
// process into it (cases may run beside each other).
std::optional<std::string> ResolveDirectory(const std::string& directory) {
  std::error_code why;
  if (directory.empty() || !fs::is_directory(directory, why)) return std::nullopt;
  const fs::path absolute = fs::absolute(directory, why);
  if (why) return std::nullopt;
  return absolute.string();
}

}  // namespace

bool ParseModes(const std::string& text, std::vector<ModeInfo>& modes, std::string& error) {
  modes.clear();
  if (text == "both") {
    modes = {kModes[0], kModes[1]};
    return true;
  }
  for (const ModeInfo& mode : kModes)
    if (text == mode.name) {
      modes.push_back(mode);
      return true;
    }
  std::string names;
  for (const ModeInfo& mode : kModes) names += std::string(mode.name) + ", ";
  error = "--mode must be one of " + names + "or both, not '" + text + "'";
  return false;
}

bool NeedsReferences(const ModeInfo& mode) { return mode.mode != session::CorrectionMode::kManual; }

std::string SafeFolderName(const std::string& caseName) {
  std::string name = caseName.empty() ? "_" : caseName;
  for (char& c : name) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    if (!safe) c = '_';
  }
  if (name == "." || name == "..") name = "_";
  return name;
}

bool SimulateCase(const SimulationCase& c, const ModeInfo& mode, const SimulationSettings& settings,
                  std::vector<RoundRow>& rows, std::string& error, CaseReport* report) {
  const std::string where = "case '" + c.name + "', " + mode.name;
  if (!c.truth || !c.segmentation || !c.truth->HasData() || !c.segmentation->HasData()) {
    error = where + ": the truth or the segmentation holds no voxels";
    return false;
  }
  if (const std::string mismatch = evaluation::GeometryMismatch(*c.truth, *c.segmentation);
      !mismatch.empty()) {
    error = where + ": " + mismatch;
    return false;
  }
  if (NeedsReferences(mode) && !geometry::HasForeground(*c.segmentation)) {
    error = where + ": the segmentation is empty: there is nothing to correct";
    return false;
  }
  CaseSinks sinks;
  session::CaseSession session(sinks, sinks, c.referenceDir);
  // The case model needs an image of the segmentation's size to paint on; its
  // voxels take no part in either correction.
  auto image = std::make_unique<CVoxel>(c.segmentation->X, c.segmentation->Y, c.segmentation->Z, true);
  image->CopyGeometry(*c.segmentation);
  session.AdoptImage(std::move(image), "");
  session.AdoptSegmentation(c.segmentation->Clone(), c.name);
  session.SetCorrectionMode(mode.mode);
  session.SetBrushSize(settings.brushRadius);
  session.SetBrush3D(settings.brush3D);
  session.ChooseReferenceDir(c.referenceDir);

  const fs::path saveFolder = settings.saveRoundsDir.empty()
                                  ? fs::path()
                                  : fs::path(settings.saveRoundsDir) / SafeFolderName(c.name) / mode.name;
  Robot robot(*c.truth, static_cast<float>(settings.brushRadius), settings.brush3D);
  using Clock = std::chrono::steady_clock;
  const auto since = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  int strokes = 0;
  RoundCost cost;
  for (int round = 0;; ++round) {
    const auto measureStart = Clock::now();
    RoundRow row{c.name, mode.name, round, Measure(*c.truth, *session.Segmentation())};
    cost.measure = since(measureStart);
    if (report) report->costs.push_back(cost);
    const double seconds = cost.correction;
    cost = {};
    row.values[kStrokes] = strokes;
    row.values[kScribbledVoxels] = static_cast<double>(session.AccumulatedMap()->CountNonZero());
    row.values[kSeconds] = seconds;
    rows.push_back(row);
    if (!saveFolder.empty() &&
        !SaveRound(saveFolder, round, *session.Segmentation(), session.AccumulatedMap(), error)) {
      error = where + ": " + error;
      return false;
    }
    if (round >= settings.rounds || row.values[kDice] >= settings.target) return true;

    // Marking on, as the user ticks it before painting; the first time in a
    // mode with references it scans the reference directory.
    session.SetMarkingFlag(true);
    const std::size_t before = sinks.Count();
    if (session.ApplyMarking(ResolveDirectory) == session::MarkingOutcome::kOff) {
      error = where + ": no reference label (a file whose name contains \"mhd\" and \"label\") in '" +
              c.referenceDir + "'";
      return false;
    }
    const auto robotStart = Clock::now();
    const std::optional<RobotStroke> stroke =
        robot.NextStroke(*session.Segmentation(), *session.AccumulatedMap());
    cost.robot = since(robotStart);
    if (!stroke) return true;
    // The case keeps the stroke as one edit (for undo) and copies its volumes
    // for the run, as for a stroke of the mouse: its own time, not the robot's.
    auto sessionStart = Clock::now();
    session.BeginStroke();
    cost.session = since(sessionStart);
    const auto paintStart = Clock::now();
    robot.Paint(*stroke, *session.StrokeMap());
    cost.robot += since(paintStart);
    sessionStart = Clock::now();
    session.EndStroke();
    std::unique_ptr<session::CorrectionJob> job = session.StartCorrection();
    cost.session += since(sessionStart);
    if (!job) {
      error = where + ", round " + std::to_string(round + 1) + ": " + sinks.Since(before);
      return false;
    }
    job->parameters.threads = settings.threads;
    const auto correctionStart = Clock::now();
    const bool ran = job->Run(sinks, sinks);
    cost.correction = since(correctionStart);
    // A refused or failed run leaves the segmentation as it was and says so;
    // the round measures what the case then holds, as the window would show it.
    if (sinks.Count() != before && report)
      report->warnings.push_back(where + ", round " + std::to_string(round + 1) + ": " +
                                 (ran ? "" : "the correction was refused: ") + sinks.Since(before));
    sessionStart = Clock::now();
    session.FinishCorrection(std::move(job));
    cost.session += since(sessionStart);
    ++strokes;
  }
}

bool SimulateCases(const std::vector<evaluation::CohortCase>& cases, const std::string& defaultReferenceDir,
                   const std::vector<ModeInfo>& modes, const SimulationSettings& settings,
                   std::vector<RoundRow>& rows, std::string& error, CaseReport* report) {
  for (const evaluation::CohortCase& c : cases) {
    std::unique_ptr<CVoxel> truth, segmentation;
    if (!evaluation::LoadLabelVolume("truth", c.truthPath, truth, error) ||
        !evaluation::LoadLabelVolume("segmentation", c.segmentationPath, segmentation, error))
      return false;
    const SimulationCase input{c.name, truth.get(), segmentation.get(),
                               c.referencesPath.empty() ? defaultReferenceDir : c.referencesPath};
    for (const ModeInfo& mode : modes)
      if (!SimulateCase(input, mode, settings, rows, error, report)) return false;
  }
  return true;
}

}  // namespace simulation
