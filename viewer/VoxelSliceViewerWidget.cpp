#include "viewer/VoxelSliceViewerWidget.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>

namespace viewer {

// Turns the viewer's readouts into the widget's signals.
class VoxelSliceViewerWidget::SignalReadouts final : public ViewerReadouts {
 public:
  explicit SignalReadouts(VoxelSliceViewerWidget* owner) : m_owner(owner) {}
  void SetPositionText(const std::string& text) override {
    emit m_owner->positionTextChanged(QString::fromStdString(text));
  }
  void SetValueText(const std::string& text) override {
    emit m_owner->valueTextChanged(QString::fromStdString(text));
  }
  void SetRangeText(const std::string& text) override {
    emit m_owner->rangeTextChanged(QString::fromStdString(text));
  }
  void SetZoomSpinPosition(int percent) override { emit m_owner->zoomSpinPositionChanged(percent); }

 private:
  VoxelSliceViewerWidget* m_owner;
};

namespace {

MouseKeys KeysOf(const QMouseEvent* event) {
  MouseKeys keys;
  keys.shift = event->modifiers().testFlag(Qt::ShiftModifier);
  keys.control = event->modifiers().testFlag(Qt::ControlModifier);
  keys.leftButton = event->buttons().testFlag(Qt::LeftButton);
  return keys;
}

}  // namespace

VoxelSliceViewerWidget::VoxelSliceViewerWidget(QWidget* parent)
    : QWidget(parent), m_readoutSignals(std::make_unique<SignalReadouts>(this)) {
  // Moves without a button still update the readouts.
  setMouseTracking(true);
  // The whole area is covered by the picture once an image is shown.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // No keyboard input: the viewer is skipped by focus traversal.
  setFocusPolicy(Qt::NoFocus);
  setAccessibleName(QStringLiteral("Slice viewer"));
  setAccessibleDescription(
      QStringLiteral("One slice of the MR image with the boundary, segmentation and scribbles overlaid. "
                     "Left button paints while Marking is on (Shift erases, Ctrl marks background), "
                     "right button drags the view, right double-click fits it."));
  // The viewer may ask for a repaint from a worker thread: always queue it to ours (a
  // posted call is dropped if the widget is gone by the time it would run).
  m_viewer.SetRepaintRequest([this] {
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
  });
  m_viewer.SetViewSize(width(), height());
}

VoxelSliceViewerWidget::~VoxelSliceViewerWidget() {
  m_viewer.SetRepaintRequest({});
  m_viewer.ClearReadoutControls();
}

ViewerReadouts* VoxelSliceViewerWidget::ReadoutSignals() { return m_readoutSignals.get(); }

QSize VoxelSliceViewerWidget::sizeHint() const { return {630, 510}; }

void VoxelSliceViewerWidget::resizeEvent(QResizeEvent* event) {
  // Only the size at the first SetImage counts; the bitmap keeps it afterwards.
  m_viewer.SetViewSize(width(), height());
  QWidget::resizeEvent(event);
}

void VoxelSliceViewerWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!m_viewer.Image() || !m_viewer.BitmapReady()) {
    // No picture yet: the empty black-framed viewer area.
    painter.fillRect(rect(), palette().window());
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    return;
  }
  // A failed render (slice out of range) leaves the previous picture in the buffer.
  m_viewer.Render();
  const QImage picture(m_viewer.Pixels(), m_viewer.ViewWidth(), m_viewer.ViewHeight(), m_viewer.Stride(),
                       QImage::Format_BGR888);
  painter.drawImage(QPoint(0, 0), picture);
}

void VoxelSliceViewerWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    m_viewer.OnLButtonDown(KeysOf(event), p.x(), p.y());
  } else if (event->button() == Qt::RightButton) {
    m_viewer.OnRButtonDown(p.x(), p.y());
  }
  event->accept();
}

void VoxelSliceViewerWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    m_viewer.OnLButtonUp(p.x(), p.y());
  } else if (event->button() == Qt::RightButton) {
    m_viewer.OnRButtonUp(p.x(), p.y());
  }
  event->accept();
}

void VoxelSliceViewerWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  m_viewer.OnMouseMove(KeysOf(event), p.x(), p.y());
  event->accept();
}

void VoxelSliceViewerWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double-click arrives here instead of as a press. A left
  // double-click does nothing beyond that.
  if (event->button() == Qt::RightButton) m_viewer.OnRButtonDblClk();
  event->accept();
}

}  // namespace viewer
