#include "app/GroupFrame.h"

#include <QEvent>
#include <QPainter>

namespace app {

namespace {
constexpr int kTitleLeft = 6;     // pixels from the frame's left edge to the title's gap
constexpr int kTitlePadding = 2;  // gap in the line on either side of the title
}  // namespace

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAccessibleName(title);
  UpdateContentsMargins();
}

void GroupFrame::UpdateContentsMargins() {
  // Two frame lines (shadow and light) on every side, the right and bottom
  // ones a pixel further in; the title's line height on top.
  setContentsMargins(2, fontMetrics().height(), 3, 3);
}

void GroupFrame::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) UpdateContentsMargins();
  QWidget::changeEvent(event);
}

int GroupFrame::TitleWidth() const {
  return kTitleLeft + 2 * kTitlePadding + fontMetrics().horizontalAdvance(m_title);
}

void GroupFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics = fontMetrics();
  const int top = metrics.height() / 2;
  const QRect frame(0, top, width() - 2, height() - top - 2);
  // Etched line: a shadow line with a light line one pixel below and right.
  painter.setPen(palette().color(QPalette::Light));
  painter.drawRect(frame.translated(1, 1));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame);
  if (m_title.isEmpty()) return;
  const int textWidth = metrics.horizontalAdvance(m_title);
  const QRect gap(kTitleLeft, 0, textWidth + 2 * kTitlePadding, metrics.height());
  painter.fillRect(gap, palette().color(QPalette::Window));
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.drawText(gap.adjusted(kTitlePadding, 0, -kTitlePadding, 0), Qt::AlignLeft | Qt::AlignTop, m_title);
}

}  // namespace app
