// The main window's layout at the scale factor CTest sets (QT_SCALE_FACTOR 1,
// 1.5 and 2): every visible control lies inside the contents rectangle of the
// group box that frames it, no two controls overlap, and texts, slider handles
// and edit boxes get the room they need.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <sstream>

#include "app/CorvaneApp.h"
#include "app/CorvaneDlg.h"
#include "app/DialogLayout.h"
#include "app/GroupFrame.h"
#include "platform/ScriptedPlatform.h"

using namespace app;

namespace {

std::string Describe(const QWidget* w) {
  std::ostringstream out;
  const QRect g = w->geometry();
  out << w->metaObject()->className() << " " << w->objectName().toStdString();
  if (auto* group = qobject_cast<const GroupFrame*>(w)) out << " \"" << group->Title().toStdString() << "\"";
  if (auto* label = qobject_cast<const QLabel*>(w)) out << " \"" << label->text().toStdString() << "\"";
  if (auto* button = qobject_cast<const QAbstractButton*>(w))
    out << " \"" << button->text().toStdString() << "\"";
  out << " at (" << g.x() << ", " << g.y() << ") " << g.width() << " x " << g.height() << " (wants "
      << w->sizeHint().width() << " x " << w->sizeHint().height() << ", at least "
      << w->minimumSizeHint().width() << " x " << w->minimumSizeHint().height() << ")";
  return out.str();
}

// A group box's contents rectangle in its parent's coordinates.
QRect Contents(const GroupFrame* group) { return group->contentsRect().translated(group->pos()); }

class Layout : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplyApplicationLook();
    m_dialog = std::make_unique<CCorvaneDlg>(m_platform);
    m_dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    for (QWidget* w : m_dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!w->isVisible()) continue;
      if (auto* group = qobject_cast<GroupFrame*>(w))
        m_groups.push_back(group);
      else
        m_controls.push_back(w);
    }
    // Readouts with the widest texts they show for a 2048 x 2048 image.
    const std::pair<int, const char*> widest[] = {
        {ctl::kSliceZText, "2047   "},        {ctl::kSliceYText, "2047   "},
        {ctl::kSliceXText, "63   "},          {ctl::kPositionText, "(511, 511, 63)"},
        {ctl::kIntensityText, "<255, 4095>"}, {ctl::kRangeText, "[-1024, 4095]"},
        {ctl::kWindowLowText, "-3000   "},    {ctl::kWindowHighText, "10000   "},
    };
    for (const auto& [id, text] : widest) m_dialog->ControlAs<QLabel>(id)->setText(QString::fromUtf8(text));
  }

  // The innermost group box around the control's centre, or null.
  const GroupFrame* GroupOf(const QWidget* w) const {
    const GroupFrame* best = nullptr;
    for (const GroupFrame* g : m_groups) {
      if (g == w || w->geometry().contains(g->geometry()) || !g->geometry().contains(w->geometry().center()))
        continue;
      if (!best || best->geometry().contains(g->geometry())) best = g;
    }
    return best;
  }

  ScriptedPlatform m_platform;
  std::unique_ptr<CCorvaneDlg> m_dialog;
  std::vector<GroupFrame*> m_groups;
  std::vector<QWidget*> m_controls;
};

}  // namespace

TEST_F(Layout, EveryControlLiesInsideItsGroupAndTheWindow) {
  ASSERT_GE(m_controls.size(), 45u) << "the window's controls were not found";
  const QRect window = m_dialog->rect();
  std::vector<QWidget*> all(m_controls.begin(), m_controls.end());
  all.insert(all.end(), m_groups.begin(), m_groups.end());
  for (const QWidget* w : all) {
    EXPECT_TRUE(window.contains(w->geometry())) << Describe(w) << " leaves the window";
    if (const GroupFrame* group = GroupOf(w)) {
      EXPECT_TRUE(Contents(group).contains(w->geometry()))
          << Describe(w) << " is not inside the contents of " << Describe(group) << ", contents ("
          << Contents(group).x() << ", " << Contents(group).y() << ") " << Contents(group).width() << " x "
          << Contents(group).height();
    }
  }
}

TEST_F(Layout, NoTwoControlsOverlap) {
  for (std::size_t i = 0; i < m_controls.size(); ++i) {
    for (std::size_t j = i + 1; j < m_controls.size(); ++j) {
      EXPECT_FALSE(m_controls[i]->geometry().intersects(m_controls[j]->geometry()))
          << Describe(m_controls[i]) << " overlaps " << Describe(m_controls[j]);
    }
  }
  // Group boxes either nest or stay apart.
  for (const GroupFrame* a : m_groups) {
    for (const GroupFrame* b : m_groups) {
      if (a != b && !a->geometry().contains(b->geometry()) && !b->geometry().contains(a->geometry())) {
        EXPECT_FALSE(a->geometry().intersects(b->geometry())) << Describe(a) << " overlaps " << Describe(b);
      }
    }
  }
}

TEST_F(Layout, TextsHandlesAndEditsGetTheRoomTheyNeed) {
  for (const QWidget* w : m_controls) {
    const QSize size = w->size();
    if (auto* label = qobject_cast<const QLabel*>(w)) {
      // The words of a label wrap; each must fit a line, and the lines the height.
      const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, size.width(), 10000),
                                                             Qt::TextWordWrap | Qt::AlignLeft, label->text());
      EXPECT_LE(needed.height(), size.height()) << Describe(w) << " cuts its text off below";
      for (const QString& word : label->text().split(' ', Qt::SkipEmptyParts)) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(word), size.width())
            << Describe(w) << " cuts " << word.toStdString();
      }
    } else if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
      EXPECT_LE(w->sizeHint().width(), size.width()) << Describe(w) << " cuts its text off";
      EXPECT_LE(w->minimumSizeHint().height(), size.height()) << Describe(w);
    } else if (auto* button = qobject_cast<const QPushButton*>(w)) {
      EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 4, size.width())
          << Describe(w) << " cuts its text off";
      EXPECT_LE(button->fontMetrics().height() + 2, size.height()) << Describe(w);
    } else if (qobject_cast<const QSlider*>(w) || qobject_cast<const QLineEdit*>(w)) {
      EXPECT_LE(w->minimumSizeHint().height(), size.height()) << Describe(w) << " is cut off";
    }
  }
}
