// The view controls: slice sliders with their readouts, the intensity window
// sliders, the zoom slider and spin, the brush size spin, and their set-up
// after an image load.
#include <QSlider>
#include <algorithm>

#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/SpinControl.h"
#include "app/ViewLimits.h"
#include "viewer/VoxelSliceViewerWidget.h"

using namespace app;

namespace {
// The zoom handed to the viewer stays inside the zoom slider's range.
using limits::kZoomMaximum;
using limits::kZoomMinimum;
using limits::kZoomTypedMaximum;
}  // namespace

void CCorvaneDlg::OnSliderMoved(QSlider* slider) {
  // The value always comes from the slider itself.
  const int position = slider->sliderPosition();
  const int id = slider->property("controlId").toInt();
  switch (id) {
    case ctl::kSliceZ:
      SetNumberText(ctl::kSliceZText, position);
      Viewer().SetSliceZ(position);
      Viewer().SetAxis(CVoxelSliceViewer::kAxisZ);
      break;
    case ctl::kSliceY:
      SetNumberText(ctl::kSliceYText, position);
      Viewer().SetSliceY(position);
      Viewer().SetAxis(CVoxelSliceViewer::kAxisY);
      break;
    case ctl::kSliceX:
      SetNumberText(ctl::kSliceXText, position);
      Viewer().SetSliceX(position);
      Viewer().SetAxis(CVoxelSliceViewer::kAxisX);
      break;
    case ctl::kZoomSlider:
      m_nZoom = std::clamp(position, kZoomMinimum, kZoomMaximum);
      Viewer().SetZoomPercent(m_nZoom);
      ShowSettings();
      break;
    case ctl::kWindowLow:
    case ctl::kWindowHigh: {
      const bool low = id == ctl::kWindowLow;
      SetNumberText(low ? ctl::kWindowLowText : ctl::kWindowHighText, position);
      const int other = Slider(low ? ctl::kWindowHigh : ctl::kWindowLow)->sliderPosition();
      Viewer().SetWindow(low ? position : other, low ? other : position);
      Viewer().UpdateRange();
      ShowSettings();
      break;
    }
    default:
      break;
  }
}

void CCorvaneDlg::OnSpinStepped(SpinControl* spin, int position) {
  if (!spin) return;
  if (spin == Spin(ctl::kZoomSpin)) {
    // Each step moves the zoom by ten percent; the result stays in 10 ... 1000.
    const long long zoom = 10LL * position - 9LL * m_nZoom;
    m_nZoom = static_cast<int>(std::clamp<long long>(zoom, kZoomMinimum, kZoomMaximum));
    spin->SetPosition(m_nZoom);
    Viewer().SetZoomPercent(m_nZoom);
    ShowSettings();
  } else if (spin == Spin(ctl::kBrushSpin)) {
    m_case.SetBrushSize(position);
    spin->SetPosition(m_case.BrushSize());
    Viewer().SetBrushRadius(m_case.BrushSize());
    ShowSettings();
  }
}

bool CCorvaneDlg::InitSliceControls() {
  TakeTypedValues();
  const CVoxelSliceViewer& viewer = Viewer();
  const struct {
    int slider, readout, extent, index;
  } slices[] = {
      {ctl::kSliceZ, ctl::kSliceZText, Image()->Z, viewer.SliceZ()},
      {ctl::kSliceY, ctl::kSliceYText, Image()->Y, viewer.SliceY()},
      {ctl::kSliceX, ctl::kSliceXText, Image()->X, viewer.SliceX()},
  };
  for (const auto& s : slices) {
    SetSliderRange(s.slider, 0, s.extent - 1);
    SetSliderPosition(s.slider, s.index);
    SetNumberText(s.readout, s.index);
  }
  SetSliderRange(ctl::kZoomSlider, kZoomMinimum, kZoomMaximum);
  // The fitted zoom, kept to what the zoom edit accepts when it is read back.
  m_nZoom = std::clamp(Viewer().GetZoomPercent(), kZoomMinimum, kZoomTypedMaximum);
  SetSliderPosition(ctl::kZoomSlider, m_nZoom);
  Viewer().SetCurrentSlice(0);
  Viewer().SetAxis(CVoxelSliceViewer::kAxisZ);
  ShowSettings();
  return true;
}
