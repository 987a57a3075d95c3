#include "app/SpinControl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>

namespace app {

namespace {
constexpr int kFirstRepeatMs = 400;
constexpr int kRepeatMs = 60;
}  // namespace

SpinControl::SpinControl(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  m_repeat.setInterval(kRepeatMs);
  connect(&m_repeat, &QTimer::timeout, this, [this] {
    m_repeat.setInterval(kRepeatMs);
    if (m_pressed != 0) Step(m_pressed);
  });
}

void SpinControl::SetBuddy(QLineEdit* buddy) {
  if (m_buddy) m_buddy->removeEventFilter(this);
  m_buddy = buddy;
  if (m_buddy) m_buddy->installEventFilter(this);
}

int SpinControl::Clamp(int value) const {
  const int low = std::min(m_lower, m_upper), high = std::max(m_lower, m_upper);
  return std::clamp(value, low, high);
}

void SpinControl::SetRange(int lower, int upper) {
  m_lower = lower;
  m_upper = upper;
}

void SpinControl::SetPosition(int position) {
  m_position = Clamp(position);
  if (m_buddy) m_buddy->setText(QString::number(m_position));
}

void SpinControl::ReadBuddy() {
  if (!m_buddy) return;
  bool ok = false;
  const int value = m_buddy->text().trimmed().toInt(&ok);
  if (ok) m_position = Clamp(value);
}

void SpinControl::Step(int delta) {
  if (!isEnabled()) return;
  ReadBuddy();
  // The upper arrow moves toward the upper bound of the range.
  const int direction = m_upper >= m_lower ? delta : -delta;
  SetPosition(m_position + direction);
  emit stepped(m_position);
}

void SpinControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int half = height() / 2;
  const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
  for (int i = 0; i < 2; ++i) {
    QStyleOptionButton button;
    button.initFrom(this);
    button.rect = halves[i];
    const bool down = (i == 0 && m_pressed > 0) || (i == 1 && m_pressed < 0);
    button.state |= down ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = halves[i].adjusted(1, 1, -1, -1);
    style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
                           &painter, this);
  }
}

void SpinControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  m_pressed = event->position().y() < height() / 2.0 ? 1 : -1;
  Step(m_pressed);
  m_repeat.start(kFirstRepeatMs);
  update();
  event->accept();
}

void SpinControl::mouseReleaseEvent(QMouseEvent* event) {
  m_pressed = 0;
  m_repeat.stop();
  update();
  event->accept();
}

void SpinControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    m_pressed = 0;
    m_repeat.stop();
  }
  QWidget::changeEvent(event);
}

bool SpinControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
      Step(key->key() == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace app
