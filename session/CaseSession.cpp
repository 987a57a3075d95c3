#include "session/CaseSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "correction/MillimetreScale.h"
#include "fusion/Fusion.h"
#include "geometry/BoundaryPoints.h"
#include "session/RecoveryState.h"
#include "volume/DicomSeg.h"
#include "volume/ValueChecks.h"
#include "volume/Writers.h"

using session::CorrectionJob;
using session::CorrectionMode;
using session::EditHistory;
using session::MarkingOutcome;
using session::RetiredVolumes;
using session::SameVolume;
using session::UsesReferences;
using session::VoxelSpan;

namespace {
constexpr const char* kRuleLine = "-----------------------------------------";
constexpr const char* kNoStrokes = "There is no user interaction map.";
constexpr const char* kPressMarking = "Press marking check box first!!";
constexpr const char* kNoSegmentation = "Please load a segmentation first";
constexpr const char* kNoReference = "There is no referece image. Please check [Reference Image Directory]";

bool HasStrokes(const CVoxel* map) { return map && map->CountNonZero() > 0; }
}  // namespace

namespace session {

fusion::CorrectionParameters SemiAutomaticParameters() {
  // The driver's defaults are this set; a run built from anything else is an
  // experiment, not what the window and corvane-correct do.
  return fusion::CorrectionParameters{};
}

fusion::CorrectionParameters ParametersFor(CorrectionMode mode, const CVoxel& segmentation) {
  const fusion::CorrectionParameters fixed = SemiAutomaticParameters();
  return mode == CorrectionMode::kSemiAutomaticMillimetre
             ? correction::MillimetreParameters(fixed, segmentation)
             : fixed;
}

// ---- Correction job (worker thread) ------------------------------------------------------

bool CorrectionJob::Run(volume::LogSink& log, volume::MessageSink& messages) {
  if (UsesReferences(mode)) {
    log.AppendLine("Semi-automatic segmentation correction starts...");
    const bool done = RunSemiAutomaticCorrection(*segmentation, *accumulatedMap, referencePaths, parameters,
                                                 {log, messages}, {loadReference, keptReferences});
    log.AppendLine("Semi-automatic segmentation correction is done...");
    return done;
  }
  log.AppendLine("Manual segmentation correction starts...");
  ApplyScribbles(*segmentation, *accumulatedMap);
  log.AppendLine("Manual segmentation correction is done...");
  return true;
}

// ---- Construction ---------------------------------------------------------------------------

CaseSession::CaseSession(volume::MessageSink& messages, volume::LogSink& log, std::string defaultReferenceDir)
    : m_messages(messages),
      m_log(log),
      m_defaultReferenceDir(std::move(defaultReferenceDir)),
      m_referenceDir(m_defaultReferenceDir),
      m_history({&m_segmentation, &m_strokeMap, &m_accumulatedMap, &m_segmentationBackup, &m_strokeBackup}) {}

CaseSession::~CaseSession() = default;

std::optional<std::string> CaseSession::EnterProcessDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::current_path(directory, error);
  if (error) return std::nullopt;
  auto current = std::filesystem::current_path(error);
  if (error) return std::nullopt;
  return current.string();
}

void CaseSession::Retire(std::unique_ptr<CVoxel>& volume, RetiredVolumes& retired) {
  if (volume) retired.push_back(std::move(volume));
}

// ---- Volumes -----------------------------------------------------------------------------------

std::unique_ptr<CVoxel> CaseSession::LoadVolume(const std::string& path) {
  auto volume = std::make_unique<CVoxel>(path, &m_messages);
  if (!volume->HasData() || volume->X <= 0 || volume->Y <= 0 || volume->Z <= 0) {
    m_messages.ShowMessage("Failed to load [" + path + "]");
    return nullptr;
  }
  return volume;
}

std::unique_ptr<CVoxel> CaseSession::LoadBoundaryVolume(const std::string& path) {
  const auto label = LoadVolume(path);
  if (!label) return nullptr;
  auto boundary = CBoundaryPoints(*label).Rasterise(label->X, label->Y, label->Z);
  // The contour lies where its label lies.
  if (boundary) boundary->CopyGeometry(*label);
  return boundary;
}

bool CaseSession::SaveVolume(const CVoxel& volume, const std::string& chosenPath, std::string& written) {
  bool widened = false;
  if (volume::SaveVolumeAs(volume, chosenPath, volume::ElementStorage::UnsignedByte, &written, nullptr,
                           &widened)) {
    if (widened) Log(volume::WidenedSaveText(written));
    return true;
  }
  m_messages.ShowMessage("Failed to save at : [" + written + "]");
  return false;
}

void CaseSession::WarnIfNotWhereTheImageIs(const CVoxel& volume, const std::string& what) {
  if (m_image && volume.SameSize(*m_image) && !SameGeometry(volume, *m_image))
    m_messages.ShowMessage(volume::GeometryMismatchText(what, "image"));
}

void CaseSession::SuggestMillimetreMode() {
  if (m_millimetreHintShown || !m_image) return;
  m_millimetreHintShown = true;
  double spacing[3];
  correction::ConversionSpacing(*m_image, spacing);
  // 1 x 1 x 1 mm is what readers give a file that states no spacing: no hint on it.
  const bool unstated = spacing[0] == 1.0 && spacing[1] == 1.0 && spacing[2] == 1.0;
  if (unstated || !correction::FarFromDesignResolution(spacing)) return;
  char line[320];
  std::snprintf(line, sizeof line,
                "Voxel size %g x %g x %g mm is far from %g x %g x %g mm, the size Semi-Automatic correction "
                "counts its voxels for; Semi-automatic (millimetres) is meant for such images.",
                spacing[0], spacing[1], spacing[2], correction::kDesignSpacing[0],
                correction::kDesignSpacing[1], correction::kDesignSpacing[2]);
  Log(line);
}

bool CaseSession::ImageIsDicom() const { return m_image && volume::IsDicomImage(m_imagePath); }

RetiredVolumes CaseSession::AdoptImage(std::unique_ptr<CVoxel> image, const std::string& path) {
  RetiredVolumes retired;
  if (RefuseWhileRunning()) return retired;
  if (!image) return retired;
  m_imagePath = path;
  Retire(m_segmentation, retired);
  Retire(m_boundary, retired);
  m_segmentationPath.clear();
  m_boundaryPath.clear();
  m_savedSegmentation.reset();
  ++m_segmentationRevision;
  Retire(m_image, retired);
  m_image = std::move(image);
  // Maps and backups of another size would be addressed with the new image's
  // dimensions: they go.
  for (auto* volume : {&m_strokeMap, &m_accumulatedMap, &m_segmentationBackup, &m_strokeBackup}) {
    if (*volume && !(*volume)->SameSize(*m_image)) Retire(*volume, retired);
  }
  m_history.Clear();
  Log("Load Input... Path : [" + m_imagePath + "]");
  m_millimetreHintShown = false;
  return retired;
}

RetiredVolumes CaseSession::AdoptBoundary(std::unique_ptr<CVoxel> boundary, const std::string& path) {
  RetiredVolumes retired;
  if (RefuseWhileRunning()) return retired;
  if (!boundary) return retired;
  WarnIfNotWhereTheImageIs(*boundary, "boundary");
  Retire(m_boundary, retired);
  m_boundary = std::move(boundary);
  m_boundaryPath = path;
  Log("Load Boundary... Path : [" + path + "]");
  return retired;
}

RetiredVolumes CaseSession::AdoptSegmentation(std::unique_ptr<CVoxel> segmentation, const std::string& path) {
  RetiredVolumes retired;
  if (RefuseWhileRunning()) return retired;
  if (!segmentation) return retired;
  WarnIfNotWhereTheImageIs(*segmentation, "segmentation");
  Retire(m_segmentation, retired);
  Retire(m_accumulatedMap, retired);
  m_segmentation = std::move(segmentation);
  m_segmentationPath = path;
  m_savedSegmentation = m_segmentation->Clone();
  m_savedRevision = ++m_segmentationRevision;
  m_accumulatedMap = std::make_unique<CVoxel>(m_segmentation->X, m_segmentation->Y, m_segmentation->Z, true);
  m_accumulatedMap->CopyGeometry(*m_segmentation);
  Log("Load Segmentation... Path : [" + path + "]");
  if (const std::string problem = volume::SegmentationValuesProblem(*m_segmentation); !problem.empty())
    Log("The segmentation [" + path + "] " + problem);
  m_referencePaths.clear();
  m_history.Clear();
  return retired;
}

bool CaseSession::RequireSegmentation() {
  if (m_segmentation) return true;
  m_messages.ShowMessage(kNoSegmentation);
  return false;
}

bool CaseSession::SaveSegmentation(const std::string& chosenPath) {
  std::string written;
  if (RefuseWhileRunning() || !RequireSegmentation()) return false;
  if (volume::IsDicomSegPath(chosenPath)) {
    // A DICOM Segmentation of the image's series, recording how it was corrected.
    const volume::SegAlgorithm algorithm = m_mode == CorrectionMode::kManual
                                               ? volume::SegAlgorithm::Manual
                                               : volume::SegAlgorithm::SemiAutomatic;
    std::string why;
    if (!volume::SaveLabelAs(*m_segmentation, chosenPath, m_imagePath, algorithm, &written, &why)) {
      m_messages.ShowMessage("Failed to save at : [" + written + "]\n" + why);
      return false;
    }
  } else if (!SaveVolume(*m_segmentation, chosenPath, written)) {
    return false;
  }
  m_segmentationPath = written;
  m_savedSegmentation = m_segmentation->Clone();
  m_savedRevision = m_segmentationRevision;
  Log("Segmentation is saved at : [" + written + "]");
  return true;
}

RetiredVolumes CaseSession::Reset() {
  RetiredVolumes retired;
  if (RefuseWhileRunning()) return retired;
  m_history.Clear();
  Retire(m_segmentation, retired);
  Retire(m_boundary, retired);
  Retire(m_strokeMap, retired);
  Retire(m_accumulatedMap, retired);
  m_segmentationPath.clear();
  m_boundaryPath.clear();
  m_savedSegmentation.reset();
  m_savedStrokes.reset();
  ++m_segmentationRevision;
  m_referencePaths.clear();
  m_scribbleHelpShown = false;
  // The brush returns to its start only when Marking was on.
  if (m_marking) {
    m_marking = false;
    m_brush3D = false;
    m_brushSize = kDefaultBrushSize;
  }
  m_referenceDir = m_defaultReferenceDir;
  return retired;
}

// ---- Reference directory, mode, Marking --------------------------------------------------------

void CaseSession::ChooseReferenceDir(const std::string& directory) {
  m_referencePaths.clear();
  m_referenceDir = directory;
}

bool CaseSession::SetCorrectionMode(CorrectionMode mode) {
  m_mode = mode;
  m_modeChosen = true;
  if (mode == CorrectionMode::kSemiAutomatic) SuggestMillimetreMode();
  CreateStrokeMapIfNone();
  if (!UsesReferences(mode) || !m_marking) return false;
  m_marking = false;
  return true;
}

bool CaseSession::WillScanReferences() const {
  return m_marking && UsesReferences(m_mode) && m_referencePaths.empty();
}

MarkingOutcome CaseSession::ApplyMarking(const EnterDirectory& enter, const std::function<void(bool)>& busy) {
  if (!m_marking) return MarkingOutcome::kOff;
  if (!WillScanReferences()) {
    WriteScribbleHelp();
    CreateStrokeMapIfNone();
    return MarkingOutcome::kOn;
  }
  // First scan in semi-automatic mode: the process moves into the reference
  // directory (and stays there) and collects the reference labels below it.
  // A directory that cannot be entered is not scanned at all.
  if (busy) busy(true);
  if (const auto current = enter ? enter(m_referenceDir) : std::nullopt) {
    FindReferenceLabels(*current, m_referencePaths, "mhd", "label");
  }
  if (busy) busy(false);
  if (m_referencePaths.empty()) {
    m_messages.ShowMessage(kNoReference);
    m_marking = false;
    return MarkingOutcome::kOff;
  }
  Log(kRuleLine);
  Log(std::to_string(m_referencePaths.size()) + " reference images are detected.");
  WriteScribbleHelp();
  CreateStrokeMapIfNone();
  return MarkingOutcome::kOnAfterScan;
}

void CaseSession::WriteScribbleHelp() {
  if (m_scribbleHelpShown) return;
  for (const char* line : {kRuleLine, "Foreground scribble : Left", "Background scribble : ctrl+Left",
                           "Eraser : shift+Left", kRuleLine}) {
    Log(line);
  }
  m_scribbleHelpShown = true;
}

// ---- Stroke map ---------------------------------------------------------------------------------

void CaseSession::CreateFreshStrokeMap(RetiredVolumes& retired) {
  if (!m_image) return;
  Retire(m_strokeMap, retired);
  m_strokeMap = std::make_unique<CVoxel>(m_image->X, m_image->Y, m_image->Z, true);
  // Painted on the image, so saved where the image lies.
  m_strokeMap->CopyGeometry(*m_image);
}

void CaseSession::CreateStrokeMapIfNone() {
  if (m_strokeMap) return;
  RetiredVolumes none;
  CreateFreshStrokeMap(none);
  m_strokeMapUntracked = VoxelSpan::All();
}

bool CaseSession::RequireMarking() {
  if (m_marking) return true;
  m_messages.ShowMessage(kPressMarking);
  return false;
}

bool CaseSession::RequireStrokes() {
  if (HasStrokes(m_strokeMap.get())) return true;
  m_messages.ShowMessage(kNoStrokes);
  return false;
}

RetiredVolumes CaseSession::LoadStrokeMap(std::unique_ptr<CVoxel> map, const std::string& path) {
  RetiredVolumes retired;
  if (RefuseWhileRunning()) return retired;
  if (!map) return retired;
  m_history.Begin(Bit(kStrokeMapSlot));
  if (!m_image || !map->SameSize(*m_image)) {
    m_messages.ShowMessage("The dimension of mask is difference with it of MR image!!");
    // The map in place is given up, as the command always does; a fresh one of
    // the image's size takes its place.
    CreateFreshStrokeMap(retired);
    if (m_history.Commit()) Edited();
    return retired;
  }
  Retire(m_strokeMap, retired);
  m_strokeMap = std::move(map);
  m_savedStrokes = m_strokeMap->Clone();
  if (m_history.Commit()) Edited();
  Log("Load an user interaction map... Path: [" + path + "]");
  if (const std::string problem = volume::ScribbleValuesProblem(*m_strokeMap); !problem.empty())
    Log("The scribble map [" + path + "] " + problem);
  return retired;
}

bool CaseSession::SaveStrokeMap(const std::string& chosenPath) {
  std::string written;
  if (RefuseWhileRunning() || !RequireStrokes() || !SaveVolume(*m_strokeMap, chosenPath, written))
    return false;
  m_savedStrokes = m_strokeMap->Clone();
  Log("User interaction map is saved at : [" + written + "]");
  return true;
}

RetiredVolumes CaseSession::ClearStrokeMap() {
  RetiredVolumes retired;
  if (RefuseWhileRunning() || !RequireStrokes()) return retired;
  m_history.Begin(Bit(kStrokeMapSlot));
  CreateFreshStrokeMap(retired);
  if (m_history.Commit()) Edited();
  Log("Clear user interaction map");
  return retired;
}

void CaseSession::BeginStroke() {
  if (!m_strokeMap) return;
  if (m_running) {
    // Not an edit the history keeps: whatever it paints is news to a reader of changes.
    m_strokeMapUntracked = VoxelSpan::All();
    return;
  }
  m_history.Begin(Bit(kStrokeMapSlot));
}

void CaseSession::EndStroke() {
  if (m_history.EditOpen() && m_history.Commit()) Edited();
}

// ---- Corrections --------------------------------------------------------------------------------

bool CaseSession::RefuseWhileRunning() {
  if (!m_running) return false;
  m_messages.ShowMessage("A correction is running. Please wait until it has finished.");
  return true;
}

bool CaseSession::CheckCorrectionVolumes() {
  if (!RequireSegmentation()) return false;
  const CVoxel& segmentation = *m_segmentation;
  const bool fits = m_image && segmentation.SameSize(*m_image) && m_accumulatedMap &&
                    m_accumulatedMap->SameSize(segmentation) && m_strokeMap &&
                    m_strokeMap->SameSize(segmentation);
  if (!fits) {
    m_messages.ShowMessage(
        "The segmentation does not match the MR image or the user interaction map. Please load the "
        "segmentation again.");
  }
  return fits;
}

std::unique_ptr<CorrectionJob> CaseSession::StartCorrection() {
  if (RefuseWhileRunning() || !RequireMarking() || !RequireStrokes() || !CheckCorrectionVolumes())
    return nullptr;
  EndStroke();
  auto job = std::make_unique<CorrectionJob>();
  job->mode = m_mode;
  job->referencePaths = m_referencePaths;
  if (m_mode == CorrectionMode::kSemiAutomaticMillimetre) {
    // A segmentation read without geometry (a raw file) has the image's voxels.
    const CVoxel& grid = m_segmentation->spacing[0] > 0.0f || !m_image ? *m_segmentation : *m_image;
    job->parameters = correction::MillimetreParameters(m_parameters, grid);
    // Placed references depend on the grid they were placed onto.
    std::vector<double> key(grid.spacing, grid.spacing + 3);
    for (const auto& row : grid.direction) key.insert(key.end(), row, row + 3);
    if (key != m_placedReferenceGrid) m_placedReferenceCache.Clear();
    m_placedReferenceGrid = std::move(key);
    job->keptReferences = &m_placedReferenceCache;
  } else {
    job->parameters = m_parameters;
    job->keptReferences = &m_referenceCache;
  }
  job->segmentation = m_segmentation->Clone();
  job->strokeMap = m_strokeMap->Clone();
  job->accumulatedMap = m_accumulatedMap->Clone();
  MergeStrokes(*job->accumulatedMap, *job->strokeMap);
  m_running = true;
  return job;
}

RetiredVolumes CaseSession::FinishCorrection(std::unique_ptr<CorrectionJob> job) {
  RetiredVolumes retired;
  m_running = false;
  if (!job || !m_segmentation) return retired;
  CVoxel& segmentation = *m_segmentation;
  const auto& corrected = job->segmentation;
  const bool fits = job->accumulatedMap && job->strokeMap && m_accumulatedMap &&
                    job->accumulatedMap->SameSize(*m_accumulatedMap) && corrected && corrected->HasData() &&
                    corrected->SameSize(segmentation);
  if (!fits) return retired;
  // What the slots held before the run: the step of the history is taken from
  // these, and they leave the case afterwards (the viewer may still refer to
  // the old stroke map until the window lends it the fresh one).
  std::unique_ptr<CVoxel> oldStrokes = std::move(m_strokeMap);
  std::unique_ptr<CVoxel> oldAccumulated = std::move(m_accumulatedMap);
  std::unique_ptr<CVoxel> oldSegmentationBackup = std::move(m_segmentationBackup);
  std::unique_ptr<CVoxel> oldStrokeBackup = std::move(m_strokeBackup);

  // The backups are what the run started from; the window's thread kept the
  // segmentation and the stroke map as they were while the run was open.
  m_segmentationBackup = segmentation.Clone();
  m_strokeBackup = std::move(job->strokeMap);
  m_accumulatedMap = std::move(job->accumulatedMap);
  std::copy(corrected->Data(), corrected->Data() + corrected->VoxelCount(), segmentation.Data());
  m_marking = false;
  CreateFreshStrokeMap(retired);
  m_history.Record({{kSegmentationSlot, m_segmentationBackup.get()},
                    {kStrokeMapSlot, oldStrokes.get()},
                    {kAccumulatedMapSlot, oldAccumulated.get()},
                    {kSegmentationBackupSlot, oldSegmentationBackup.get()},
                    {kStrokeBackupSlot, oldStrokeBackup.get()}});
  for (auto* volume : {&oldStrokes, &oldAccumulated, &oldSegmentationBackup, &oldStrokeBackup})
    Retire(*volume, retired);
  ++m_segmentationRevision;
  Edited();
  return retired;
}

bool CaseSession::StartRestore() {
  if (RefuseWhileRunning()) return false;
  // Without a backup FinishRestore itself reports that there is nothing to restore.
  if (m_segmentationBackup) {
    if (!RequireSegmentation()) return false;
    const bool fits = m_segmentationBackup->SameSize(*m_segmentation) &&
                      (!m_strokeBackup || (m_accumulatedMap && m_strokeBackup->SameSize(*m_segmentation) &&
                                           m_accumulatedMap->SameSize(*m_segmentation)));
    if (!fits) {
      m_messages.ShowMessage("The backup result does not match the current segmentation.");
      return false;
    }
  }
  EndStroke();
  m_running = true;
  return true;
}

bool CaseSession::FinishRestore() {
  m_running = false;
  if (!m_segmentationBackup) {
    m_messages.ShowMessage("There is no backup result.");
    return false;
  }
  // StartRestore checked the sizes; a case changed since (it cannot be while the
  // run is open) is refused rather than addressed with the wrong dimensions.
  if (!m_segmentation || !m_segmentationBackup->SameSize(*m_segmentation) ||
      (m_strokeBackup && (!m_accumulatedMap || !m_strokeBackup->SameSize(*m_segmentation) ||
                          !m_accumulatedMap->SameSize(*m_segmentation)))) {
    m_messages.ShowMessage("The backup result does not match the current segmentation.");
    return false;
  }
  const std::unique_ptr<CVoxel> segmentationBefore = m_segmentation->Clone();
  const std::unique_ptr<CVoxel> accumulatedBefore = m_accumulatedMap ? m_accumulatedMap->Clone() : nullptr;
  CVoxel& segmentation = *m_segmentation;
  std::copy(m_segmentationBackup->Data(), m_segmentationBackup->Data() + m_segmentationBackup->VoxelCount(),
            segmentation.Data());
  // The last run's strokes leave the accumulated map again (an older stroke on
  // the same voxel goes with them).
  if (m_strokeBackup) {
    const CVoxel& strokes = *m_strokeBackup;
    CVoxel& accumulated = *m_accumulatedMap;
    for (std::size_t i = 0; i < strokes.VoxelCount(); ++i)
      if (strokes[i] > 0) accumulated[i] = 0;
  }
  // One level only: the next Cancel has nothing to restore.
  const std::unique_ptr<CVoxel> backup = std::move(m_segmentationBackup);
  m_history.Record({{kSegmentationSlot, segmentationBefore.get()},
                    {kAccumulatedMapSlot, accumulatedBefore.get()},
                    {kSegmentationBackupSlot, backup.get()}});
  ++m_segmentationRevision;
  Log("Segmentation is returned");
  Edited();
  return true;
}

// ---- Undo and redo ----------------------------------------------------------------------------

bool CaseSession::CanUndo() const { return !m_running && !m_history.EditOpen() && m_history.CanUndo(); }
bool CaseSession::CanRedo() const { return !m_running && !m_history.EditOpen() && m_history.CanRedo(); }

bool CaseSession::Undo() { return HistoryStep(&EditHistory::Undo, CanUndo()); }
bool CaseSession::Redo() { return HistoryStep(&EditHistory::Redo, CanRedo()); }

bool CaseSession::HistoryStep(bool (EditHistory::*step)(), bool allowed) {
  if (!allowed || !(m_history.*step)()) return false;
  ++m_segmentationRevision;
  Edited();
  return true;
}

// ---- Unsaved work --------------------------------------------------------------------------

bool CaseSession::SegmentationUnsaved() const {
  if (!m_segmentation || !m_segmentation->HasData()) return false;
  return !m_savedSegmentation || !SameVolume(*m_segmentation, *m_savedSegmentation);
}

VoxelSpan CaseSession::TakeStrokeMapChanges() {
  VoxelSpan changed = m_history.TakeChanges(kStrokeMapSlot);
  changed.Include(std::exchange(m_strokeMapUntracked, VoxelSpan()));
  return changed;
}

bool CaseSession::StrokesUnsaved() const {
  if (!HasStrokes(m_strokeMap.get())) return false;
  return !m_savedStrokes || !SameVolume(*m_strokeMap, *m_savedStrokes);
}

}  // namespace session
