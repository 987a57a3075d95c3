// A group box drawn the classic way: an etched frame whose top line runs
// through the middle of the title. It holds no children; the controls it
// frames are its siblings, placed on top of it. Its contents rectangle
// (QWidget::contentsRect) is the area inside the frame lines, below the title:
// where the framed controls must lie.
#pragma once

#include <QWidget>

namespace app {

class GroupFrame : public QWidget {
  Q_OBJECT

 public:
  GroupFrame(const QString& title, QWidget* parent = nullptr);
  const QString& Title() const { return m_title; }
  // Width the title needs, padding included (for layout checks).
  int TitleWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateContentsMargins();
  QString m_title;
};

}  // namespace app
