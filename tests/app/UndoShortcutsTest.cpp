// Undo and redo in the window: the shortcuts reach the case wherever the focus
// is, except in a text field, which keeps its own Ctrl+Z; one stroke of the
// mouse is one step; the viewer shows the volumes as they are after each step.
#include <QLineEdit>
#include <QListWidget>

#include "DialogFixture.h"

using namespace app;

using namespace apptest;

class UndoShortcutsTest : public DialogFixture {
 protected:
  void Key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(target, key, modifiers);
  }
  void Undo(QWidget* target) { Key(target, Qt::Key_Z, Qt::ControlModifier); }
  int Strokes() { return Dialog().StrokeMap()->CountNonZero(); }
};

TEST_F(UndoShortcutsTest, CtrlZUndoesAStrokeFromAnyControlAndBothRedoKeysRedoIt) {
  LoadCase();
  StartManualMarking();
  Slider(ctl::kSliceZ)->setSliderPosition(4);
  auto& widget = Dialog().ViewerWidget();
  // One stroke dragged across: press, moves, release.
  QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, ScreenPoint(10, 10));
  QTest::mouseMove(&widget, ScreenPoint(20, 10));
  QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, ScreenPoint(20, 10));
  const CVoxel afterFirst = *Dialog().StrokeMap();
  ASSERT_GT(afterFirst.CountNonZero(), 9);
  PaintAt(40, 30, Qt::ControlModifier);
  const CVoxel afterSecond = *Dialog().StrokeMap();
  const Lines log = Log();

  Undo(Dialog().Control(ctl::kLog));
  EXPECT_EQ(Strokes(), afterFirst.CountNonZero());
  Undo(Dialog().Control(ctl::kSegmentation));
  EXPECT_EQ(Strokes(), 0);
  Undo(&widget);  // nothing left to undo
  EXPECT_EQ(Strokes(), 0);
  // The viewer still paints into the case's map, and draws it.
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());

  Key(Dialog().Control(ctl::kMarking), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(std::equal(afterFirst.Data(), afterFirst.Data() + afterFirst.VoxelCount(),
                         Dialog().StrokeMap()->Data()));
  Key(&Dialog(), Qt::Key_Y, Qt::ControlModifier);
  EXPECT_TRUE(std::equal(afterSecond.Data(), afterSecond.Data() + afterSecond.VoxelCount(),
                         Dialog().StrokeMap()->Data()));
  // Undo and redo write no log line and show no message.
  EXPECT_EQ(Log(), log);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(UndoShortcutsTest, InATextFieldCtrlZEditsTheTextAndLeavesTheCaseAlone) {
  LoadCase();
  StartManualMarking();
  PaintAt(10, 10);
  const int strokes = Strokes();
  auto* edit = Dialog().ControlAs<QLineEdit>(ctl::kBrushSizeEdit);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, "7");
  ASSERT_EQ(edit->text(), "7");
  Undo(edit);
  EXPECT_EQ(edit->text(), "2");
  EXPECT_EQ(Strokes(), strokes);
}

TEST_F(UndoShortcutsTest, ClearUIAndLoadUIAreStepsAndANewHistoryStartsWithASegmentation) {
  LoadCase();
  StartManualMarking();
  PaintAt(10, 10);
  Click(ctl::kClearUI);
  EXPECT_EQ(Strokes(), 0);
  Dialog().OnUndo();
  EXPECT_EQ(Strokes(), 9);
  EXPECT_EQ(Viewer().ScribbleMap(), Dialog().StrokeMap());

  CVoxel map = MakeBox(kX, kY, kZ, 0, 2, 0, 2, 0, 2);
  for (std::size_t i = 0; i < map.VoxelCount(); ++i) map[i] = static_cast<CVoxel::value_type>(3 * map[i]);
  ClickWithFile(ctl::kLoadUI, Write("ui.mhd", map));
  EXPECT_EQ(Strokes(), 8);
  Dialog().OnUndo();
  EXPECT_EQ(Strokes(), 9);
  Dialog().OnRedo();
  EXPECT_EQ(Strokes(), 8);

  // Loading a segmentation starts a new history: nothing before it comes back.
  ClickWithFile(ctl::kLoadSegmentation, Write("other.mhd", MakeBox(kX, kY, kZ, 2, 9, 2, 9, 2, 5)));
  Dialog().OnUndo();
  EXPECT_EQ(Strokes(), 8);
  EXPECT_FALSE(Dialog().Case().CanUndo());
}
