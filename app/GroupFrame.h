// A group box drawn the classic way: an etched frame whose top line runs
// through the middle of the title. It holds no children; the controls it
// frames are its siblings, placed on top of it.
#pragma once

#include <QWidget>

class CGroupFrame : public QWidget {
  Q_OBJECT

 public:
  CGroupFrame(const QString& title, QWidget* parent = nullptr);
  const QString& Title() const { return m_title; }
  // Width the title needs, padding included (for layout checks).
  int TitleWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_title;
};
