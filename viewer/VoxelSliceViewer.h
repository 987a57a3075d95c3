// The slice viewer: shows one slice of the MR volume as a grey-scale picture with the
// ground-truth boundary, the segmentation and the user's scribbles overlaid in colour,
// and turns mouse input into scribbles, panning and readouts.
//
// This class is plain C++ (no GUI toolkit). It renders into its own 24-bit top-down pixel
// buffer (bytes blue, green, red per pixel; rows `Stride()` bytes apart) that a thin
// widget (VoxelSliceViewerWidget) copies to the screen at (0, 0), and it receives mouse
// input as plain calls. Everything it wants to tell the outside goes through three hooks:
//   - a repaint request (SetRepaintRequest), which the widget turns into a queued update;
//   - the readout controls (SetReadoutControls), which receive the position, intensity and
//     range texts and the zoom spin position;
//   - a volume::MessageSink for the two size-mismatch messages.
//
// The viewer never owns a volume: image, ground truth, segmentation and scribble map are
// borrowed and must outlive the viewer's reference to them. Clear the reference (Clear*,
// or another setter) before freeing a volume.
//
// Views (ViewAxis): kAxisZ shows an x/y plane selected by slice index z, kAxisY an x/z plane
// selected by slice index y, kAxisX a z/y plane selected by slice index x (screen column /
// screen row).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "viewer/Brush.h"
#include "volume/ScribbleValues.h"
#include "volume/Voxel.h"

namespace viewer {

// Receivers of the viewer's readouts: the dialog's position label, value label, range
// label and zoom spin control. Called on the thread that drives the viewer.
class ViewerReadouts {
 public:
  virtual ~ViewerReadouts() = default;
  // "(x, y, z)" of the voxel under the mouse (also when it lies outside the volume).
  virtual void SetPositionText(const std::string& text) = 0;
  // "<display, voxel>": blue byte of the shown pixel and the image voxel (-1 outside).
  virtual void SetValueText(const std::string& text) = 0;
  // "[min max]" of the image intensities, written by UpdateRange.
  virtual void SetRangeText(const std::string& text) = 0;
  // New position of the zoom spin control in percent (right double-click).
  virtual void SetZoomSpinPosition(int percent) = 0;
};

// Modifier and button state carried by a mouse message.
struct MouseKeys {
  bool shift = false;
  bool control = false;
  bool leftButton = false;  // the left button is held during this message
};

// Told when one stroke of the brush begins (a left press with Marking on) and
// when it ends (the release), so that its owner can keep the stroke as one edit.
class StrokeListener {
 public:
  virtual ~StrokeListener() = default;
  virtual void StrokeBegins() = 0;
  virtual void StrokeEnds() = 0;
};

}  // namespace viewer

class CVoxelSliceViewer {
 public:
  // Fixed texts shown when an overlay does not fit the image.
  static constexpr const char* kGroundTruthMismatch =
      "ground truth dimension does not match current view voxel\n";
  static constexpr const char* kSegmentationMismatch =
      "segmentation result dimension does not match current view voxel\n";

  // The shown view, named after the axis its slice index runs along; the values are the
  // order of the dialog's slice sliders (Z, Y, X). A value outside these shows nothing.
  enum ViewAxis : int { kAxisZ = 0, kAxisY = 1, kAxisX = 2 };

  // Colour of pixels outside the volume or of a hidden image.
  static constexpr std::uint8_t kBackgroundRed = 239, kBackgroundGreen = 235, kBackgroundBlue = 222;

  CVoxelSliceViewer() = default;
  CVoxelSliceViewer(const CVoxelSliceViewer&) = delete;
  CVoxelSliceViewer& operator=(const CVoxelSliceViewer&) = delete;

  // ---- Hooks -------------------------------------------------------------------------

  // Where the size-mismatch messages go (may be null: then they are dropped).
  void SetMessageSink(volume::MessageSink* sink) { m_messages = sink; }
  // Called whenever the picture must be redrawn (never from inside Render). May be called
  // from a worker thread through SetSegmentation / SetScribbleMap / SetMarking, so the
  // receiver must only schedule the repaint (e.g. a queued QWidget::update).
  void SetRepaintRequest(std::function<void()> request) { m_repaint = std::move(request); }
  // Who hears of the brush strokes (may be null). Called on the thread of the mouse.
  void SetStrokeListener(viewer::StrokeListener* listener) { m_strokeListener = listener; }
  // Size of the window in pixels. Only taken by the first SetImage (InitBitmap); the
  // bitmap is never resized afterwards.
  void SetViewSize(int width, int height);

  // ---- Volumes (borrowed, never freed) ------------------------------------------------

  // Shows `image`: show image := on, sets up the bitmap on first use, applies the
  // requested intensity window (UpdateRange) and fits the zoom (FitZoom). Keeps pan;
  // slice indices are brought into the new image's range; overlays whose size differs
  // from the new image are dropped (as if cleared). Returns false and changes nothing for
  // a null image or one without data.
  bool SetImage(const CVoxel* image);
  // Ground-truth boundary overlay. A size different from the image's (or no image, or no
  // data) shows kGroundTruthMismatch and returns false, state unchanged. On success also
  // switches show ground truth on and repaints.
  bool SetGroundTruth(const CVoxel* volume);
  // Segmentation overlay; kSegmentationMismatch on a size mismatch, as SetGroundTruth.
  bool SetSegmentation(const CVoxel* volume);
  // The scribble map the brush paints into and the renderer draws while marking is on.
  // A size mismatch returns false silently, state unchanged. No overlay flag changes.
  bool SetScribbleMap(CVoxel* volume);
  // Drop a reference (and, for the overlays, switch its show flag off); repaint.
  void ClearGroundTruth();
  void ClearSegmentation();
  void ClearScribbleMap();
  // Show image := off (every pixel gets the background colour); repaint.
  void HideImage();

  // ---- Readouts ----------------------------------------------------------------------

  // Where readouts go from now on (null = none); ClearReadoutControls() drops them.
  void SetReadoutControls(viewer::ViewerReadouts* readouts) { m_readouts = readouts; }
  void ClearReadoutControls() { m_readouts = nullptr; }

  // ---- Intensity window --------------------------------------------------------------

  // Records the requested window (low, high); the active window changes only at the next
  // UpdateRange. Repaints.
  void SetWindow(int low, int high);
  // Scans the image for its minimum and maximum, writes "[min max]" to the range readout,
  // then makes the requested window the active one (clamped to 16 bits).
  void UpdateRange();

  // ---- Zoom, axis, slices ------------------------------------------------------------

  // Zoom := min(view width / horizontal extent, view height / vertical extent) of the
  // current axis (1.0 for an invalid axis). Repaints.
  void FitZoom();
  // Zoom in percent, truncated toward zero.
  int GetZoomPercent() const;
  // Zoom := p / 100. A p <= 0 is ignored (the zoom must stay positive). Repaints.
  void SetZoomPercent(int p);
  // Switches the shown axis. Same axis: nothing happens. Keeps zoom and pan.
  void SetAxis(ViewAxis axis);
  // Slice index of the current axis := i, without repaint.
  void SetCurrentSlice(int i);
  // Slice indices of the views kAxisZ, kAxisY and kAxisX; each repaints.
  void SetSliceZ(int i);
  void SetSliceY(int i);
  void SetSliceX(int i);

  // ---- Overlay switches and brush ----------------------------------------------------

  // The dialog's Show On/Off check boxes; an overlay is drawn only if its volume is set.
  void SetShowGroundTruth(bool show);
  void SetShowSegmentation(bool show);
  // Brush radius in voxels; repaints.
  void SetBrushRadius(int r);
  // Marking (painting on, scribble overlay on), 3-D brush and brush radius; repaints.
  void SetMarking(bool marking, bool brush3D, float radius);

  // ---- Rendering ---------------------------------------------------------------------

  // Renders the current slice into the pixel buffer. Returns false, leaving the previous
  // picture in the buffer, when there is no image or bitmap, the axis is invalid or the
  // slice index lies outside the volume.
  bool Render();
  // The pixel buffer: ViewHeight() rows of Stride() bytes, 3 bytes (B, G, R) per pixel,
  // top row first. Null until the bitmap is set up.
  const std::uint8_t* Pixels() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }

  // ---- Mouse (point in window pixels) -------------------------------------------------

  // Left press: paints one brush stroke when marking is on (Shift = erase, Ctrl =
  // background, otherwise foreground; Shift+Ctrl = foreground).
  void OnLButtonDown(const viewer::MouseKeys& keys, int px, int py);
  void OnLButtonUp(int px, int py);
  // Move: paints while the left button is held with marking on, pans while the right
  // button is down, updates the readouts, then requests a repaint.
  void OnMouseMove(const viewer::MouseKeys& keys, int px, int py);
  void OnRButtonDown(int px, int py);
  void OnRButtonUp(int px, int py);
  // Right double-click: FitZoom, zoom spin := zoom percent, pan := (0, 0).
  void OnRButtonDblClk();

  // ---- State (read) ------------------------------------------------------------------

  const CVoxel* Image() const { return m_image; }
  const CVoxel* GroundTruth() const { return m_groundTruth; }
  const CVoxel* Segmentation() const { return m_segmentation; }
  const CVoxel* ScribbleMap() const { return m_scribbleMap; }
  ViewAxis Axis() const { return m_axis; }
  int SliceZ() const { return m_sliceZ; }
  int SliceY() const { return m_sliceY; }
  int SliceX() const { return m_sliceX; }
  double Zoom() const { return m_zoom; }
  int PanX() const { return m_panX; }
  int PanY() const { return m_panY; }
  std::int16_t WindowLow() const { return m_windowLow; }
  std::int16_t WindowHigh() const { return m_windowHigh; }
  float BrushRadius() const { return m_brushRadius; }
  bool Marking() const { return m_marking; }
  bool Brush3D() const { return m_brush3D; }
  bool ShowImage() const { return m_showImage; }
  bool ShowGroundTruth() const { return m_showGroundTruth; }
  bool ShowSegmentation() const { return m_showSegmentation; }
  std::int16_t DisplayValue() const { return m_displayValue; }
  std::int16_t VoxelValue() const { return m_voxelValue; }
  bool BitmapReady() const { return m_bitmapReady; }
  int ViewWidth() const { return m_viewWidth; }
  int ViewHeight() const { return m_viewHeight; }
  int Stride() const { return m_stride; }

 private:
  // Plane geometry of one axis (width, height, depth and the voxel index steps).
  using Plane = viewer::BrushPlane;
  bool PlaneOf(ViewAxis axis, Plane& plane) const;
  // The slice index used by `axis`, or null for an invalid axis.
  int* SliceOfAxis(ViewAxis axis);
  const int* SliceOfAxis(ViewAxis axis) const;
  // The image is set, holds data and its voxel count matches its dimensions.
  bool HasUsableImage() const;

  void InitBitmap();
  void Repaint() const;
  void ShowMessage(const char* text) const;
  bool Fits(const CVoxel* volume) const;
  void DropMismatchedOverlays();

  // Paints a disc (or a stack of discs with the 3-D brush) of `value` around plane
  // point (h, v) of the current slice. Returns false when a layer lies wholly outside.
  // Grey level of every 16-bit intensity under the active window (65536 entries, rebuilt
  // only when the window changes): one table lookup per pixel instead of a division.
  const std::uint8_t* GreyLevels();

  bool PaintBrush(int h, int v, std::int16_t value, bool brush3D);
  // Tells the stroke listener a stroke begins, unless one is open.
  void OpenStroke();
  void PaintAt(const viewer::MouseKeys& keys, int px, int py);
  void UpdateReadouts(int px, int py);

  volume::MessageSink* m_messages = nullptr;
  viewer::ViewerReadouts* m_readouts = nullptr;
  viewer::StrokeListener* m_strokeListener = nullptr;
  bool m_strokeOpen = false;
  std::function<void()> m_repaint;

  int m_requestedWidth = 0, m_requestedHeight = 0;
  int m_viewWidth = 0, m_stride = 0, m_viewHeight = 0;

  const CVoxel* m_image = nullptr;
  const CVoxel* m_groundTruth = nullptr;
  const CVoxel* m_segmentation = nullptr;
  CVoxel* m_scribbleMap = nullptr;

  ViewAxis m_axis = kAxisZ;
  std::int16_t m_displayValue = 0, m_voxelValue = 0;
  std::int16_t m_windowLow = 32767, m_windowHigh = -32768;
  int m_requestedHigh = 0, m_requestedLow = 0;
  bool m_bitmapReady = false;
  double m_zoom = 1.0;
  float m_brushRadius = 2.0f;
  int m_panX = 0, m_panY = 0;
  int m_lastX = 0, m_lastY = 0;
  int m_sliceZ = 0, m_sliceY = 0, m_sliceX = 0;
  bool m_leftDown = false, m_rightDown = false;
  bool m_showImage = false;
  bool m_showGroundTruth = false, m_showSegmentation = false;
  bool m_marking = false;
  bool m_brush3D = false;

  std::vector<std::uint8_t> m_pixels;
  // Per-render lookup: voxel index offset of each screen column and row (-1 = outside).
  std::vector<std::int64_t> m_columnOffsets;
  std::vector<std::int64_t> m_rowOffsets;
  std::vector<std::uint8_t> m_greyLevels;
  int m_greyLow = 0, m_greyHigh = 0;
};
