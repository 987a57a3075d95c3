// Commands of the Input/Output area and the reference directory chooser:
// loading the image, the boundary and the segmentation, saving the
// segmentation, Reset, the two Show On/Off boxes and the "..." button.
#include <QAbstractButton>
#include <QLabel>
#include <QSlider>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/FileRules.h"
#include "app/SpinControl.h"
#include "app/ViewLimits.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"
#include "volume/Writers.h"

using namespace app;

void CCorvaneDlg::OnLoadImage() { LoadImageFile(std::nullopt); }

void CCorvaneDlg::LoadImageFile(const std::optional<std::string>& given) {
  const platform::WaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadImageFilter, platform::FileListView::kList);
  if (!path) return;
  // A file that cannot be read changes nothing.
  auto image = m_case.LoadVolume(*path);
  if (!image) return;

  if (m_case.Segmentation()) {
    Viewer().ClearSegmentation();
    m_bShowSegmentation = false;
    SetChecked(ctl::kShowSegmentation, false);
  }
  if (m_case.Boundary()) {
    Viewer().ClearGroundTruth();
    m_bShowBoundary = false;
    SetChecked(ctl::kShowBoundary, false);
  }
  // The old image (and whatever else the case let go of) stays alive until the
  // viewer has the new one.
  const session::RetiredVolumes retired = m_case.AdoptImage(std::move(image), *path);
  if (!m_case.StrokeMap()) Viewer().ClearScribbleMap();

  Viewer().SetReadoutControls(this);
  Viewer().SetWindow(Slider(ctl::kWindowLow)->value(), Slider(ctl::kWindowHigh)->value());
  Viewer().SetImage(m_case.Image());
  InitSliceControls();
  EnableViewControls(true);
  EnableInputControls(true);
}

void CCorvaneDlg::OnLoadBoundary() { LoadBoundaryFile(std::nullopt); }

void CCorvaneDlg::LoadBoundaryFile(const std::optional<std::string>& given) {
  const platform::WaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadBoundaryFilter, platform::FileListView::kList);
  if (!path) return;
  auto boundary = m_case.LoadBoundaryVolume(*path);
  // A boundary the viewer refuses (another size than the image) is dropped;
  // the one shown before stays.
  if (!boundary || !Viewer().SetGroundTruth(boundary.get())) return;
  const session::RetiredVolumes retired = m_case.AdoptBoundary(std::move(boundary), *path);
  m_bShowBoundary = true;
  ShowSettings();
}

void CCorvaneDlg::OnLoadSegmentation() { LoadSegmentationFile(std::nullopt); }

void CCorvaneDlg::LoadSegmentationFile(const std::optional<std::string>& given) {
  const platform::WaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path =
      given ? given : m_platform.ChooseFile(kLoadSegmentationFilter, platform::FileListView::kReport);
  if (!path) return;
  auto segmentation = m_case.LoadVolume(*path);
  if (!segmentation) return;
  AdoptLoadedSegmentation(std::move(segmentation), *path);
}

void CCorvaneDlg::AdoptLoadedSegmentation(std::unique_ptr<CVoxel> segmentation, const std::string& path) {
  // A segmentation the viewer refuses is dropped; the previous one stays.
  if (!Viewer().SetSegmentation(segmentation.get())) return;
  const session::RetiredVolumes retired = m_case.AdoptSegmentation(std::move(segmentation), path);
  m_bShowSegmentation = true;
  ShowSettings();
  EnableAlgorithmControls(true);
  // The mode button still ticked (from before a Reset, or a segmentation
  // loaded again) can be used at once, with its controls.
  if (m_case.ModeChosen()) EnableModeControls();
}

void CCorvaneDlg::OnSaveSegmentation() {
  if (RefuseWhileRunning()) return;
  if (!m_case.RequireSegmentation()) return;
  const auto chosen = m_platform.ChooseFile(
      m_case.ImageIsDicom() ? kSaveSegmentationDicomFilter : kSaveFilter, platform::FileListView::kList);
  if (!chosen) return;
  m_case.SaveSegmentation(*chosen);
}

void CCorvaneDlg::OnShowBoundary() {
  m_bShowBoundary = Button(ctl::kShowBoundary)->isChecked();
  TakeTypedValues();
  Viewer().SetShowGroundTruth(m_bShowBoundary);
  update();
}

void CCorvaneDlg::OnShowSegmentation() {
  m_bShowSegmentation = Button(ctl::kShowSegmentation)->isChecked();
  TakeTypedValues();
  Viewer().SetShowSegmentation(m_bShowSegmentation);
  update();
}

void CCorvaneDlg::OnBrowseReferenceDir() {
  if (RefuseWhileRunning()) return;
  const auto folder = m_platform.BrowseForFolder("Select directory containing training data");
  if (!folder) return;
  m_case.ChooseReferenceDir(*folder);
  ShowSettings();
}

void CCorvaneDlg::OnReset() {
  if (RefuseWhileRunning()) return;
  // The viewer lets go of every volume before it is freed.
  Viewer().ClearSegmentation();
  Viewer().ClearGroundTruth();
  Viewer().ClearScribbleMap();
  const bool wasMarking = m_case.Marking();
  const session::RetiredVolumes retired = m_case.Reset();

  Viewer().HideImage();
  m_bShowSegmentation = false;
  m_bShowBoundary = false;
  Viewer().ClearReadoutControls();

  if (wasMarking) {
    // The case put the brush back to its start too.
    SetChecked(ctl::kMarking, false);
    ApplyViewerMarking();
  }

  EnableInputControls(false);
  EnableReferenceDirControls(false);
  EnableCorrectionControls(false);
  EnableAlgorithmControls(false);

  Viewer().SetSliceZ(0);
  Viewer().SetSliceY(0);
  Viewer().SetSliceX(0);
  for (const auto& [slider, readout] :
       {std::pair{ctl::kSliceZ, ctl::kSliceZText}, std::pair{ctl::kSliceY, ctl::kSliceYText},
        std::pair{ctl::kSliceX, ctl::kSliceXText}}) {
    SetNumberText(readout, 0);
    SetSliderPosition(slider, 0);
  }
  SetWindowSlidersToDefaults();
  Spin(ctl::kZoomSpin)->SetRange(limits::kZoomMinimum, limits::kZoomMaximum);
  Spin(ctl::kBrushSpin)->SetRange(limits::kBrushMinimum, limits::kBrushMaximum);
  EnableViewControls(false);

  SetControlText(ctl::kPositionText, QStringLiteral("(0, 0, 0)"));
  SetControlText(ctl::kIntensityText, QStringLiteral("<0, 0>"));
  SetControlText(ctl::kRangeText, QStringLiteral("[0, 0]"));
  ClearLog();
  ShowSettings();
}
