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
#include "correction/BoundaryPoints.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"
#include "volume/Writers.h"

std::unique_ptr<CVoxel> CCorvaneDlg::LoadVolume(const std::string& path) {
  auto volume = std::make_unique<CVoxel>(path, &m_platform);
  if (!volume->HasData() || volume->X <= 0 || volume->Y <= 0 || volume->Z <= 0) {
    m_platform.ShowMessage("Failed to load [" + path + "]");
    return nullptr;
  }
  return volume;
}

bool CCorvaneDlg::SaveVolume(const CVoxel& volume, const std::string& chosenPath, std::string& written) {
  if (SaveVolumeAs(volume, chosenPath, ElementStorage::UnsignedByte, &written)) return true;
  m_platform.ShowMessage("Failed to save at : [" + written + "]");
  return false;
}

void CCorvaneDlg::WarnIfNotWhereTheImageIs(const CVoxel& volume, const std::string& what) {
  if (m_pImage && volume.SameSize(*m_pImage) && !SameGeometry(volume, *m_pImage))
    m_platform.ShowMessage(GeometryMismatchText(what, "image"));
}

void CCorvaneDlg::DiscardVolumesNotMatchingImage() {
  auto mismatched = [this](const std::unique_ptr<CVoxel>& volume) {
    return volume && !volume->SameSize(*m_pImage);
  };
  if (mismatched(m_pStrokeMap)) ReleaseStrokeMap();
  if (mismatched(m_pAccumulatedMap)) m_pAccumulatedMap.reset();
  if (mismatched(m_pSegmentationBackup)) m_pSegmentationBackup.reset();
  if (mismatched(m_pStrokeBackup)) m_pStrokeBackup.reset();
}

void CCorvaneDlg::OnLoadImage() { LoadImageFile(std::nullopt); }

void CCorvaneDlg::LoadImageFile(const std::optional<std::string>& given) {
  const CWaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadImageFilter, FileListView::kList);
  if (!path) return;
  // A file that cannot be read changes nothing.
  auto image = LoadVolume(*path);
  if (!image) return;
  m_strImagePath = *path;

  if (m_pSegmentation) {
    Viewer().ClearSegmentation();
    m_pSegmentation.reset();
    m_bShowSegmentation = false;
    SetChecked(ctl::kShowSegmentation, false);
  }
  if (m_pBoundary) {
    Viewer().ClearGroundTruth();
    m_pBoundary.reset();
    m_bShowBoundary = false;
    SetChecked(ctl::kShowBoundary, false);
  }
  // The old image stays alive until the viewer has the new one.
  const auto previous = std::move(m_pImage);
  m_pImage = std::move(image);
  DiscardVolumesNotMatchingImage();

  AppendLog("Load Input... Path : [" + m_strImagePath + "]");
  Viewer().SetReadoutControls(this);
  Viewer().SetWindow(Slider(ctl::kWindowLow)->value(), Slider(ctl::kWindowHigh)->value());
  Viewer().SetImage(m_pImage.get());
  InitSliceControls();
  EnableViewControls(true);
  EnableInputControls(true);
}

void CCorvaneDlg::OnLoadBoundary() { LoadBoundaryFile(std::nullopt); }

void CCorvaneDlg::LoadBoundaryFile(const std::optional<std::string>& given) {
  const CWaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadBoundaryFilter, FileListView::kList);
  if (!path) return;
  const auto label = LoadVolume(*path);
  if (!label) return;
  auto boundary = CBoundaryPoints(*label).Rasterise(label->X, label->Y, label->Z);
  // A boundary the viewer refuses (another size than the image) is dropped;
  // the one shown before stays.
  if (boundary) boundary->CopyGeometry(*label);
  if (!boundary || !Viewer().SetGroundTruth(boundary.get())) return;
  WarnIfNotWhereTheImageIs(*label, "boundary");
  m_pBoundary = std::move(boundary);
  m_bShowBoundary = true;
  UpdateData(false);
  AppendLog("Load Boundary... Path : [" + *path + "]");
}

void CCorvaneDlg::OnLoadSegmentation() { LoadSegmentationFile(std::nullopt); }

void CCorvaneDlg::LoadSegmentationFile(const std::optional<std::string>& given) {
  const CWaitCursor wait(m_platform);
  if (RefuseWhileRunning()) return;
  const auto path = given ? given : m_platform.ChooseFile(kLoadSegmentationFilter, FileListView::kReport);
  if (!path) return;
  auto segmentation = LoadVolume(*path);
  if (!segmentation) return;
  // A segmentation the viewer refuses is dropped; the previous one stays.
  if (!Viewer().SetSegmentation(segmentation.get())) return;
  WarnIfNotWhereTheImageIs(*segmentation, "segmentation");
  m_pSegmentation = std::move(segmentation);
  m_bShowSegmentation = true;
  UpdateData(false);
  m_pAccumulatedMap =
      std::make_unique<CVoxel>(m_pSegmentation->X, m_pSegmentation->Y, m_pSegmentation->Z, true);
  m_pAccumulatedMap->CopyGeometry(*m_pSegmentation);
  AppendLog("Load Segmentation... Path : [" + *path + "]");
  m_referencePaths.clear();
  EnableAlgorithmControls(true);
}

void CCorvaneDlg::OnSaveSegmentation() {
  if (RefuseWhileRunning()) return;
  if (!m_pSegmentation) {
    m_platform.ShowMessage("Please load a segmentation first");
    return;
  }
  const auto chosen = m_platform.ChooseFile(kSaveFilter, FileListView::kList);
  if (!chosen) return;
  std::string path;
  if (!SaveVolume(*m_pSegmentation, *chosen, path)) return;
  AppendLog("Segmentation is saved at : [" + path + "]");
}

void CCorvaneDlg::OnShowBoundary() {
  UpdateData(true);
  Viewer().SetShowGroundTruth(m_bShowBoundary);
  update();
}

void CCorvaneDlg::OnShowSegmentation() {
  UpdateData(true);
  Viewer().SetShowSegmentation(m_bShowSegmentation);
  update();
}

void CCorvaneDlg::OnBrowseReferenceDir() {
  if (RefuseWhileRunning()) return;
  const auto folder = m_platform.BrowseForFolder("Select directory containing training data");
  if (!folder) return;
  m_referencePaths.clear();
  m_strReferenceDir = *folder;
  UpdateData(false);
}

void CCorvaneDlg::OnReset() {
  if (RefuseWhileRunning()) return;
  // The viewer lets go of every volume before it is freed.
  Viewer().ClearSegmentation();
  Viewer().ClearGroundTruth();
  ReleaseStrokeMap();
  m_pSegmentation.reset();
  m_pBoundary.reset();
  m_pAccumulatedMap.reset();

  Viewer().HideImage();
  m_bShowSegmentation = false;
  m_bShowBoundary = false;
  Viewer().ClearReadoutControls();

  m_referencePaths.clear();
  m_bScribbleHelpShown = false;
  if (m_bMarking) {
    SetChecked(ctl::kMarking, false);
    m_bMarking = false;
    m_b3DBrush = false;
    m_nBrushSize = 2;
    Viewer().SetMarking(false, false, 2.0f);
  }
  m_strReferenceDir = m_defaultReferenceDir;

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
  Spin(ctl::kZoomSpin)->SetRange(10, 1000);
  Spin(ctl::kBrushSpin)->SetRange(1, 50);
  EnableViewControls(false);

  SetControlText(ctl::kPositionText, QStringLiteral("(0, 0, 0)"));
  SetControlText(ctl::kIntensityText, QStringLiteral("<0, 0>"));
  SetControlText(ctl::kRangeText, QStringLiteral("[0, 0]"));
  ClearLog();
  UpdateData(false);
}
