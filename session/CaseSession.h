// The case being corrected, as a model without any window: the volumes, the
// stroke map the viewer paints into, the accumulated strokes, the correction
// mode and brush settings, the reference list, the parameters, the one-level
// backup that Cancel restores, and the undo/redo history.
//
// The window couples its controls to this model: it asks for files, lends the
// volumes to its viewer and enables controls; every decision about the case,
// every message and every log line of a command is made here, reported through
// the message and log sinks given at construction.
//
// Threads: every member function runs on the window's thread, except
// CorrectionJob::Run. A correction works on copies (StartCorrection) that a
// worker thread corrects and FinishCorrection takes back, so the worker never
// touches a volume the window's thread reads. While a run is open the commands
// that load, save, clear or reset volumes, undo and redo are refused (with the
// message of RefuseWhileRunning; undo and redo silently).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "correction/CorrectionDriver.h"
#include "session/EditHistory.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

namespace session {

enum class CorrectionMode {
  kSemiAutomatic = 0,
  kManual = 1,
  // The semi-automatic method with its distances kept in millimetres
  // (MillimetreParameters of the segmentation's voxel size).
  kSemiAutomaticMillimetre = 2,
};

// Whether a mode runs the reference-based correction (and so needs the references).
constexpr bool UsesReferences(CorrectionMode mode) {
  return mode == CorrectionMode::kSemiAutomatic || mode == CorrectionMode::kSemiAutomaticMillimetre;
}

// The parameters of a run in `mode` on `segmentation`: the fixed set, or in
// millimetre mode that set converted to the segmentation's voxel size.
fusion::CorrectionParameters ParametersFor(CorrectionMode mode, const CVoxel& segmentation);

// The fixed parameters of every semi-automatic run, the window's and
// corvane-correct's alike.
fusion::CorrectionParameters SemiAutomaticParameters();

// Volumes a command took out of the case. The caller keeps them alive until its
// viewer no longer refers to them, then lets them go.
using RetiredVolumes = std::vector<std::unique_ptr<CVoxel>>;

// What became of a Marking press.
enum class MarkingOutcome {
  kOff,          // Marking is off (unticked, or no reference image was found)
  kOn,           // Marking is on
  kOnAfterScan,  // Marking is on after the first scan of the reference directory
};

// One correction run: copies of what it reads, corrected on a worker thread.
class CorrectionJob {
 public:
  // Worker thread: writes the run's log lines and corrects the copy. The one
  // run of a correction, the window's and corvane-correct's alike. Returns
  // false when the semi-automatic driver refused or failed (it said why through
  // `messages` and left the segmentation untouched); the closing log line is
  // written either way, as the window has always shown it.
  bool Run(volume::LogSink& log, volume::MessageSink& messages);

  CorrectionMode mode = CorrectionMode::kManual;
  std::vector<std::string> referencePaths;
  fusion::CorrectionParameters parameters;
  std::unique_ptr<CVoxel> segmentation;    // corrected in place
  std::unique_ptr<CVoxel> accumulatedMap;  // the accumulated map with this run's strokes merged
  std::unique_ptr<CVoxel> strokeMap;  // the strokes of this run (kept as the backup; Run does not read it)
  // Reads a reference label for the semi-automatic run; empty: the load dispatcher.
  correction::VolumeLoader loadReference;
  // The reference labels kept from the case's earlier runs (see ReferenceCache);
  // only this run uses them while it goes on. Null: nothing is kept.
  correction::ReferenceCache* keptReferences = nullptr;
};

class CaseSession {
 public:
  // The reference image directory a case starts with and returns to on Reset.
  static constexpr const char* kDefaultReferenceDir = "C:\\DataSet\\prostate\\popR\\label2";
  static constexpr int kDefaultBrushSize = 2;

  // Enters `directory` as the process's current directory and returns the
  // directory then current, or nothing when it cannot be entered.
  using EnterDirectory = std::function<std::optional<std::string>(const std::string& directory)>;
  static std::optional<std::string> EnterProcessDirectory(const std::string& directory);

  CaseSession(volume::MessageSink& messages, volume::LogSink& log,
              std::string defaultReferenceDir = kDefaultReferenceDir);
  ~CaseSession();
  CaseSession(const CaseSession&) = delete;
  CaseSession& operator=(const CaseSession&) = delete;

  // ---- Volumes ----------------------------------------------------------------------
  // Loads a volume; a file that gives no data is reported and yields null.
  std::unique_ptr<CVoxel> LoadVolume(const std::string& path);
  // Loads a label and returns its boundary (1 on the boundary voxels), or null.
  std::unique_ptr<CVoxel> LoadBoundaryVolume(const std::string& path);
  // Writes NIfTI or MetaImage as the chosen path's ending asks (unsigned bytes,
  // with the volume's geometry); `written` receives the path written. A failure
  // is reported with that path and returns false.
  bool SaveVolume(const CVoxel& volume, const std::string& chosenPath, std::string& written);
  // Tells the user (one message) when `volume` has the image's size but lies
  // elsewhere in space; `what` names it ("segmentation", "boundary").
  void WarnIfNotWhereTheImageIs(const CVoxel& volume, const std::string& what);
  // One log line per image, when the voxel mode is chosen on an image whose
  // voxel size is far from the one its parameters were chosen for, naming the
  // millimetre mode.
  void SuggestMillimetreMode();

  // A new image: the segmentation and the boundary go, and so do the maps and
  // backups of another size. Starts a new history.
  session::RetiredVolumes AdoptImage(std::unique_ptr<CVoxel> image, const std::string& path);
  session::RetiredVolumes AdoptBoundary(std::unique_ptr<CVoxel> boundary, const std::string& path);
  // A new segmentation with an empty accumulated map; the reference list is
  // emptied. Starts a new history. The backups stay.
  session::RetiredVolumes AdoptSegmentation(std::unique_ptr<CVoxel> segmentation, const std::string& path);
  // True when there is a segmentation; otherwise says so.
  bool RequireSegmentation();
  // Writes the segmentation by the chosen path's ending (see SaveVolumeAs); a
  // path ending in ".dcm" writes a DICOM Segmentation of the image's series.
  bool SaveSegmentation(const std::string& chosenPath);
  // Back to the start, keeping the image, its path, the backups and the mode.
  // Starts a new history.
  session::RetiredVolumes Reset();

  // ---- Unsaved work -------------------------------------------------------------------------
  // Called on the window's thread after every edit of the case: a stroke, Clear UI,
  // Load UI, a run, Cancel, undo, redo (not after loads of files or Reset).
  void SetEditListener(std::function<void()> listener) { m_editListener = std::move(listener); }
  // Whether the segmentation differs from the file it was loaded from or last saved to.
  bool SegmentationUnsaved() const;
  // Whether the stroke map has strokes that were neither loaded nor saved as they are.
  bool StrokesUnsaved() const;
  // The segmentation as loaded or last saved (null: none, or it came from no file).
  const std::shared_ptr<const CVoxel>& SavedSegmentation() const { return m_savedSegmentation; }
  // The segmentation in place no longer matches a file (it was given back from
  // a recovery file): closing asks to save it.
  void ForgetSavedSegmentation() { m_savedSegmentation.reset(); }
  // The same for the stroke map (scribbles given back from a recovery file).
  void ForgetSavedStrokes() { m_savedStrokes.reset(); }
  // Changes whenever the segmentation may have changed.
  std::uint64_t SegmentationRevision() const { return m_segmentationRevision; }
  // The segmentation as loaded or last saved when the segmentation has not
  // changed since (a copy of it a reader may share); null otherwise.
  std::shared_ptr<const CVoxel> UnchangedSavedSegmentation() const {
    return m_savedSegmentation && m_savedRevision == m_segmentationRevision ? m_savedSegmentation : nullptr;
  }
  // The voxels of the stroke map / the segmentation that may have changed
  // since the last call (VoxelSpan::All() when that is not known: at first,
  // after a new image, segmentation or Reset, a map made outside an edit),
  // and forgets them. For a reader that keeps its own copy (the recovery file).
  session::VoxelSpan TakeStrokeMapChanges();
  session::VoxelSpan TakeSegmentationChanges() { return m_history.TakeChanges(kSegmentationSlot); }

  // ---- Reference directory, mode, Marking, brush ---------------------------------------
  // The directory typed into the window (no effect on the reference list).
  void SetReferenceDir(const std::string& directory) { m_referenceDir = directory; }
  // A directory chosen with the browser: the references are looked up again.
  void ChooseReferenceDir(const std::string& directory);
  // Returns true when Marking had to be switched off (semi-automatic mode
  // needs Marking pressed again, which scans the references).
  bool SetCorrectionMode(session::CorrectionMode mode);
  // The Marking box as the window reads it.
  void SetMarkingFlag(bool marking) { m_marking = marking; }
  void SetBrush3D(bool brush3D) { m_brush3D = brush3D; }
  void SetBrushSize(int size) { m_brushSize = size; }
  // Whether applying Marking now would scan the reference directory.
  bool WillScanReferences() const;
  // Applies the Marking flag: off, on, or on after the first scan in
  // semi-automatic mode (when no reference is found Marking goes off).
  // `busy` is told when the scan begins (true) and ends (false).
  session::MarkingOutcome ApplyMarking(const EnterDirectory& enter = EnterProcessDirectory,
                                       const std::function<void(bool)>& busy = {});

  // ---- Stroke map ---------------------------------------------------------------------
  // True when Marking is on; otherwise says "Press marking check box first!!".
  bool RequireMarking();
  // True when the stroke map has a stroke; otherwise says so.
  bool RequireStrokes();
  // A stroke map read from a file; one of another size than the image is
  // refused and a fresh map takes the place of the old one.
  session::RetiredVolumes LoadStrokeMap(std::unique_ptr<CVoxel> map, const std::string& path);
  bool SaveStrokeMap(const std::string& chosenPath);
  // Clears every stroke (refused with a message when there is none).
  session::RetiredVolumes ClearStrokeMap();
  // Creates an empty stroke map of the image's size when there is none.
  void CreateStrokeMapIfNone();
  // The viewer paints one stroke (press to release) between these two calls.
  void BeginStroke();
  void EndStroke();

  // ---- Corrections ------------------------------------------------------------------------
  // Refuses a command while a run is open, with a message. True when refused.
  bool RefuseWhileRunning();
  bool IsRunning() const { return m_running; }
  // Checks Marking, the strokes and the volumes, and returns the copies a worker
  // corrects; null (with a message) when refused. Opens the run.
  std::unique_ptr<session::CorrectionJob> StartCorrection();
  // Takes the result of a run back: backups, accumulated map, corrected
  // segmentation, Marking off, a fresh stroke map; one step of the history.
  session::RetiredVolumes FinishCorrection(std::unique_ptr<session::CorrectionJob> job);
  // Checks that the backup fits the segmentation (a missing backup is told by
  // FinishRestore). Opens the run; false (with a message) when refused.
  bool StartRestore();
  // Cancel: the segmentation before the last run comes back (once) and the last
  // run's strokes leave the accumulated map. False, with "There is no backup
  // result.", when there is nothing to restore.
  bool FinishRestore();
  // Closes a run that never started (no worker thread).
  void AbandonRun() { m_running = false; }

  // ---- Undo and redo ------------------------------------------------------------------------
  // Refused (false, nothing changes) while a run or a stroke is open.
  bool Undo();
  bool Redo();
  bool CanUndo() const;
  bool CanRedo() const;
  const session::EditHistory& History() const { return m_history; }
  // Forgets every step (a case given back from a recovery file starts afresh).
  void ForgetHistory() { m_history.Clear(); }

  // ---- State --------------------------------------------------------------------------------
  const CVoxel* Image() const { return m_image.get(); }
  const CVoxel* Boundary() const { return m_boundary.get(); }
  CVoxel* Segmentation() { return m_segmentation.get(); }
  const CVoxel* Segmentation() const { return m_segmentation.get(); }
  CVoxel* StrokeMap() { return m_strokeMap.get(); }
  const CVoxel* StrokeMap() const { return m_strokeMap.get(); }
  const CVoxel* AccumulatedMap() const { return m_accumulatedMap.get(); }
  const CVoxel* SegmentationBackup() const { return m_segmentationBackup.get(); }
  const CVoxel* StrokeBackup() const { return m_strokeBackup.get(); }
  const std::string& ImagePath() const { return m_imagePath; }
  // Where the segmentation was loaded from or last saved to; where the boundary was loaded from.
  const std::string& SegmentationPath() const { return m_segmentationPath; }
  const std::string& BoundaryPath() const { return m_boundaryPath; }
  // Whether the image was read from a DICOM series, so that the segmentation
  // can be saved as a DICOM Segmentation of it (a chosen path ending in ".dcm").
  bool ImageIsDicom() const;
  const std::string& ReferenceDir() const { return m_referenceDir; }
  const std::vector<std::string>& ReferencePaths() const { return m_referencePaths; }
  session::CorrectionMode Mode() const { return m_mode; }
  // Whether a correction mode was ever chosen (Reset keeps the choice).
  bool ModeChosen() const { return m_modeChosen; }
  bool Marking() const { return m_marking; }
  bool Brush3D() const { return m_brush3D; }
  int BrushSize() const { return m_brushSize; }
  bool ScribbleHelpShown() const { return m_scribbleHelpShown; }
  const fusion::CorrectionParameters& Parameters() const { return m_parameters; }

 private:
  // History slots, in the order the history numbers them.
  enum Slot : unsigned {
    kSegmentationSlot,
    kStrokeMapSlot,
    kAccumulatedMapSlot,
    kSegmentationBackupSlot,
    kStrokeBackupSlot,
  };
  static constexpr unsigned Bit(Slot slot) { return 1u << slot; }

  void Log(const std::string& line) { m_log.AppendLine(line); }
  void Edited() {
    if (m_editListener) m_editListener();
  }
  void WriteScribbleHelp();
  // Undo or redo when `allowed`; an edit when it changed the case.
  bool HistoryStep(bool (session::EditHistory::*step)(), bool allowed);
  // Replaces the stroke map by an empty one of the image's size.
  void CreateFreshStrokeMap(session::RetiredVolumes& retired);
  static void Retire(std::unique_ptr<CVoxel>& volume, session::RetiredVolumes& retired);
  // Whether the segmentation and the maps a correction works on fit together.
  bool CheckCorrectionVolumes();

  volume::MessageSink& m_messages;
  volume::LogSink& m_log;
  const std::string m_defaultReferenceDir;

  std::unique_ptr<CVoxel> m_image;
  std::unique_ptr<CVoxel> m_boundary;
  std::unique_ptr<CVoxel> m_segmentation;
  std::unique_ptr<CVoxel> m_strokeMap;
  std::unique_ptr<CVoxel> m_accumulatedMap;
  std::unique_ptr<CVoxel> m_segmentationBackup;
  std::unique_ptr<CVoxel> m_strokeBackup;

  std::string m_imagePath;
  std::string m_segmentationPath;
  std::string m_boundaryPath;
  std::shared_ptr<const CVoxel> m_savedSegmentation;
  std::shared_ptr<const CVoxel> m_savedStrokes;
  std::uint64_t m_segmentationRevision = 0;
  std::uint64_t m_savedRevision = 0;  // the revision m_savedSegmentation was taken at
  // Changes to the stroke map the history does not see (a map made between edits).
  session::VoxelSpan m_strokeMapUntracked = session::VoxelSpan::All();
  std::function<void()> m_editListener;
  std::string m_referenceDir;
  std::vector<std::string> m_referencePaths;
  session::CorrectionMode m_mode = session::CorrectionMode::kManual;
  bool m_modeChosen = false;
  bool m_marking = false;
  bool m_brush3D = false;
  int m_brushSize = kDefaultBrushSize;
  bool m_scribbleHelpShown = false;
  bool m_millimetreHintShown = false;  // for the current image
  const fusion::CorrectionParameters m_parameters = session::SemiAutomaticParameters();

  bool m_running = false;
  // Reference labels read by the last semi-automatic run; only the correction
  // worker uses them (through its job). The millimetre mode keeps its own, as
  // it holds references placed onto the grid of the spacing and direction below.
  correction::ReferenceCache m_referenceCache;
  correction::ReferenceCache m_placedReferenceCache;
  std::vector<double> m_placedReferenceGrid;  // spacing then direction; empty: none yet
  session::EditHistory m_history;
};

}  // namespace session
