// The viewer's widget: mouse events with their modifiers reach the viewer, the picture is
// painted with the right channel order, readouts arrive as signals and repaint requests
// from another thread are carried out on the widget's thread.
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "viewer/VoxelSliceViewerWidget.h"

namespace {

void Send(QWidget& w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QMouseEvent event(type, QPointF(p), w.mapToGlobal(QPointF(p)), button, buttons, modifiers);
  QApplication::sendEvent(&w, &event);
}

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

class ViewerWidgetTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    widget = std::make_unique<viewer::VoxelSliceViewerWidget>();
    widget->setFixedSize(40, 30);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    image = CVoxel(40, 30, 3);
    for (std::size_t i = 0; i < image.VoxelCount(); ++i) image[i] = 100;
    map = CVoxel(40, 30, 3);
    auto& viewer = widget->Viewer();
    viewer.SetReadoutControls(widget->ReadoutSignals());
    viewer.SetWindow(0, 255);
    QVERIFY(viewer.SetImage(&image));
    viewer.SetZoomPercent(100);
    QVERIFY(viewer.SetScribbleMap(&map));
  }

  void cleanup() { widget.reset(); }

  void bitmapTakesTheWidgetSize() {
    QCOMPARE(widget->Viewer().ViewWidth(), 40);
    QCOMPARE(widget->Viewer().ViewHeight(), 30);
  }

  void pictureIsPaintedWithRedGreenBlueInPlace() {
    CVoxel seg(40, 30, 3);
    seg.At(2, 3, 0) = 1;
    QVERIFY(widget->Viewer().SetSegmentation(&seg));
    const QImage shot = widget->grab().toImage();
    QCOMPARE(shot.pixelColor(2, 3), QColor(80, 180, 100));
    QCOMPARE(shot.pixelColor(5, 5), QColor(100, 100, 100));
    widget->Viewer().ClearSegmentation();
  }

  void pressesAndMovesCarryTheModifiers() {
    widget->Viewer().SetMarking(true, false, 1.0f);
    Send(*widget, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    Send(*widget, QEvent::MouseMove, {7, 5}, Qt::NoButton, Qt::LeftButton,
         Qt::ShiftModifier | Qt::ControlModifier);
    Send(*widget, QEvent::MouseMove, {9, 5}, Qt::NoButton, Qt::NoButton);
    Send(*widget, QEvent::MouseButtonRelease, {9, 5}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(int(map.At(5, 5, 0)), 3);
    QCOMPARE(int(map.At(7, 5, 0)), 2);
    QCOMPARE(int(map.At(9, 5, 0)), 0);

    map.At(11, 5, 0) = 3;
    Send(*widget, QEvent::MouseButtonPress, {11, 5}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    Send(*widget, QEvent::MouseButtonRelease, {11, 5}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(int(map.At(11, 5, 0)), 0);
  }

  void rightButtonPansAndDoubleClickRefits() {
    QSignalSpy spin(widget.get(), &viewer::VoxelSliceViewerWidget::zoomSpinPositionChanged);
    Send(*widget, QEvent::MouseButtonPress, {20, 10}, Qt::RightButton, Qt::RightButton);
    Send(*widget, QEvent::MouseMove, {15, 8}, Qt::NoButton, Qt::RightButton);
    Send(*widget, QEvent::MouseButtonRelease, {15, 8}, Qt::RightButton, Qt::NoButton);
    QCOMPARE(widget->Viewer().PanX(), 5);
    QCOMPARE(widget->Viewer().PanY(), 2);
    Send(*widget, QEvent::MouseButtonDblClick, {15, 8}, Qt::RightButton, Qt::RightButton);
    QCOMPARE(widget->Viewer().PanX(), 0);
    QCOMPARE(spin.count(), 1);
    QCOMPARE(spin.at(0).at(0).toInt(), 100);
  }

  void readoutsArriveAsSignalsWhileAttached() {
    QSignalSpy position(widget.get(), &viewer::VoxelSliceViewerWidget::positionTextChanged);
    QSignalSpy value(widget.get(), &viewer::VoxelSliceViewerWidget::valueTextChanged);
    QSignalSpy range(widget.get(), &viewer::VoxelSliceViewerWidget::rangeTextChanged);
    widget->grab();  // render once, so the displayed level is in the buffer
    Send(*widget, QEvent::MouseMove, {4, 6}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(position.count(), 1);
    QCOMPARE(position.at(0).at(0).toString(), QString("(4, 6, 0)"));
    QCOMPARE(value.at(0).at(0).toString(), QString("<100, 100>"));
    widget->Viewer().UpdateRange();
    QCOMPARE(range.at(0).at(0).toString(), QString("[100 100]"));

    widget->Viewer().ClearReadoutControls();
    Send(*widget, QEvent::MouseMove, {5, 6}, Qt::NoButton, Qt::NoButton);
    QCOMPARE(position.count(), 1);
  }

  void repaintRequestFromAWorkerIsQueuedToTheWidget() {
    PaintCounter counter;
    widget->installEventFilter(&counter);
    QTest::qWait(20);
    const int before = counter.paints;
    std::thread worker([this] { widget->Viewer().SetMarking(false, false, 2.0f); });
    worker.join();
    QTRY_VERIFY(counter.paints > before);
    widget->removeEventFilter(&counter);
  }

 private:
  std::unique_ptr<viewer::VoxelSliceViewerWidget> widget;
  CVoxel image, map;
};

QTEST_MAIN(ViewerWidgetTest)
#include "ViewerWidgetTest.moc"
