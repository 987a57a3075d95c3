// The main window: one fixed-size dialog with the slice viewer and the
// controls, coupled to the case model (CaseSession), which holds the case:
// the volumes, the stroke maps, mode and brush, the references, the backup and
// the undo/redo history. The dialog creates and enables the controls, moves
// their values to and from the model, asks for files, lends the model's
// volumes to the viewer and forwards every command.
//
// Commands run on the window's thread. Segmentation and Cancel hand their work
// to a worker thread; while a worker runs, every command that could free,
// replace or read a volume the worker uses is disabled, and is refused with a
// message should it be called anyway. Ctrl+Z undoes the last edit of the case,
// Ctrl+Shift+Z and Ctrl+Y redo it, wherever the focus is except in a text field.
#pragma once

#include <QDialog>
#include <QIcon>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/CaseRecovery.h"
#include "session/CaseSession.h"
#include "viewer/VoxelSliceViewer.h"
#include "volume/Voxel.h"

namespace platform {
class Platform;
}  // namespace platform
namespace viewer {
class VoxelSliceViewerWidget;
}  // namespace viewer
class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QSlider;

namespace app {

class SpinControl;

// Files to load when the window opens (from the command line).
struct CaseFiles {
  std::optional<std::string> image;
  std::optional<std::string> segmentation;
  std::optional<std::string> boundary;
  std::optional<std::string> scribbles;  // a saved user interaction map
};

}  // namespace app

class CCorvaneDlg : public QDialog, private viewer::ViewerReadouts, private viewer::StrokeListener {
  Q_OBJECT

 public:
  // The reference image directory the dialog starts with and returns to on Reset.
  static constexpr const char* kDefaultReferenceDir = session::CaseSession::kDefaultReferenceDir;

  struct Options {
    std::string referenceDir = kDefaultReferenceDir;
    // Where the window keeps its recovery file; empty: it keeps none.
    std::string recoveryFolder = session::DefaultRecoveryFolder();
  };

  explicit CCorvaneDlg(platform::Platform& platform, QWidget* parent = nullptr);
  CCorvaneDlg(platform::Platform& platform, const Options& options, QWidget* parent = nullptr);
  ~CCorvaneDlg() override;

  // ---- Controls ----------------------------------------------------------------
  QWidget* Control(int id) const;
  template <typename T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  viewer::VoxelSliceViewerWidget& ViewerWidget() const { return *m_viewerWidget; }
  CVoxelSliceViewer& Viewer() const;
  // The lines of the log list, top to bottom.
  std::vector<std::string> LogLines() const;

  // ---- Commands (what a click on the control does) ------------------------------
  // Volumes.
  void OnLoadImage();
  void OnLoadBoundary();
  void OnLoadSegmentation();
  void OnSaveSegmentation();
  void OnReset();
  void OnShowBoundary();
  void OnShowSegmentation();
  void OnBrowseReferenceDir();
  // Stroke map and corrections.
  void OnSemiAutomatic();
  void OnSemiAutomaticMillimetre();
  // Either reference-based mode: the reference folder and the correction controls come on.
  void ChooseReferenceMode(session::CorrectionMode mode);
  void OnManual();
  void OnMarking();
  void On3D();
  void OnLoadUI();
  void OnSaveUI();
  void OnClearUI();
  void OnSegmentation();
  void OnCancelCorrection();
  // Undo and redo of the case's last edit (no effect while a worker runs).
  void OnUndo();
  void OnRedo();
  // View controls. A slider's position changed (or it was touched at its
  // position): the readout, the view and the zoom or window follow it.
  void OnSliderMoved(QSlider* slider);
  // The zoom or brush spin was stepped to `position`.
  void OnSpinStepped(app::SpinControl* spin, int position);
  // The About box (the window's context menu offers it).
  void ShowAbout();

  // Loads the given files as the buttons would, in the order image,
  // segmentation, boundary, scribbles, with the same log lines, messages and
  // enabling; with a segmentation the view then moves to its middle slice. A load whose button is not enabled
  // yet (a segmentation without an image) is refused with a message. The scribbles need Marking: when no
  // correction mode is chosen yet, the semi-automatic one is, and Marking is
  // turned on (which scans the reference image directory).
  void OpenCase(const app::CaseFiles& files);

  // At start, before anything is loaded: reports recovery files that cannot be
  // read (moved aside) and offers, one after the other, the files of windows
  // that no longer run, until one is recovered. Returns whether one was.
  bool OfferRecovery();
  // The window's recovery file (empty when it keeps none).
  std::string RecoveryFilePath() const;

  // ---- Typed values, settings shown, control groups ---------------------------------
  // Takes what was typed into the zoom, reference folder and brush size fields:
  // a typed value takes effect at the next command (a zoom only with the next
  // zoom step). Stops at a zoom or brush size that is not a whole number in its
  // range, with a message and the field selected, and returns false; the
  // command then goes on with the values it has.
  enum class TypedValues { kTaken, kStoppedAtZoom, kStoppedAtBrushSize };
  TypedValues TakeTypedValues();
  // Shows the case's settings in their controls: the two Show boxes, the zoom,
  // the reference folder, Marking, 3D and the brush size.
  void ShowSettings();
  void EnableInputControls(bool enable);
  void EnableCorrectionControls(bool enable);
  void EnableViewControls(bool enable);
  void EnableReferenceDirControls(bool enable);
  void EnableAlgorithmControls(bool enable);
  // The controls of the case's correction mode: the correction group, and the
  // reference directory controls in semi-automatic mode only.
  void EnableModeControls();
  bool InitSliceControls();
  // Appends a line to the log list; any thread, synchronous.
  void AppendLog(const std::string& line);

  // ---- Worker state -----------------------------------------------------------------
  bool IsWorkerRunning() const { return m_workerRunning; }
  // Returns once no worker runs (the window's thread keeps serving it meanwhile).
  void WaitForWorker();

  // ---- State (read) -----------------------------------------------------------------
  const session::CaseSession& Case() const { return m_case; }
  const CVoxel* Image() const { return m_case.Image(); }
  const CVoxel* Boundary() const { return m_case.Boundary(); }
  const CVoxel* Segmentation() const { return m_case.Segmentation(); }
  const CVoxel* StrokeMap() const { return m_case.StrokeMap(); }
  CVoxel* StrokeMap() { return m_case.StrokeMap(); }
  const CVoxel* AccumulatedMap() const { return m_case.AccumulatedMap(); }
  const CVoxel* SegmentationBackup() const { return m_case.SegmentationBackup(); }
  const CVoxel* StrokeBackup() const { return m_case.StrokeBackup(); }
  const std::string& ImagePath() const { return m_case.ImagePath(); }
  const std::string& ReferenceDir() const { return m_case.ReferenceDir(); }
  const std::vector<std::string>& ReferencePaths() const { return m_case.ReferencePaths(); }
  int Zoom() const { return m_nZoom; }
  int BrushSize() const { return m_case.BrushSize(); }
  bool Marking() const { return m_case.Marking(); }
  bool Brush3D() const { return m_case.Brush3D(); }
  bool ShowSegmentationFlag() const { return m_bShowSegmentation; }
  bool ShowBoundaryFlag() const { return m_bShowBoundary; }
  // 1 manual, 0 semi-automatic.
  int CorrectionMode() const { return static_cast<int>(m_case.Mode()); }
  bool ScribbleHelpShown() const { return m_case.ScribbleHelpShown(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  // Construction.
  void CreateControls();
  void ConnectControls();
  void SetUpTabOrder();
  void SetUpAccessibility();
  void OnInitDialog();

  // The load commands; `given` stands in for the file the user would choose
  // (nothing: the file dialog asks).
  void LoadImageFile(const std::optional<std::string>& given);
  void LoadBoundaryFile(const std::optional<std::string>& given);
  void LoadSegmentationFile(const std::optional<std::string>& given);
  void LoadScribblesFile(const std::optional<std::string>& given);

  // Gives back the case of a recovery file, as the Load buttons would load it.
  // False (with a message, the file kept) when its image is gone.
  bool Recover(const std::string& path, const session::RecoveryState& state);
  // Asks what to do with unsaved work before the window closes; false when the
  // window must stay open (Cancel, or a save that did not happen).
  bool SettleUnsavedWork();
  // Shows a segmentation just loaded from `path` and makes it the case's.
  void AdoptLoadedSegmentation(std::unique_ptr<CVoxel> segmentation, const std::string& path);

  // Helpers of the commands.
  QSlider* Slider(int id) const;
  QLabel* Label(int id) const;
  QAbstractButton* Button(int id) const;
  QLineEdit* Edit(int id) const;
  app::SpinControl* Spin(int id) const;
  void SetControlText(int id, const QString& text);
  void SetNumberText(int id, int value);  // "%d   "
  void SetChecked(int id, bool checked);
  void EnableControl(int id, bool enable);
  void SetSliderRange(int id, int minimum, int maximum);
  void SetSliderPosition(int id, int position);
  void ClearLog();
  void SetWindowSlidersToDefaults();
  // Lends the case's stroke map to the viewer (or takes the old one back).
  void LendStrokeMap();
  // The viewer's marking, 3-D brush and brush size as the case has them.
  void ApplyViewerMarking();
  // After undo or redo: the viewer shows the case's volumes as they are now.
  void ShowCaseAfterHistoryStep();
  // Refuses a command while a worker runs (with a message). True when refused.
  bool RefuseWhileRunning();

  // Workers.
  static unsigned CorrectionThreadProc(CCorvaneDlg* dialog);
  static unsigned RestoreThreadProc(CCorvaneDlg* dialog);
  bool StartWorker(unsigned (*proc)(CCorvaneDlg*));
  void BeginRun();
  void EndRun();
  void FinishCorrection();
  void FinishRestore();

  // ViewerReadouts: the viewer's readouts go to the dialog's labels and spin.
  void SetPositionText(const std::string& text) override;
  void SetValueText(const std::string& text) override;
  void SetRangeText(const std::string& text) override;
  void SetZoomSpinPosition(int percent) override;
  // StrokeListener: one stroke of the brush is one edit of the case.
  void StrokeBegins() override;
  void StrokeEnds() override;

  platform::Platform& m_platform;
  // The case; the viewer borrows its volumes.
  session::CaseSession m_case;
  // Keeps the case's unsaved work in a recovery file (null: no file is kept).
  std::unique_ptr<session::CaseRecovery> m_recovery;

  int m_nZoom = 100;
  bool m_bShowSegmentation = false;
  bool m_bShowBoundary = false;
  QIcon m_hIcon;

  // Set just before a worker starts; the worker runs only when it is set and
  // clears it when it ends.
  std::atomic<bool> m_bRunRequested{false};
  // A worker runs (window's thread only).
  bool m_workerRunning = false;
  // The copies the correction worker corrects, from its start until FinishCorrection.
  std::unique_ptr<session::CorrectionJob> m_job;
  // Enabled state of the commands locked for a run, restored when it ends.
  std::map<int, bool> m_lockedControls;

  std::map<int, QWidget*> m_controls;
  viewer::VoxelSliceViewerWidget* m_viewerWidget = nullptr;
  QListWidget* m_log = nullptr;
};
