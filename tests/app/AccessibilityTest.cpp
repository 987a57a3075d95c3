// What a screen reader gets from the window through Qt's accessibility
// interface: every readout's name is the value it shows (and follows it), its
// description says what the value means; controls without a telling text
// carry a descriptive name.
#include <QAccessible>

#include "DialogFixture.h"

using namespace app;

using namespace apptest;

namespace {
// Sets a control's value as a screen reader or an automation tool does.
bool SetAccessibleValue(QWidget* widget, int value) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  QAccessibleValueInterface* valueInterface = accessible ? accessible->valueInterface() : nullptr;
  if (!valueInterface) return false;
  valueInterface->setCurrentValue(value);
  return true;
}

QString AccessibleText(QWidget* widget, QAccessible::Text kind) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible ? accessible->text(kind) : QStringLiteral("<not accessible>");
}
}  // namespace

class AccessibilityTest : public DialogFixture {
 protected:
  QString Name(int id) { return AccessibleText(Dialog().Control(id), QAccessible::Name); }
  QString Description(int id) { return AccessibleText(Dialog().Control(id), QAccessible::Description); }
  // Every readout is read as exactly the text on the screen.
  void ExpectReadoutsReadAsShown() {
    for (int id : {ctl::kSliceZText, ctl::kSliceYText, ctl::kSliceXText, ctl::kPositionText,
                   ctl::kIntensityText, ctl::kRangeText, ctl::kWindowLowText, ctl::kWindowHighText}) {
      EXPECT_EQ(Name(id), Text(id)) << id;
    }
  }
};

TEST_F(AccessibilityTest, ReadoutsAreReadAsTheirValuesWhileTheyChange) {
  EXPECT_EQ(Name(ctl::kPositionText), "(0, 0, 0)");
  EXPECT_EQ(Description(ctl::kPositionText), "Position: voxel under the mouse");
  EXPECT_EQ(Description(ctl::kIntensityText),
            "Intensity: displayed grey value and voxel value under the mouse");
  EXPECT_EQ(Description(ctl::kRangeText), "Intensity range: smallest and largest intensity of the image");
  EXPECT_EQ(Description(ctl::kSliceZText), "Slice Z: slice index of axis Z");
  EXPECT_EQ(Description(ctl::kWindowHighText), "IMax: high end of the intensity window");
  ExpectReadoutsReadAsShown();
  EXPECT_EQ(Name(ctl::kWindowHighText), "2500   ");

  LoadCase();
  EXPECT_EQ(Name(ctl::kRangeText), QString("[0 %1]").arg((kX - 1) + 2 * (kY - 1) + 50 * (kZ - 1)));
  ExpectReadoutsReadAsShown();

  // The mouse over voxel (5, 7) of slice 4.
  Slider(ctl::kSliceZ)->setSliderPosition(4);
  EXPECT_EQ(Name(ctl::kSliceZText), "4   ");
  QTest::mouseMove(&Dialog().ViewerWidget(), ScreenPoint(5, 7));
  EXPECT_EQ(Name(ctl::kPositionText), "(5, 7, 4)");
  EXPECT_TRUE(Name(ctl::kIntensityText).endsWith(QString(", %1>").arg(5 + 2 * 7 + 50 * 4)))
      << Name(ctl::kIntensityText).toStdString();
  ExpectReadoutsReadAsShown();

  // Another viewing axis and the window sliders.
  Slider(ctl::kSliceX)->setSliderPosition(9);
  EXPECT_EQ(Name(ctl::kSliceXText), "9   ");
  Slider(ctl::kWindowLow)->setSliderPosition(-200);
  EXPECT_EQ(Name(ctl::kWindowLowText), "-200   ");
  ExpectReadoutsReadAsShown();
}

TEST_F(AccessibilityTest, ControlsWithoutATellingTextKeepDescriptiveNames) {
  const std::pair<int, const char*> named[] = {
      {ctl::kViewer, "Image viewer"},
      {ctl::kBrowseReferenceDir, "Browse reference image directory"},
      {ctl::kShowSegmentation, "Show segmentation"},
      {ctl::kShowBoundary, "Show boundary"},
      {ctl::kZoomEdit, "Zoom percent"},
      {ctl::kBrushSizeEdit, "Brush size"},
      {ctl::kBrushSpin, "Brush size steps"},
      {ctl::kReferenceDir, "Reference image directory"},
      {ctl::kSliceZ, "Slice along Z"},
      {ctl::kLog, "Log"},
  };
  for (const auto& [id, name] : named) {
    EXPECT_EQ(Name(id), name) << id;
    EXPECT_FALSE(Description(id).isEmpty()) << id;
  }
  // Buttons are read by their text.
  EXPECT_EQ(Name(ctl::kLoadImage), "Load Image");
}

// A value set through the accessibility interface takes effect as a mouse
// move does: the readout, the view, the zoom and the window follow it.
TEST_F(AccessibilityTest, ASliderSetThroughAccessibilityMovesTheViewLikeTheMouse) {
  LoadCase();
  Slider(ctl::kSliceY)->setSliderPosition(7);
  ASSERT_EQ(Viewer().Axis(), 1);
  ASSERT_TRUE(SetAccessibleValue(Dialog().Control(ctl::kSliceZ), 3));
  EXPECT_EQ(Slider(ctl::kSliceZ)->value(), 3);
  EXPECT_EQ(Text(ctl::kSliceZText), "3   ");
  EXPECT_EQ(Name(ctl::kSliceZText), "3   ");
  EXPECT_EQ(Viewer().SliceZ(), 3);
  EXPECT_EQ(Viewer().Axis(), 0);
  EXPECT_EQ(Viewer().SliceY(), 7);

  ASSERT_TRUE(SetAccessibleValue(Dialog().Control(ctl::kZoomSlider), 250));
  EXPECT_EQ(Dialog().Zoom(), 250);
  EXPECT_EQ(Text(ctl::kZoomEdit), "250");

  ASSERT_TRUE(SetAccessibleValue(Dialog().Control(ctl::kWindowLow), -500));
  ASSERT_TRUE(SetAccessibleValue(Dialog().Control(ctl::kWindowHigh), 4000));
  EXPECT_EQ(Text(ctl::kWindowLowText), "-500   ");
  EXPECT_EQ(Text(ctl::kWindowHighText), "4000   ");
  EXPECT_EQ(Viewer().WindowLow(), -500);
  EXPECT_EQ(Viewer().WindowHigh(), 4000);
  ExpectReadoutsReadAsShown();
}
