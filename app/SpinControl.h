// An up-down control: two arrow buttons attached to a buddy edit box.
//
// Each step reads the buddy's number (as the control's current position), moves
// the position by one within the range, writes it into the buddy and reports
// it with stepped(). The Up and Down keys in the buddy step it too.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace app {

class SpinControl : public QWidget {
  Q_OBJECT

 public:
  explicit SpinControl(QWidget* parent = nullptr);

  void SetBuddy(QLineEdit* buddy);
  // Range of the position (lower, upper).
  void SetRange(int lower, int upper);
  int Lower() const { return m_lower; }
  int Upper() const { return m_upper; }
  // Sets the position, limited to the range, and writes it into the buddy.
  void SetPosition(int position);
  int Position() const { return m_position; }

  // One step up (+1) or down (-1), as a click on an arrow does.
  void Step(int delta);

 signals:
  // After every step, with the new position.
  void stepped(int position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int Clamp(int value) const;
  void ReadBuddy();

  QPointer<QLineEdit> m_buddy;
  int m_lower = 0;
  int m_upper = 100;
  int m_position = 0;
  int m_pressed = 0;  // +1 upper arrow held, -1 lower arrow held
  QTimer m_repeat;
};

}  // namespace app
