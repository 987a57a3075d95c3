// Nothing lost: the recovery offer at start and the question before the
// window closes with unsaved work. The recovery file itself is kept by the
// case model (CaseRecovery), which hears of every edit.
#include <QAbstractButton>
#include <ctime>
#include <filesystem>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/FileRules.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"

using namespace app;

namespace {
std::string LocalTime(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (!localtime_r(&time, &local)) return "unknown";
  char text[32];
  return std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local) ? text : "unknown";
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}
}  // namespace

std::string CCorvaneDlg::RecoveryFilePath() const {
  return m_recovery ? m_recovery->Store().FilePath() : std::string();
}

bool CCorvaneDlg::OfferRecovery() {
  if (!m_recovery) return false;
  session::RecoveryScan scan = session::ScanRecoveryFolder(m_recovery->Store().Folder(),
                                                           static_cast<std::int64_t>(std::time(nullptr)));
  if (!scan.unreadable.empty()) {
    std::string text = "A recovery file could not be read; it was moved aside (\".unreadable\"):";
    for (const std::string& line : scan.unreadable) text += "\n" + line;
    m_platform.ShowMessage(text);
  }
  for (session::FoundRecovery& found : scan.found) {
    const session::RecoveryState& state = found.state;
    const std::string work = "Corvane was closed without saving the work on " + state.imagePath +
                             " (last edit " + LocalTime(state.lastEdit) + ")";
    if (!IsFile(state.imagePath)) {
      m_platform.ShowMessage(work + ", but the image can no longer be found. The work is kept in [" +
                             found.path + "].");
      continue;
    }
    const int answer = m_platform.AskQuestion(work + ". Recover it?", {"Recover", "Discard"});
    if (answer == 1) found.Discard();
    if (answer != 0) continue;  // closed without an answer: offered again next time
    if (!Recover(found.path, state)) continue;
    // The work now lives in this window's own file: the old one can go.
    m_recovery->Note();
    if (m_recovery->Store().Flush()) found.Discard();
    return true;
  }
  return false;
}

bool CCorvaneDlg::Recover(const std::string& path, const session::RecoveryState& state) {
  LoadImageFile(state.imagePath);
  if (!m_case.Image() || m_case.ImagePath() != state.imagePath) {
    m_platform.ShowMessage("The image [" + state.imagePath + "] could not be loaded. The work is kept in [" +
                           path + "].");
    return false;
  }
  if (state.segmentation) {
    // Changed since it was loaded or saved: taken from the recovery file, and
    // unsaved until the user saves it.
    AdoptLoadedSegmentation(state.segmentation->Clone(), path);
    m_case.ForgetSavedSegmentation();
  } else if (!state.segmentationPath.empty()) {
    LoadSegmentationFile(state.segmentationPath);
  }
  if (!state.boundaryPath.empty()) LoadBoundaryFile(state.boundaryPath);

  // Mode, reference folder and brush as they were; Marking as the user had it
  // (in semi-automatic mode ticking it scans the reference folder again).
  m_case.SetReferenceDir(state.referenceDir);
  m_case.SetBrush3D(state.brush3D);
  if (state.brushSize > 0) m_case.SetBrushSize(state.brushSize);
  ShowSettings();
  const int modeButton = state.mode == static_cast<int>(session::CorrectionMode::kSemiAutomatic)
                             ? ctl::kSemiAutomatic
                         : state.mode == static_cast<int>(session::CorrectionMode::kSemiAutomaticMillimetre)
                             ? ctl::kSemiAutomaticMillimetre
                             : ctl::kManual;
  Button(modeButton)->click();
  if (state.marking && !m_case.Marking()) Button(ctl::kMarking)->click();
  if (state.strokeMap) {
    const session::RetiredVolumes retired = m_case.LoadStrokeMap(state.strokeMap->Clone(), path);
    m_case.ForgetSavedStrokes();  // not saved anywhere but in the recovery file
    LendStrokeMap();
    ShowSettings();
  }
  ApplyViewerMarking();
  m_case.ForgetHistory();
  return true;
}

bool CCorvaneDlg::SettleUnsavedWork() {
  struct Work {
    bool unsaved;
    const char* question;
    bool (session::CaseSession::*save)(const std::string&);
  };
  const Work works[] = {
      {m_case.SegmentationUnsaved(), "Save the segmentation?", &session::CaseSession::SaveSegmentation},
      {m_case.StrokesUnsaved(), "Save the scribbles?", &session::CaseSession::SaveStrokeMap},
  };
  for (const Work& work : works) {
    if (!work.unsaved) continue;
    switch (m_platform.AskQuestion(work.question, {"Save", "Discard", "Cancel"})) {
      case 0: {
        // The usual save dialog; a cancelled or failed save keeps the window open.
        const auto chosen = m_platform.ChooseFile(kSaveFilter, platform::FileListView::kList);
        if (!chosen || !(m_case.*work.save)(*chosen)) return false;
        break;
      }
      case 1:
        break;
      default:
        return false;
    }
  }
  return true;
}
