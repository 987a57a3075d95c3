// Commands of the Segmentation Correction area: the correction mode, Marking
// and 3D, the stroke map commands (Load UI, Save UI, Clear UI), and the two
// commands that hand work to a worker thread (Segmentation, Cancel), with the
// worker bodies.
//
// A worker never writes a volume the window's thread reads: the correction
// runs on a copy of the segmentation, and the steps that change what the
// viewer shows (copying the result in, the fresh stroke map, the restore) run
// on the window's thread at the end of the run. While a worker runs the
// commands that could touch its volumes are disabled (see BeginRun).
#include <QAbstractButton>
#include <algorithm>
#include <cmath>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/FileRules.h"
#include "correction/CorrectionDriver.h"
#include "fusion/Fusion.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"
#include "volume/Writers.h"

namespace {
constexpr const char* kRuleLine = "-----------------------------------------";
constexpr const char* kNoStrokes = "There is no user interaction map.";
constexpr const char* kPressMarking = "Press marking check box first!!";
constexpr const char* kNoSegmentation = "Please load a segmentation first";
constexpr const char* kNoReference = "There is no referece image. Please check [Reference Image Directory]";

// The fixed parameters of every semi-automatic run.
CorrectionParameters SemiAutomaticParameters() {
  CorrectionParameters p;
  p.neighbourhoodMargin = C3DPoint(18, 18, 6);
  const int range = p.neighbourhoodMargin.x > 10 ? 8 : 4;
  p.translationRange = C3DPoint(range, range, range);
  const auto step = [](int r) { return static_cast<int>(std::floor(0.25 * r)); };
  p.translationStep =
      C3DPoint(step(p.translationRange.x), step(p.translationRange.y), step(p.translationRange.z));
  p.segmentationWeight = 0.005;
  p.otherScribbleWeight = 0.1;
  p.priorDistance = 10.0;
  p.pairDistance = 40.0;
  p.distanceScale = 100.0;
  p.votingReferences = 7;
  return p;
}

bool HasStrokes(const CVoxel* map) { return map && map->CountNonZero() > 0; }
}  // namespace

// ---- Stroke map helpers --------------------------------------------------------------

void CCorvaneDlg::ReleaseStrokeMap() {
  Viewer().ClearScribbleMap();
  m_pStrokeMap.reset();
}

void CCorvaneDlg::CreateFreshStrokeMap() {
  if (!m_pImage) return;
  ReleaseStrokeMap();
  m_pStrokeMap = std::make_unique<CVoxel>(m_pImage->X, m_pImage->Y, m_pImage->Z, true);
  // Painted on the image, so saved where the image lies.
  m_pStrokeMap->CopyGeometry(*m_pImage);
  Viewer().SetScribbleMap(m_pStrokeMap.get());
}

void CCorvaneDlg::CreateStrokeMapIfNone() {
  if (!m_pStrokeMap) CreateFreshStrokeMap();
}

void CCorvaneDlg::WriteScribbleHelp() {
  if (m_bScribbleHelpShown) return;
  for (const char* line : {kRuleLine, "Foreground scribble : Left", "Background scribble : ctrl+Left",
                           "Eraser : shift+Left", kRuleLine}) {
    AppendLog(line);
  }
  m_bScribbleHelpShown = true;
}

// ---- Mode, Marking, 3D ----------------------------------------------------------------

void CCorvaneDlg::OnSemiAutomatic() {
  if (RefuseWhileRunning()) return;
  UpdateData(true);
  m_nCorrectionMode = 0;
  EnableReferenceDirControls(true);
  EnableCorrectionControls(true);
  CreateStrokeMapIfNone();
  if (m_bMarking) {
    // Semi-automatic correction needs Marking pressed again (it scans the references).
    SetChecked(ctl::kMarking, false);
    m_bMarking = false;
    Viewer().SetMarking(false, m_b3DBrush, static_cast<float>(m_nBrushSize));
  }
}

void CCorvaneDlg::OnManual() {
  if (RefuseWhileRunning()) return;
  UpdateData(true);
  m_nCorrectionMode = 1;
  EnableReferenceDirControls(false);
  EnableCorrectionControls(true);
  CreateStrokeMapIfNone();
}

void CCorvaneDlg::OnMarking() {
  if (RefuseWhileRunning()) return;
  UpdateData(true);
  auto markingOff = [this] {
    SetChecked(ctl::kMarking, false);
    m_bMarking = false;
    Viewer().SetMarking(false, m_b3DBrush, static_cast<float>(m_nBrushSize));
  };
  auto markingOn = [this] {
    SetChecked(ctl::kMarking, true);
    m_bMarking = true;
    Viewer().SetMarking(true, m_b3DBrush, static_cast<float>(m_nBrushSize));
  };
  if (!m_bMarking) {
    markingOff();
    return;
  }
  if (m_nCorrectionMode == 1 || !m_referencePaths.empty()) {
    markingOn();
    WriteScribbleHelp();
    CreateStrokeMapIfNone();
    return;
  }
  // First scan in semi-automatic mode: the process moves into the reference
  // directory (and stays there) and collects the reference labels below it.
  // A directory that cannot be entered is not scanned at all.
  {
    const CWaitCursor wait(m_platform);
    if (m_platform.SetCurrentDirectory(m_strReferenceDir)) {
      FindReferenceLabels(m_platform.GetCurrentDirectory(), m_referencePaths, "mhd", "label");
    }
  }
  if (m_referencePaths.empty()) {
    m_platform.ShowMessage(kNoReference);
    markingOff();
    return;
  }
  markingOn();
  AppendLog(kRuleLine);
  AppendLog(std::to_string(m_referencePaths.size()) + " reference images are detected.");
  WriteScribbleHelp();
  CreateStrokeMapIfNone();
  EnableCorrectionControls(true);
  UpdateData(false);
}

void CCorvaneDlg::On3D() {
  if (RefuseWhileRunning()) return;
  UpdateData(true);
  Viewer().SetMarking(m_bMarking, m_b3DBrush, static_cast<float>(m_nBrushSize));
}

// ---- Stroke map commands ---------------------------------------------------------------

void CCorvaneDlg::OnLoadUI() { LoadScribblesFile(std::nullopt); }

void CCorvaneDlg::LoadScribblesFile(const std::optional<std::string>& given) {
  if (RefuseWhileRunning()) return;
  if (!m_bMarking) {
    m_platform.ShowMessage(kPressMarking);
    return;
  }
  const auto path = given ? given : m_platform.ChooseFile(kLoadBoundaryFilter, FileListView::kList);
  if (!path) return;
  const CWaitCursor wait(m_platform);
  auto map = LoadVolume(*path);
  if (!map) return;
  if (!m_pImage || !map->SameSize(*m_pImage)) {
    m_platform.ShowMessage("The dimension of mask is difference with it of MR image!!");
    // The map in place is given up, as the command always does; a fresh one of
    // the image's size takes its place.
    CreateFreshStrokeMap();
    return;
  }
  ReleaseStrokeMap();
  m_pStrokeMap = std::move(map);
  if (Viewer().SetScribbleMap(m_pStrokeMap.get())) {
    AppendLog("Load an user interaction map... Path: [" + *path + "]");
    UpdateData(false);
  }
}

void CCorvaneDlg::OnSaveUI() {
  if (RefuseWhileRunning()) return;
  if (!HasStrokes(m_pStrokeMap.get())) {
    m_platform.ShowMessage(kNoStrokes);
    return;
  }
  const auto chosen = m_platform.ChooseFile(kSaveFilter, FileListView::kList);
  if (!chosen) return;
  std::string path;
  if (!SaveVolume(*m_pStrokeMap, *chosen, path)) return;
  AppendLog("User interaction map is saved at : [" + path + "]");
}

void CCorvaneDlg::OnClearUI() {
  if (RefuseWhileRunning()) return;
  if (!HasStrokes(m_pStrokeMap.get())) {
    m_platform.ShowMessage(kNoStrokes);
    UpdateData(false);
    return;
  }
  CreateFreshStrokeMap();
  AppendLog("Clear user interaction map");
  UpdateData(false);
}

// ---- Starting the workers ---------------------------------------------------------------

bool CCorvaneDlg::CheckCorrectionVolumes() {
  if (!m_pSegmentation) {
    m_platform.ShowMessage(kNoSegmentation);
    return false;
  }
  const CVoxel& segmentation = *m_pSegmentation;
  const bool fits = m_pImage && segmentation.SameSize(*m_pImage) && m_pAccumulatedMap &&
                    m_pAccumulatedMap->SameSize(segmentation) && m_pStrokeMap &&
                    m_pStrokeMap->SameSize(segmentation);
  if (!fits) {
    m_platform.ShowMessage(
        "The segmentation does not match the MR image or the user interaction map. Please load the "
        "segmentation again.");
  }
  return fits;
}

bool CCorvaneDlg::StartWorker(unsigned (*proc)(CCorvaneDlg*)) {
  m_bRunRequested = true;
  BeginRun();
  if (m_platform.StartThread([this, proc] { proc(this); })) return true;
  m_bRunRequested = false;
  EndRun();
  m_platform.ShowMessage("ERROR: Failed to begin thread");
  return false;
}

void CCorvaneDlg::OnSegmentation() {
  const CWaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  UpdateData(true);
  if (!m_bMarking) {
    m_platform.ShowMessage(kPressMarking);
    return;
  }
  if (!HasStrokes(m_pStrokeMap.get())) {
    m_platform.ShowMessage(kNoStrokes);
    return;
  }
  if (!CheckCorrectionVolumes()) return;
  m_run = CRunSettings{m_nCorrectionMode, m_referencePaths};
  // The worker reads the stroke map: no painting into it during the run.
  Viewer().SetMarking(false, m_b3DBrush, static_cast<float>(m_nBrushSize));
  if (!StartWorker(&CorrectionThreadProc)) {
    Viewer().SetMarking(m_bMarking, m_b3DBrush, static_cast<float>(m_nBrushSize));
  }
}

void CCorvaneDlg::OnCancelCorrection() {
  if (RefuseWhileRunning()) return;
  // Without a backup the worker itself reports that there is nothing to restore.
  if (m_pSegmentationBackup) {
    if (!m_pSegmentation) {
      m_platform.ShowMessage(kNoSegmentation);
      return;
    }
    const bool fits =
        m_pSegmentationBackup->SameSize(*m_pSegmentation) &&
        (!m_pStrokeBackup || (m_pAccumulatedMap && m_pStrokeBackup->SameSize(*m_pSegmentation) &&
                              m_pAccumulatedMap->SameSize(*m_pSegmentation)));
    if (!fits) {
      m_platform.ShowMessage("The backup result does not match the current segmentation.");
      return;
    }
  }
  StartWorker(&RestoreThreadProc);
}

// ---- Worker bodies (worker thread) --------------------------------------------------------

unsigned CCorvaneDlg::CorrectionThreadProc(CCorvaneDlg* dialog) {
  CCorvaneDlg& d = *dialog;
  if (!d.m_bRunRequested) {
    d.m_platform.RunOnWindowThread([&d] { d.EndRun(); });
    return 0;
  }
  // The window's thread leaves these volumes alone for the whole run.
  d.m_pSegmentationBackup = d.m_pSegmentation->Clone();
  d.m_pStrokeBackup = d.m_pStrokeMap->Clone();
  MergeStrokes(*d.m_pAccumulatedMap, *d.m_pStrokeMap);

  // The viewer keeps showing the segmentation: the run corrects a copy of it.
  auto corrected = d.m_pSegmentation->Clone();
  if (d.m_run.correctionMode == 0) {
    d.AppendLog("Semi-automatic segmentation correction starts...");
    RunSemiAutomaticCorrection(*corrected, *d.m_pAccumulatedMap, d.m_run.referencePaths,
                               SemiAutomaticParameters(), d.m_platform, d.m_platform, nullptr,
                               &d.m_referenceCache);
    d.AppendLog("Semi-automatic segmentation correction is done...");
  } else {
    d.AppendLog("Manual segmentation correction starts...");
    ApplyScribbles(*corrected, *d.m_pAccumulatedMap);
    d.AppendLog("Manual segmentation correction is done...");
  }
  d.m_platform.RunOnWindowThread([&d, &corrected] { d.FinishCorrection(std::move(corrected)); });
  return 0;
}

unsigned CCorvaneDlg::RestoreThreadProc(CCorvaneDlg* dialog) {
  CCorvaneDlg& d = *dialog;
  if (!d.m_bRunRequested) {
    d.m_platform.RunOnWindowThread([&d] { d.EndRun(); });
    return 0;
  }
  if (!d.m_pSegmentationBackup) {
    d.m_platform.ShowMessage("There is no backup result.");
    d.m_platform.RunOnWindowThread([&d] {
      d.m_bRunRequested = false;
      d.EndRun();
    });
    return 0;
  }
  d.m_platform.RunOnWindowThread([&d] { d.FinishRestore(); });
  return 0;
}

// ---- End of a run (window's thread) --------------------------------------------------------

void CCorvaneDlg::FinishCorrection(std::unique_ptr<CVoxel> corrected) {
  CVoxel& segmentation = *m_pSegmentation;
  if (corrected && corrected->HasData() && corrected->SameSize(segmentation)) {
    std::copy(corrected->Data(), corrected->Data() + corrected->VoxelCount(), segmentation.Data());
  }
  SetChecked(ctl::kMarking, false);
  m_bMarking = false;
  Viewer().SetMarking(false, m_b3DBrush, static_cast<float>(m_nBrushSize));
  CreateFreshStrokeMap();
  if (Viewer().SetSegmentation(m_pSegmentation.get())) {
    m_bShowSegmentation = true;
    SetChecked(ctl::kShowSegmentation, true);
  }
  m_bRunRequested = false;
  EndRun();
}

void CCorvaneDlg::FinishRestore() {
  CVoxel& segmentation = *m_pSegmentation;
  const CVoxel& backup = *m_pSegmentationBackup;
  for (int z = 0; z < segmentation.Z; ++z)
    for (int y = 0; y < segmentation.Y; ++y)
      for (int x = 0; x < segmentation.X; ++x) segmentation.At(x, y, z) = backup.At(x, y, z);
  if (Viewer().SetSegmentation(m_pSegmentation.get())) {
    m_bShowSegmentation = true;
    SetChecked(ctl::kShowSegmentation, true);
  }
  // The last run's strokes leave the accumulated map again.
  if (m_pStrokeBackup) {
    const CVoxel& strokes = *m_pStrokeBackup;
    for (int z = 0; z < segmentation.Z; ++z)
      for (int y = 0; y < segmentation.Y; ++y)
        for (int x = 0; x < segmentation.X; ++x)
          if (strokes.At(x, y, z) > 0) m_pAccumulatedMap->At(x, y, z) = 0;
  }
  m_pSegmentationBackup.reset();
  AppendLog("Segmentation is returned");
  m_bRunRequested = false;
  EndRun();
}
