// The PNG picture through Qt's raster painter; no display is needed (the
// offscreen platform gives the fonts).
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "CurvePlot.h"

namespace plot {

namespace {

class PainterCanvas final : public Canvas {
 public:
  explicit PainterCanvas(QPainter& painter) : m_painter(painter) {}
  void Polyline(const Points& points, Colour colour, double width) override {
    m_painter.setPen(QPen(QColor(colour.r, colour.g, colour.b), width));
    m_painter.setBrush(Qt::NoBrush);
    const QPolygonF polygon = ToPolygon(points);
    m_painter.drawPolyline(polygon);
  }
  void Polygon(const Points& points, Colour colour, double opacity) override {
    m_painter.setPen(Qt::NoPen);
    m_painter.setBrush(QColor(colour.r, colour.g, colour.b, static_cast<int>(opacity * 255.0 + 0.5)));
    m_painter.drawPolygon(ToPolygon(points));
  }
  void Text(double x, double y, const std::string& text, Anchor anchor, double size, bool vertical) override {
    QFont font("DejaVu Sans");
    font.setPixelSize(static_cast<int>(size + 0.5));
    m_painter.setFont(font);
    m_painter.setPen(QColor(40, 40, 40));
    const QString string = QString::fromStdString(text);
    const double width = m_painter.fontMetrics().horizontalAdvance(string);
    const double shift = anchor == Anchor::kStart ? 0.0 : anchor == Anchor::kMiddle ? -width / 2 : -width;
    m_painter.save();
    m_painter.translate(x, y);
    if (vertical) m_painter.rotate(-90);
    m_painter.drawText(QPointF(shift, 0), string);
    m_painter.restore();
  }

 private:
  static QPolygonF ToPolygon(const Points& points) {
    QPolygonF polygon;
    for (const auto& [x, y] : points) polygon << QPointF(x, y);
    return polygon;
  }
  QPainter& m_painter;
};

// Qt's notes about the offscreen platform (no runtime folder, no display)
// say nothing about the picture; they stay off the tool's stderr.
void DropQtNotes(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

bool WritePng(const std::string& path, const std::vector<simulation::DiceCurve>& curves, std::string& error) {
  const QtMessageHandler previous = qInstallMessageHandler(DropQtNotes);
  // Text needs a GUI application; without a display Qt's offscreen platform serves.
  std::unique_ptr<QGuiApplication> app;
  static int argc = 1;
  static char name[] = "corvane-simulate";
  static char* argv[] = {name, nullptr};
  if (!QGuiApplication::instance()) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = std::make_unique<QGuiApplication>(argc, argv);
  }
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    DrawDiceCurves(curves, canvas);
  }
  // Written beside the target first, then renamed into place.
  const std::string temporary = path + ".tmp-png";
  if (!image.save(QString::fromStdString(temporary), "PNG") ||
      std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    qInstallMessageHandler(previous);
    error = "cannot write '" + path + "'";
    return false;
  }
  qInstallMessageHandler(previous);
  return true;
}

}  // namespace plot
