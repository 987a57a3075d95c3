// Commands of the Segmentation Correction area: the correction mode, Marking
// and 3D, the stroke map commands (Load UI, Save UI, Clear UI), and the two
// commands that hand work to a worker thread (Segmentation, Cancel), with the
// worker bodies.
//
// A worker never writes a volume the window's thread reads: the correction
// runs on copies the case model hands out (StartCorrection), and the steps that
// change what the viewer shows (taking the result back, the fresh stroke map,
// the restore) run on the window's thread at the end of the run. While a worker
// runs the commands that could touch its volumes are disabled (see BeginRun).
#include <QAbstractButton>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/FileRules.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"
#include "volume/Writers.h"

using namespace app;

// ---- Viewer coupling ---------------------------------------------------------------------

void CCorvaneDlg::LendStrokeMap() {
  // A map the viewer refuses, or none, leaves the viewer without one: it must
  // never keep a map the case has let go of.
  CVoxel* map = m_case.StrokeMap();
  if (!map || !Viewer().SetScribbleMap(map)) Viewer().ClearScribbleMap();
}

void CCorvaneDlg::ApplyViewerMarking() {
  Viewer().SetMarking(m_case.Marking(), m_case.Brush3D(), static_cast<float>(m_case.BrushSize()));
}

// ---- Mode, Marking, 3D ----------------------------------------------------------------

void CCorvaneDlg::OnSemiAutomatic() { ChooseReferenceMode(session::CorrectionMode::kSemiAutomatic); }

void CCorvaneDlg::OnSemiAutomaticMillimetre() {
  ChooseReferenceMode(session::CorrectionMode::kSemiAutomaticMillimetre);
}

void CCorvaneDlg::ChooseReferenceMode(session::CorrectionMode mode) {
  if (RefuseWhileRunning()) return;
  TakeTypedValues();
  const bool markingOff = m_case.SetCorrectionMode(mode);
  EnableModeControls();
  LendStrokeMap();
  if (markingOff) {
    // Semi-automatic correction needs Marking pressed again (it scans the references).
    SetChecked(ctl::kMarking, false);
    ApplyViewerMarking();
  }
}

void CCorvaneDlg::OnManual() {
  if (RefuseWhileRunning()) return;
  TakeTypedValues();
  m_case.SetCorrectionMode(session::CorrectionMode::kManual);
  EnableModeControls();
  LendStrokeMap();
}

void CCorvaneDlg::EnableModeControls() {
  EnableReferenceDirControls(session::UsesReferences(m_case.Mode()));
  EnableCorrectionControls(true);
}

void CCorvaneDlg::OnMarking() {
  if (RefuseWhileRunning()) return;
  // A zoom that cannot be taken stops the reading before the box: the case
  // keeps its Marking and the command goes on with it.
  if (TakeTypedValues() != TypedValues::kStoppedAtZoom)
    m_case.SetMarkingFlag(Button(ctl::kMarking)->isChecked());
  const auto enter = [this](const std::string& directory) -> std::optional<std::string> {
    if (!m_platform.SetCurrentDirectory(directory)) return std::nullopt;
    return m_platform.GetCurrentDirectory();
  };
  const auto busy = [this](bool scanning) {
    if (scanning) {
      m_platform.BeginWaitCursor();
    } else {
      m_platform.EndWaitCursor();
    }
  };
  const session::MarkingOutcome outcome = m_case.ApplyMarking(enter, busy);
  SetChecked(ctl::kMarking, outcome != session::MarkingOutcome::kOff);
  ApplyViewerMarking();
  if (outcome == session::MarkingOutcome::kOff) return;
  LendStrokeMap();
  if (outcome == session::MarkingOutcome::kOnAfterScan) {
    EnableCorrectionControls(true);
    ShowSettings();
  }
}

void CCorvaneDlg::On3D() {
  if (RefuseWhileRunning()) return;
  if (TakeTypedValues() != TypedValues::kStoppedAtZoom) m_case.SetBrush3D(Button(ctl::kBrush3D)->isChecked());
  ApplyViewerMarking();
}

// ---- Stroke map commands ---------------------------------------------------------------

void CCorvaneDlg::OnLoadUI() { LoadScribblesFile(std::nullopt); }

void CCorvaneDlg::LoadScribblesFile(const std::optional<std::string>& given) {
  if (RefuseWhileRunning()) return;
  if (!m_case.RequireMarking()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadBoundaryFilter, platform::FileListView::kList);
  if (!path) return;
  const platform::WaitCursor wait(m_platform);
  auto map = m_case.LoadVolume(*path);
  if (!map) return;
  const bool fits = m_case.Image() && map->SameSize(*m_case.Image());
  const session::RetiredVolumes retired = m_case.LoadStrokeMap(std::move(map), *path);
  LendStrokeMap();
  if (fits) ShowSettings();
}

void CCorvaneDlg::OnSaveUI() {
  if (RefuseWhileRunning()) return;
  if (!m_case.RequireStrokes()) return;
  const auto chosen = m_platform.ChooseFile(kSaveFilter, platform::FileListView::kList);
  if (!chosen) return;
  m_case.SaveStrokeMap(*chosen);
}

void CCorvaneDlg::OnClearUI() {
  if (RefuseWhileRunning()) return;
  const session::RetiredVolumes retired = m_case.ClearStrokeMap();
  LendStrokeMap();
  ShowSettings();
}

// ---- Starting the workers ---------------------------------------------------------------

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
  const platform::WaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  TakeTypedValues();
  m_job = m_case.StartCorrection();
  if (!m_job) return;
  // The worker reads the stroke map: no painting into it during the run.
  Viewer().SetMarking(false, m_case.Brush3D(), static_cast<float>(m_case.BrushSize()));
  if (!StartWorker(&CorrectionThreadProc)) ApplyViewerMarking();
}

void CCorvaneDlg::OnCancelCorrection() {
  if (RefuseWhileRunning()) return;
  if (!m_case.StartRestore()) return;
  StartWorker(&RestoreThreadProc);
}

// ---- Worker bodies (worker thread) --------------------------------------------------------

unsigned CCorvaneDlg::CorrectionThreadProc(CCorvaneDlg* dialog) {
  CCorvaneDlg& d = *dialog;
  if (!d.m_bRunRequested) {
    d.m_platform.RunOnWindowThread([&d] { d.EndRun(); });
    return 0;
  }
  // Only the run's own copies are touched here; the window's thread leaves
  // m_job alone until FinishCorrection.
  d.m_job->Run(d.m_platform, d.m_platform);
  d.m_platform.RunOnWindowThread([&d] { d.FinishCorrection(); });
  return 0;
}

unsigned CCorvaneDlg::RestoreThreadProc(CCorvaneDlg* dialog) {
  CCorvaneDlg& d = *dialog;
  if (!d.m_bRunRequested) {
    d.m_platform.RunOnWindowThread([&d] { d.EndRun(); });
    return 0;
  }
  d.m_platform.RunOnWindowThread([&d] { d.FinishRestore(); });
  return 0;
}

// ---- End of a run (window's thread) --------------------------------------------------------

void CCorvaneDlg::FinishCorrection() {
  const session::RetiredVolumes retired = m_case.FinishCorrection(std::move(m_job));
  SetChecked(ctl::kMarking, false);
  ApplyViewerMarking();
  LendStrokeMap();
  if (Viewer().SetSegmentation(m_case.Segmentation())) {
    m_bShowSegmentation = true;
    SetChecked(ctl::kShowSegmentation, true);
  }
  m_bRunRequested = false;
  EndRun();
}

void CCorvaneDlg::FinishRestore() {
  if (m_case.FinishRestore() && Viewer().SetSegmentation(m_case.Segmentation())) {
    m_bShowSegmentation = true;
    SetChecked(ctl::kShowSegmentation, true);
  }
  m_bRunRequested = false;
  EndRun();
}
