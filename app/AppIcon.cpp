#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

namespace {
QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // A grey slice with a segmentation contour and a foreground scribble.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 40, 40));
  painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.15, s * 0.15);
  painter.setBrush(QColor(150, 150, 150));
  painter.drawEllipse(QRectF(s * 0.12, s * 0.18, s * 0.76, s * 0.64));
  QPen contour(QColor(60, 200, 90), s * 0.07);
  painter.setPen(contour);
  painter.setBrush(QColor(60, 200, 90, 90));
  painter.drawEllipse(QRectF(s * 0.30, s * 0.34, s * 0.40, s * 0.32));
  QPainterPath stroke;
  stroke.moveTo(s * 0.34, s * 0.56);
  stroke.cubicTo(s * 0.45, s * 0.42, s * 0.55, s * 0.62, s * 0.68, s * 0.44);
  painter.setPen(QPen(QColor(255, 0, 0), s * 0.08, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(stroke);
  return pixmap;
}
}  // namespace

QIcon CorvaneIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

}  // namespace app
