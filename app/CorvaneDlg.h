// The main window: one fixed-size dialog holding the whole working state of a
// case (the volumes, the slice viewer, the control values, the reference list)
// and every command of the program.
//
// Commands run on the window's thread. Segmentation and Cancel hand their work
// to a worker thread; while a worker runs, every command that could free,
// replace or read a volume the worker uses is disabled, and is refused with a
// message should it be called anyway.
#pragma once

#include <QDialog>
#include <QIcon>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "correction/ReferenceSet.h"
#include "viewer/VoxelSliceViewer.h"
#include "volume/Voxel.h"

class CPlatform;
class CSpinControl;
class CVoxelSliceViewerWidget;
class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QSlider;

// Files to load when the window opens (from the command line).
struct CCaseFiles {
  std::optional<std::string> image;
  std::optional<std::string> segmentation;
  std::optional<std::string> boundary;
  std::optional<std::string> scribbles;  // a saved user interaction map
};

class CCorvaneDlg : public QDialog, private CViewerReadouts {
  Q_OBJECT

 public:
  // The reference image directory the dialog starts with and returns to on Reset.
  static constexpr const char* kDefaultReferenceDir = "C:\\DataSet\\prostate\\popR\\label2";

  struct Options {
    std::string referenceDir = kDefaultReferenceDir;
  };

  explicit CCorvaneDlg(CPlatform& platform, QWidget* parent = nullptr);
  CCorvaneDlg(CPlatform& platform, const Options& options, QWidget* parent = nullptr);
  ~CCorvaneDlg() override;

  // ---- Controls ----------------------------------------------------------------
  QWidget* Control(int id) const;
  template <typename T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  CVoxelSliceViewerWidget& ViewerWidget() const { return *m_viewerWidget; }
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
  void OnManual();
  void OnMarking();
  void On3D();
  void OnLoadUI();
  void OnSaveUI();
  void OnClearUI();
  void OnSegmentation();
  void OnCancelCorrection();
  // View controls: a slider moved with a scroll code of the classic trackbar
  // (0-1 line, 2-3 page, 4 thumb position, 5 thumb track, 6-7 ends, 8 end of
  // scrolling), and a spin control stepped to `position`.
  void OnHScroll(int code, QSlider* slider);
  void OnVScroll(int position, CSpinControl* spin);
  // The About box (the window's context menu offers it).
  void ShowAbout();

  // Loads the given files as the buttons would, in the order image,
  // segmentation, boundary, scribbles, with the same log lines, messages and
  // enabling; with a segmentation the view then moves to its middle slice. A load whose button is not enabled
  // yet (a segmentation without an image) is refused with a message. The scribbles need Marking: when no
  // correction mode is chosen yet, the semi-automatic one is, and Marking is
  // turned on (which scans the reference image directory).
  void OpenCase(const CCaseFiles& files);

  // ---- Data exchange and control groups -------------------------------------------
  // Reads the controls into the members (true) or writes the members to the
  // controls (false). Reading stops at an invalid zoom or brush size, with a
  // message, and returns false.
  bool UpdateData(bool saveAndValidate = true);
  void EnableInputControls(bool enable);
  void EnableCorrectionControls(bool enable);
  void EnableViewControls(bool enable);
  void EnableReferenceDirControls(bool enable);
  void EnableAlgorithmControls(bool enable);
  bool InitSliceControls();
  // Appends a line to the log list; any thread, synchronous.
  void AppendLog(const std::string& line);

  // ---- Worker state -----------------------------------------------------------------
  bool IsWorkerRunning() const { return m_workerRunning; }
  // Returns once no worker runs (the window's thread keeps serving it meanwhile).
  void WaitForWorker();

  // ---- State (read) -----------------------------------------------------------------
  const CVoxel* Image() const { return m_pImage.get(); }
  const CVoxel* Boundary() const { return m_pBoundary.get(); }
  const CVoxel* Segmentation() const { return m_pSegmentation.get(); }
  const CVoxel* StrokeMap() const { return m_pStrokeMap.get(); }
  CVoxel* StrokeMap() { return m_pStrokeMap.get(); }
  const CVoxel* AccumulatedMap() const { return m_pAccumulatedMap.get(); }
  const CVoxel* SegmentationBackup() const { return m_pSegmentationBackup.get(); }
  const CVoxel* StrokeBackup() const { return m_pStrokeBackup.get(); }
  const std::string& ImagePath() const { return m_strImagePath; }
  const std::string& ReferenceDir() const { return m_strReferenceDir; }
  const std::vector<std::string>& ReferencePaths() const { return m_referencePaths; }
  int Zoom() const { return m_nZoom; }
  int BrushSize() const { return m_nBrushSize; }
  bool Marking() const { return m_bMarking; }
  bool Brush3D() const { return m_b3DBrush; }
  bool ShowSegmentationFlag() const { return m_bShowSegmentation; }
  bool ShowBoundaryFlag() const { return m_bShowBoundary; }
  int CorrectionMode() const { return m_nCorrectionMode; }
  bool ScribbleHelpShown() const { return m_bScribbleHelpShown; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  // What a correction run needs besides the dialog's volumes, fixed when it starts.
  struct CRunSettings {
    int correctionMode = 1;
    std::vector<std::string> referencePaths;
  };

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

  // Helpers of the commands.
  QSlider* Slider(int id) const;
  QLabel* Label(int id) const;
  QAbstractButton* Button(int id) const;
  QLineEdit* Edit(int id) const;
  CSpinControl* Spin(int id) const;
  void SetControlText(int id, const QString& text);
  void SetNumberText(int id, int value);  // "%d   "
  void SetChecked(int id, bool checked);
  void EnableControl(int id, bool enable);
  void SetSliderRange(int id, int minimum, int maximum);
  void SetSliderPosition(int id, int position);
  void ClearLog();
  void SetWindowSlidersToDefaults();
  void WriteScribbleHelp();
  // A new all-zero stroke map of the image's size, handed to the viewer.
  void CreateFreshStrokeMap();
  void CreateStrokeMapIfNone();
  void ReleaseStrokeMap();
  // Discards the stroke map, accumulated map and backups of another size than the image.
  void DiscardVolumesNotMatchingImage();
  // Loads a volume; a file that gives no data is reported and yields null.
  std::unique_ptr<CVoxel> LoadVolume(const std::string& path);
  // Writes NIfTI or MetaImage as the chosen path's ending asks (unsigned
  // bytes, with the volume's geometry); *written receives the path written. A
  // failure is reported with the path and returns false.
  bool SaveVolume(const CVoxel& volume, const std::string& chosenPath, std::string& written);
  // Tells the user (one message box) when `volume` has the image's size but
  // lies elsewhere in space; `what` names it ("segmentation", "boundary").
  void WarnIfNotWhereTheImageIs(const CVoxel& volume, const std::string& what);
  // Refuses a command while a worker runs (with a message). True when refused.
  bool RefuseWhileRunning();
  // Whether the segmentation and the maps a correction works on fit together.
  bool CheckCorrectionVolumes();

  // Workers.
  static unsigned CorrectionThreadProc(CCorvaneDlg* dialog);
  static unsigned RestoreThreadProc(CCorvaneDlg* dialog);
  bool StartWorker(unsigned (*proc)(CCorvaneDlg*));
  void BeginRun();
  void EndRun();
  void FinishCorrection(std::unique_ptr<CVoxel> corrected);
  void FinishRestore();

  // CViewerReadouts: the viewer's readouts go to the dialog's labels and spin.
  void SetPositionText(const std::string& text) override;
  void SetValueText(const std::string& text) override;
  void SetRangeText(const std::string& text) override;
  void SetZoomSpinPosition(int percent) override;

  CPlatform& m_platform;
  const std::string m_defaultReferenceDir;

  // Volumes owned by the dialog.
  std::unique_ptr<CVoxel> m_pImage;
  std::unique_ptr<CVoxel> m_pBoundary;
  std::unique_ptr<CVoxel> m_pSegmentation;
  std::unique_ptr<CVoxel> m_pStrokeMap;
  std::unique_ptr<CVoxel> m_pAccumulatedMap;
  std::unique_ptr<CVoxel> m_pSegmentationBackup;
  std::unique_ptr<CVoxel> m_pStrokeBackup;

  std::string m_strImagePath;
  std::string m_strReferenceDir;
  std::vector<std::string> m_referencePaths;
  // The reference labels read by the last semi-automatic run; only the
  // correction worker uses them.
  CReferenceCache m_referenceCache;
  int m_nZoom = 100;
  int m_nBrushSize = 2;
  bool m_bMarking = false;
  bool m_b3DBrush = false;
  bool m_bShowSegmentation = false;
  bool m_bShowBoundary = false;
  int m_nCorrectionMode = 1;  // 1 manual, 0 semi-automatic
  bool m_bScribbleHelpShown = false;
  QIcon m_hIcon;

  // Set just before a worker starts; the worker runs only when it is set and
  // clears it when it ends.
  std::atomic<bool> m_bRunRequested{false};
  // A worker runs (window's thread only).
  bool m_workerRunning = false;
  CRunSettings m_run;
  // Enabled state of the commands locked for a run, restored when it ends.
  std::map<int, bool> m_lockedControls;

  std::map<int, QWidget*> m_controls;
  CVoxelSliceViewerWidget* m_viewerWidget = nullptr;
  QListWidget* m_log = nullptr;
};
