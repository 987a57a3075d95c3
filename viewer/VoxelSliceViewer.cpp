#include "viewer/VoxelSliceViewer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "viewer/Brush.h"
#include "volume/Sinks.h"

using viewer::MouseKeys;
using viewer::PaintBrushDisc;
using viewer::TruncToInt;

namespace {

// floor(v + 0.5): the nearest voxel of a screen coordinate.
int RoundToInt(double v) { return TruncToInt(std::floor(v + 0.5)); }

int SaturatedAdd(int a, int b) {
  const std::int64_t sum = static_cast<std::int64_t>(a) + b;
  return static_cast<int>(std::clamp<std::int64_t>(sum, INT_MIN, INT_MAX));
}

std::int16_t NarrowTo16(int v) { return static_cast<std::int16_t>(std::clamp(v, -32768, 32767)); }

// min(t, 255) in double, truncated: the overlay colour clamp.
inline std::uint8_t Clamp255(double t) { return static_cast<std::uint8_t>(t < 255.0 ? t : 255.0); }

constexpr double kOverlayOffset = 30.0;

struct Rgb {
  std::uint8_t r, g, b;
};

// Colours of one image pixel of grey level l under the overlays. gt and seg are null when
// that overlay is not drawn; scribble likewise.
inline Rgb Shade(int l, const std::int16_t* gt, const std::int16_t* seg, const std::int16_t* scribble) {
  const double K = kOverlayOffset;
  const auto grey = static_cast<std::uint8_t>(l);
  Rgb c{grey, grey, grey};
  if (gt && seg) {
    const bool g = *gt != 0, s = *seg != 0;
    if (g && s) {
      c.r = c.g = Clamp255(0.5 * l + K);
    } else if (s) {
      c.r = Clamp255(0.5 * l + K);
      c.g = Clamp255(1.5 * l + K);
    } else if (g) {
      c.r = Clamp255(1.5 * l + K);
      c.g = Clamp255(0.5 * l + K);
    }
  } else {
    if (gt && *gt != 0) {
      c.r = Clamp255(1.5 * l + K);
      c.b = Clamp255(0.5 * l + K);
    }
    if (seg && *seg != 0) {
      const int r0 = c.r, b0 = c.b;
      switch (*seg) {
        case 2:
          c.g = Clamp255(0.7 * l + K);
          c.r = Clamp255(1.3 * r0 + K);
          break;
        case 3:
          c.b = Clamp255(1.5 * l + K);
          c.g = grey;
          c.r = Clamp255(0.5 * r0 + K);
          break;
        case 4:
          c.b = Clamp255(0.5 * l + K);
          c.g = grey;
          c.r = Clamp255(1.5 * r0 + K);
          break;
        case 5:
          c.b = Clamp255(0.5 * b0 + K);
          c.g = Clamp255(1.5 * l + K);
          break;
        case 6:
          c.b = Clamp255(1.5 * b0 + K);
          c.g = Clamp255(0.5 * l + K);
          break;
        case 7:
          c.b = Clamp255(b0 + K);
          c.g = Clamp255(l + K);
          break;
        case 8:
          c.b = Clamp255(r0 + K);
          c.g = Clamp255(l + K);
          break;
        case 9:
          c.b = Clamp255(b0 + K);
          c.g = Clamp255(r0 + K);
          break;
        case 10:
          c.b = Clamp255(0.5 * b0 + K);
          c.g = Clamp255(0.5 * l + K);
          break;
        default:  // 1, negative values and anything above 10
          c.g = Clamp255(1.5 * l + K);
          c.r = Clamp255(0.5 * r0 + K);
          break;
      }
    }
  }
  if (scribble) {
    if (*scribble == volume::scribble::kShownAsFore || *scribble == volume::scribble::kForeground) {
      c = {255, 0, 0};
    } else if (*scribble == volume::scribble::kBackground) {
      c = {0, 0, 255};
    }
  }
  return c;
}

}  // namespace

// ---- Hooks and helpers ------------------------------------------------------------------

void CVoxelSliceViewer::SetViewSize(int width, int height) {
  m_requestedWidth = std::max(width, 0);
  m_requestedHeight = std::max(height, 0);
}

void CVoxelSliceViewer::Repaint() const {
  if (m_repaint) m_repaint();
}

void CVoxelSliceViewer::ShowMessage(const char* text) const {
  if (m_messages) m_messages->ShowMessage(text);
}

bool CVoxelSliceViewer::HasUsableImage() const {
  return m_image && m_image->HasData() && m_image->X > 0 && m_image->Y > 0 && m_image->Z > 0 &&
         static_cast<std::int64_t>(m_image->VoxelCount()) ==
             volume::VoxelCount(m_image->X, m_image->Y, m_image->Z);
}

bool CVoxelSliceViewer::Fits(const CVoxel* volume) const {
  return volume && HasUsableImage() && volume->HasData() && volume->SameSize(*m_image) &&
         volume->VoxelCount() == m_image->VoxelCount();
}

int* CVoxelSliceViewer::SliceOfAxis(ViewAxis axis) {
  switch (axis) {
    case kAxisZ:
      return &m_sliceZ;
    case kAxisY:
      return &m_sliceY;
    case kAxisX:
      return &m_sliceX;
    default:
      return nullptr;
  }
}

const int* CVoxelSliceViewer::SliceOfAxis(ViewAxis axis) const {
  return const_cast<CVoxelSliceViewer*>(this)->SliceOfAxis(axis);
}

bool CVoxelSliceViewer::PlaneOf(ViewAxis axis, Plane& plane) const {
  if (!HasUsableImage()) return false;
  const int X = m_image->X, Y = m_image->Y, Z = m_image->Z;
  const std::int64_t row = X, slab = static_cast<std::int64_t>(X) * Y;
  switch (axis) {
    case kAxisZ:
      plane = {X, Y, Z, 1, row, slab};
      return true;
    case kAxisY:
      plane = {X, Z, Y, 1, slab, row};
      return true;
    case kAxisX:
      plane = {Z, Y, X, slab, row, 1};
      return true;
    default:
      return false;
  }
}

// ---- Volumes ----------------------------------------------------------------------------

bool CVoxelSliceViewer::SetImage(const CVoxel* image) {
  const CVoxel* previous = m_image;
  m_image = image;
  if (!HasUsableImage()) {
    m_image = previous;
    return false;
  }
  m_showImage = true;
  // Slice indices that cannot address the new image would leave the old picture on
  // screen; bring them into range (indices that fit are kept).
  m_sliceZ = std::clamp(m_sliceZ, 0, image->Z - 1);
  m_sliceY = std::clamp(m_sliceY, 0, image->Y - 1);
  m_sliceX = std::clamp(m_sliceX, 0, image->X - 1);
  DropMismatchedOverlays();
  InitBitmap();
  UpdateRange();
  FitZoom();
  return true;
}

void CVoxelSliceViewer::DropMismatchedOverlays() {
  if (m_groundTruth && !Fits(m_groundTruth)) {
    m_groundTruth = nullptr;
    m_showGroundTruth = false;
  }
  if (m_segmentation && !Fits(m_segmentation)) {
    m_segmentation = nullptr;
    m_showSegmentation = false;
  }
  if (m_scribbleMap && !Fits(m_scribbleMap)) m_scribbleMap = nullptr;
}

bool CVoxelSliceViewer::SetGroundTruth(const CVoxel* volume) {
  if (!HasUsableImage() || !volume) return false;
  if (!Fits(volume)) {
    ShowMessage(kGroundTruthMismatch);
    return false;
  }
  m_groundTruth = volume;
  m_showGroundTruth = true;
  Repaint();
  return true;
}

bool CVoxelSliceViewer::SetSegmentation(const CVoxel* volume) {
  if (!HasUsableImage() || !volume) return false;
  if (!Fits(volume)) {
    ShowMessage(kSegmentationMismatch);
    return false;
  }
  m_segmentation = volume;
  m_showSegmentation = true;
  Repaint();
  return true;
}

bool CVoxelSliceViewer::SetScribbleMap(CVoxel* volume) {
  if (!Fits(volume)) return false;
  m_scribbleMap = volume;
  Repaint();
  return true;
}

void CVoxelSliceViewer::ClearGroundTruth() {
  m_groundTruth = nullptr;
  m_showGroundTruth = false;
  Repaint();
}

void CVoxelSliceViewer::ClearSegmentation() {
  m_segmentation = nullptr;
  m_showSegmentation = false;
  Repaint();
}

void CVoxelSliceViewer::ClearScribbleMap() {
  m_scribbleMap = nullptr;
  Repaint();
}

void CVoxelSliceViewer::HideImage() {
  m_showImage = false;
  Repaint();
}

// ---- Bitmap, window, zoom, axis, slices --------------------------------------------------

void CVoxelSliceViewer::InitBitmap() {
  if (!m_bitmapReady && m_requestedWidth > 0 && m_requestedHeight > 0) {
    m_viewWidth = m_requestedWidth;
    m_viewHeight = m_requestedHeight;
    m_bitmapReady = true;
    m_axis = kAxisZ;
    m_stride = (3 * m_viewWidth + 3) & ~3;
    m_pixels.assign(static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(m_viewHeight), 128);
    m_columnOffsets.resize(static_cast<std::size_t>(m_viewWidth));
    m_rowOffsets.resize(static_cast<std::size_t>(m_viewHeight));
  }
  Repaint();
}

void CVoxelSliceViewer::SetWindow(int low, int high) {
  m_requestedLow = low;
  m_requestedHigh = high;
  Repaint();
}

void CVoxelSliceViewer::UpdateRange() {
  if (HasUsableImage()) {
    const std::int16_t* v = m_image->Data();
    const auto [lo, hi] = std::minmax_element(v, v + m_image->VoxelCount());
    if (m_readouts) {
      char text[32];
      std::snprintf(text, sizeof text, "[%d %d]", *lo, *hi);
      m_readouts->SetRangeText(text);
    }
  }
  m_windowHigh = NarrowTo16(m_requestedHigh);
  m_windowLow = NarrowTo16(m_requestedLow);
}

void CVoxelSliceViewer::FitZoom() {
  Plane plane;
  if (PlaneOf(m_axis, plane)) {
    const double zoom = std::min(static_cast<double>(m_viewWidth) / plane.width,
                                 static_cast<double>(m_viewHeight) / plane.height);
    // Before the bitmap exists the view has no size; keep a usable zoom.
    m_zoom = (zoom > 0.0 && std::isfinite(zoom)) ? zoom : 1.0;
  } else if (HasUsableImage()) {
    m_zoom = 1.0;  // invalid axis
  }
  Repaint();
}

int CVoxelSliceViewer::GetZoomPercent() const { return TruncToInt(m_zoom * 100.0); }

void CVoxelSliceViewer::SetZoomPercent(int p) {
  if (p <= 0) return;
  m_zoom = p / 100.0;
  Repaint();
}

void CVoxelSliceViewer::SetAxis(ViewAxis axis) {
  if (axis == m_axis) return;
  m_axis = axis;
  if (m_bitmapReady) Repaint();
}

void CVoxelSliceViewer::SetCurrentSlice(int i) {
  if (int* slice = SliceOfAxis(m_axis)) *slice = i;
}

void CVoxelSliceViewer::SetSliceZ(int i) {
  m_sliceZ = i;
  Repaint();
}

void CVoxelSliceViewer::SetSliceY(int i) {
  m_sliceY = i;
  Repaint();
}

void CVoxelSliceViewer::SetSliceX(int i) {
  m_sliceX = i;
  Repaint();
}

void CVoxelSliceViewer::SetShowGroundTruth(bool show) {
  m_showGroundTruth = show;
  Repaint();
}

void CVoxelSliceViewer::SetShowSegmentation(bool show) {
  m_showSegmentation = show;
  Repaint();
}

void CVoxelSliceViewer::SetBrushRadius(int r) {
  m_brushRadius = static_cast<float>(r);
  Repaint();
}

void CVoxelSliceViewer::SetMarking(bool marking, bool brush3D, float radius) {
  m_marking = marking;
  m_brush3D = brush3D;
  m_brushRadius = radius;
  Repaint();
}

// ---- Rendering --------------------------------------------------------------------------

const std::uint8_t* CVoxelSliceViewer::GreyLevels() {
  const int low = m_windowLow, high = m_windowHigh;
  if (m_greyLevels.empty() || low != m_greyLow || high != m_greyHigh) {
    m_greyLevels.resize(65536);
    m_greyLow = low;
    m_greyHigh = high;
    for (int v = -32768; v <= 32767; ++v) {
      int l;
      if (v < low) {
        l = 0;
      } else if (v > high) {
        l = 255;
      } else if (v == low) {
        l = 0;  // also a window of width 0: at or below it is black
      } else {
        // floor(x + 0.5) of x = (v - low) * 255 / (high - low); the product is exact, so
        // exact halves such as 127.5 round up as they should.
        l = static_cast<int>(std::floor((v - low) * 255.0 / (high - low) + 0.5));
      }
      m_greyLevels[static_cast<std::size_t>(v + 32768)] = static_cast<std::uint8_t>(l);
    }
  }
  return m_greyLevels.data();
}

bool CVoxelSliceViewer::Render() {
  if (!m_bitmapReady) return false;
  Plane plane;
  if (!PlaneOf(m_axis, plane)) return false;
  const int slice = *SliceOfAxis(m_axis);
  if (slice < 0 || slice >= plane.depth) return false;

  // Nearest voxel of every screen column and row, as an index offset (-1: outside).
  for (int c = 0; c < m_viewWidth; ++c) {
    const int k = RoundToInt((static_cast<double>(c) + m_panX) / m_zoom);
    m_columnOffsets[c] = (k >= 0 && k < plane.width) ? k * plane.colStep : -1;
  }
  for (int r = 0; r < m_viewHeight; ++r) {
    const int j = RoundToInt((static_cast<double>(r) + m_panY) / m_zoom);
    m_rowOffsets[r] = (j >= 0 && j < plane.height) ? j * plane.rowStep : -1;
  }

  const std::int16_t* image = m_image->Data();
  const std::int16_t* gt = (m_showGroundTruth && Fits(m_groundTruth)) ? m_groundTruth->Data() : nullptr;
  const std::int16_t* seg = (m_showSegmentation && Fits(m_segmentation)) ? m_segmentation->Data() : nullptr;
  const std::int16_t* scribbles = (m_marking && Fits(m_scribbleMap)) ? m_scribbleMap->Data() : nullptr;
  const std::int64_t sliceBase = slice * plane.sliceStep;
  const std::uint8_t* greyOf = GreyLevels() + 32768;  // indexed by the voxel value

  for (int r = 0; r < m_viewHeight; ++r) {
    std::uint8_t* out = m_pixels.data() + static_cast<std::size_t>(r) * m_stride;
    const std::int64_t rowOffset = m_rowOffsets[r];
    for (int c = 0; c < m_viewWidth; ++c, out += 3) {
      const std::int64_t colOffset = m_columnOffsets[c];
      if (!m_showImage || rowOffset < 0 || colOffset < 0) {
        out[0] = kBackgroundBlue;
        out[1] = kBackgroundGreen;
        out[2] = kBackgroundRed;
        continue;
      }
      const std::int64_t index = sliceBase + rowOffset + colOffset;
      const int l = greyOf[image[index]];
      if (!gt && !seg && !scribbles) {
        out[0] = out[1] = out[2] = static_cast<std::uint8_t>(l);
        continue;
      }
      const Rgb colour = Shade(l, gt ? gt + index : nullptr, seg ? seg + index : nullptr,
                               scribbles ? scribbles + index : nullptr);
      out[0] = colour.b;
      out[1] = colour.g;
      out[2] = colour.r;
    }
  }
  return true;
}

// ---- Mouse ------------------------------------------------------------------------------

bool CVoxelSliceViewer::PaintBrush(int h, int v, std::int16_t value, bool brush3D) {
  if (!(m_brushRadius > 0.0f)) return true;  // also a NaN radius
  Plane plane;
  if (!Fits(m_scribbleMap) || !PlaneOf(m_axis, plane)) return false;
  return PaintBrushDisc(m_scribbleMap->Data(), plane, *SliceOfAxis(m_axis), h, v, m_brushRadius, value,
                        brush3D);
}

void CVoxelSliceViewer::PaintAt(const MouseKeys& keys, int px, int py) {
  if (!m_bitmapReady || !Fits(m_scribbleMap)) return;
  // The brush truncates toward zero (the picture rounds to the nearest voxel).
  const int h = TruncToInt((static_cast<double>(px) + m_panX) / m_zoom);
  const int v = TruncToInt((static_cast<double>(py) + m_panY) / m_zoom);
  std::int16_t value = volume::scribble::kForeground;
  if (keys.shift && !keys.control) {
    value = volume::scribble::kNone;
  } else if (keys.control && !keys.shift) {
    value = volume::scribble::kBackground;
  }
  PaintBrush(h, v, value, m_brush3D);
}

void CVoxelSliceViewer::UpdateReadouts(int px, int py) {
  const int hr = RoundToInt((static_cast<double>(px) + m_panX) / m_zoom);
  const int vr = RoundToInt((static_cast<double>(py) + m_panY) / m_zoom);
  int x = 0, y = 0, z = 0;
  switch (m_axis) {
    case kAxisZ:
      x = hr, y = vr, z = m_sliceZ;
      break;
    case kAxisY:
      x = hr, y = m_sliceY, z = vr;
      break;
    case kAxisX:
      x = m_sliceX, y = vr, z = hr;
      break;
    default:
      return;
  }
  if (px >= 0 && px < m_viewWidth && py >= 0 && py < m_viewHeight) {
    m_displayValue = m_pixels[static_cast<std::size_t>(py) * m_stride + 3 * static_cast<std::size_t>(px)];
    m_voxelValue = m_image->Contains(x, y, z) ? m_image->At(x, y, z) : std::int16_t{-1};
  } else {
    m_displayValue = 0;
    m_voxelValue = 0;
  }
  if (m_readouts) {
    char text[64];
    std::snprintf(text, sizeof text, "<%d, %d>", m_displayValue, m_voxelValue);
    m_readouts->SetValueText(text);
    std::snprintf(text, sizeof text, "(%d, %d, %d)", x, y, z);
    m_readouts->SetPositionText(text);
  }
}

void CVoxelSliceViewer::OpenStroke() {
  if (m_strokeOpen) return;
  m_strokeOpen = true;
  if (m_strokeListener) m_strokeListener->StrokeBegins();
}

void CVoxelSliceViewer::OnLButtonDown(const MouseKeys& keys, int px, int py) {
  m_leftDown = true;
  m_lastX = px;
  m_lastY = py;
  if (m_marking) {
    OpenStroke();
    PaintAt(keys, px, py);
    Repaint();
  }
}

void CVoxelSliceViewer::OnLButtonUp(int px, int py) {
  m_leftDown = false;
  m_lastX = px;
  m_lastY = py;
  if (m_strokeOpen) {
    m_strokeOpen = false;
    if (m_strokeListener) m_strokeListener->StrokeEnds();
  }
}

void CVoxelSliceViewer::OnMouseMove(const MouseKeys& keys, int px, int py) {
  if (HasUsableImage() && m_bitmapReady) {
    if (m_leftDown && m_marking && keys.leftButton) {
      // Marking may have been ticked during the drag: what is painted from
      // here on is a stroke the owner hears of (and can undo), like any other.
      OpenStroke();
      PaintAt(keys, px, py);
    }
    if (m_rightDown) {
      m_panX = SaturatedAdd(m_panX, TruncToInt((static_cast<double>(m_lastX) - px) * m_zoom));
      m_panY = SaturatedAdd(m_panY, TruncToInt((static_cast<double>(m_lastY) - py) * m_zoom));
      m_lastX = px;
      m_lastY = py;
    }
    UpdateReadouts(px, py);
  }
  Repaint();
}

void CVoxelSliceViewer::OnRButtonDown(int px, int py) {
  m_rightDown = true;
  m_lastX = px;
  m_lastY = py;
}

void CVoxelSliceViewer::OnRButtonUp(int px, int py) {
  m_rightDown = false;
  m_lastX = px;
  m_lastY = py;
}

void CVoxelSliceViewer::OnRButtonDblClk() {
  FitZoom();
  if (m_readouts) m_readouts->SetZoomSpinPosition(GetZoomPercent());
  m_panX = 0;
  m_panY = 0;
  Repaint();
}
