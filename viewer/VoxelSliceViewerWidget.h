// The slice viewer's window: a thin QWidget around CVoxelSliceViewer.
//
// It owns the plain viewer (Viewer()), hands it its size, forwards mouse presses,
// releases, moves and the right double-click with the Shift / Ctrl / left-button flags,
// and paints the viewer's pixel buffer at (0, 0). Repaint requests from the viewer are
// queued to the widget's thread, so they may come from a worker thread.
//
// Readouts: the widget emits positionTextChanged / valueTextChanged / rangeTextChanged /
// zoomSpinPositionChanged for as long as its readouts are attached to the viewer:
//   viewer.Viewer().SetReadoutControls(viewer.ReadoutSignals());   // Load Image
//   viewer.Viewer().ClearReadoutControls();                        // Reset
// (A dialog may instead pass its own ViewerReadouts implementation.)
//
// Size-mismatch messages go to the volume::MessageSink set with Viewer().SetMessageSink(...).
// The widget handles no keyboard and no wheel input (wheel events propagate to the parent).
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>

#include "viewer/VoxelSliceViewer.h"

namespace viewer {

class VoxelSliceViewerWidget : public QWidget {
  Q_OBJECT

 public:
  explicit VoxelSliceViewerWidget(QWidget* parent = nullptr);
  ~VoxelSliceViewerWidget() override;

  // The viewer model: every viewer operation (SetImage, SetSliceZ, SetMarking, ...).
  CVoxelSliceViewer& Viewer() { return m_viewer; }
  const CVoxelSliceViewer& Viewer() const { return m_viewer; }

  // A ViewerReadouts that turns readouts into this widget's signals.
  ViewerReadouts* ReadoutSignals();

  QSize sizeHint() const override;

 signals:
  void positionTextChanged(const QString& text);
  void valueTextChanged(const QString& text);
  void rangeTextChanged(const QString& text);
  void zoomSpinPositionChanged(int percent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  class SignalReadouts;

  CVoxelSliceViewer m_viewer;
  std::unique_ptr<SignalReadouts> m_readoutSignals;
};

}  // namespace viewer
