// Slice sliders, intensity window, zoom slider and spin, brush size spin.
#include <QMouseEvent>

#include "DialogFixture.h"
#include "app/SpinControl.h"

using namespace app;

using namespace apptest;

class ViewControlsTest : public DialogFixture {
 protected:
  void SetUp() override {
    DialogFixture::SetUp();
    ClickWithFile(ctl::kLoadImage, Write("image.mhd", MakeImage(kX, kY, kZ)));
  }
  SpinControl* Spin(int id) { return Dialog().ControlAs<SpinControl>(id); }
};

TEST_F(ViewControlsTest, ASliceSliderShowsItsAxisAndTheOthersKeepTheirSlices) {
  Slider(ctl::kSliceZ)->setSliderPosition(3);
  Slider(ctl::kSliceY)->setSliderPosition(5);
  EXPECT_EQ(Viewer().Axis(), 1);
  EXPECT_EQ(Viewer().SliceY(), 5);
  EXPECT_EQ(Text(ctl::kSliceYText), "5   ");
  Slider(ctl::kSliceZ)->setSliderPosition(4);
  EXPECT_EQ(Viewer().Axis(), 0);
  EXPECT_EQ(Viewer().SliceZ(), 4);
  EXPECT_EQ(Viewer().SliceY(), 5);
  EXPECT_EQ(Text(ctl::kSliceZText), "4   ");
  // Keys move the slider like the mouse does; Home and End included.
  Slider(ctl::kSliceX)->setFocus();
  QTest::keyClick(Slider(ctl::kSliceX), Qt::Key_End);
  EXPECT_EQ(Viewer().Axis(), 2);
  EXPECT_EQ(Viewer().SliceX(), kX - 1);
  EXPECT_EQ(Text(ctl::kSliceXText), QString("%1   ").arg(kX - 1));
  QTest::keyClick(Slider(ctl::kSliceX), Qt::Key_Left);
  EXPECT_EQ(Viewer().SliceX(), kX - 2);
}

TEST_F(ViewControlsTest, PressingTheThumbAloneChangesNothingAndReleasingItShowsItsSlice) {
  QSlider* slider = Slider(ctl::kSliceY);
  {
    const QSignalBlocker block(slider);
    slider->setValue(9);
  }
  slider->setSliderDown(true);
  EXPECT_EQ(Viewer().SliceY(), 0);
  EXPECT_EQ(Viewer().Axis(), 0);
  EXPECT_EQ(Text(ctl::kSliceYText), "0   ");
  slider->setSliderDown(false);  // the thumb is released there
  EXPECT_EQ(Viewer().SliceY(), 9);
  EXPECT_EQ(Viewer().Axis(), 1);
  EXPECT_EQ(Text(ctl::kSliceYText), "9   ");
}

TEST_F(ViewControlsTest, TheIntensitySlidersSetTheViewersWindow) {
  Slider(ctl::kWindowLow)->setSliderPosition(-3000);
  Slider(ctl::kWindowHigh)->setSliderPosition(10000);
  EXPECT_EQ(Text(ctl::kWindowLowText), "-3000   ");
  EXPECT_EQ(Text(ctl::kWindowHighText), "10000   ");
  EXPECT_EQ(Viewer().WindowLow(), -3000);
  EXPECT_EQ(Viewer().WindowHigh(), 10000);
  Slider(ctl::kWindowLow)->setSliderPosition(1000);
  Slider(ctl::kWindowHigh)->setSliderPosition(1000);
  EXPECT_EQ(Viewer().WindowLow(), 1000);
  EXPECT_EQ(Viewer().WindowHigh(), 1000);
}

TEST_F(ViewControlsTest, TheZoomSpinStepsByTenPercentAndTheSliderSetsTheZoom) {
  Slider(ctl::kZoomSlider)->setSliderPosition(100);
  EXPECT_EQ(Dialog().Zoom(), 100);
  EXPECT_EQ(Text(ctl::kZoomEdit), "100");
  EXPECT_EQ(Viewer().GetZoomPercent(), 100);
  Spin(ctl::kZoomSpin)->Step(+1);
  EXPECT_EQ(Dialog().Zoom(), 110);
  Spin(ctl::kZoomSpin)->Step(+1);
  EXPECT_EQ(Dialog().Zoom(), 120);
  EXPECT_EQ(Text(ctl::kZoomEdit), "120");
  EXPECT_EQ(Viewer().GetZoomPercent(), 120);
  Spin(ctl::kZoomSpin)->Step(-1);
  Spin(ctl::kZoomSpin)->Step(-1);
  Spin(ctl::kZoomSpin)->Step(-1);
  EXPECT_EQ(Dialog().Zoom(), 90);
  EXPECT_EQ(Viewer().GetZoomPercent(), 90);
  // The arrow keys in the zoom edit step the spin.
  QTest::keyClick(Dialog().Control(ctl::kZoomEdit), Qt::Key_Up);
  EXPECT_EQ(Dialog().Zoom(), 100);
}

TEST_F(ViewControlsTest, ASpinStepAfterAFittedZoomStaysInsideTheZoomRange) {
  Slider(ctl::kZoomSlider)->setSliderPosition(90);
  // The viewer puts its fitted zoom into the spin (right double-click);
  // the zoom member keeps 90.
  Spin(ctl::kZoomSpin)->SetPosition(80);
  EXPECT_EQ(Text(ctl::kZoomEdit), "80");
  Spin(ctl::kZoomSpin)->Step(+1);  // 10 * 81 - 9 * 90 = 0
  EXPECT_EQ(Dialog().Zoom(), 10);
  EXPECT_EQ(Viewer().GetZoomPercent(), 10);
  Slider(ctl::kZoomSlider)->setSliderPosition(1000);
  Spin(ctl::kZoomSpin)->SetPosition(900);
  Spin(ctl::kZoomSpin)->Step(-1);  // 10 * 899 - 9 * 1000 = -10
  EXPECT_EQ(Viewer().GetZoomPercent(), 10);
  Slider(ctl::kZoomSlider)->setSliderPosition(20);
  SetEditText(ctl::kZoomEdit, "1000");  // typed: the spin starts from it
  Spin(ctl::kZoomSpin)->Step(+1);       // 10 * 1000 - 9 * 20, beyond the range
  EXPECT_EQ(Dialog().Zoom(), 1000);
  EXPECT_EQ(Viewer().GetZoomPercent(), 1000);
}

TEST_F(ViewControlsTest, RightDoubleClickPutsTheFittedZoomIntoTheSpin) {
  Slider(ctl::kZoomSlider)->setSliderPosition(300);
  const int fitted = [&] {
    Viewer().FitZoom();
    return Viewer().GetZoomPercent();
  }();
  Viewer().SetZoomPercent(300);
  auto& widget = Dialog().ViewerWidget();
  QTest::mouseDClick(&widget, Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_EQ(Viewer().GetZoomPercent(), fitted);
  EXPECT_EQ(Spin(ctl::kZoomSpin)->Position(), fitted);
  EXPECT_EQ(Text(ctl::kZoomEdit), QString::number(fitted));
  EXPECT_EQ(Dialog().Zoom(), 300);
}

TEST_F(ViewControlsTest, BrushSizeFromTheSpinAtOnceAndTypedAtTheNextClick) {
  LoadCase();
  Click(ctl::kManual);  // the brush controls belong to the correction controls
  Spin(ctl::kBrushSpin)->SetPosition(6);
  Spin(ctl::kBrushSpin)->Step(+1);
  EXPECT_EQ(Dialog().BrushSize(), 7);
  EXPECT_FLOAT_EQ(Viewer().BrushRadius(), 7.0f);
  EXPECT_EQ(Text(ctl::kBrushSizeEdit), "7");
  Spin(ctl::kBrushSpin)->SetPosition(50);
  Spin(ctl::kBrushSpin)->Step(+1);
  EXPECT_EQ(Dialog().BrushSize(), 50);

  SetEditText(ctl::kBrushSizeEdit, "4");
  EXPECT_FLOAT_EQ(Viewer().BrushRadius(), 50.0f);
  // A click on the window's surface (here on a label, which lets it through).
  QWidget* label = Dialog().Control(ctl::kSliceZText);
  QTest::mouseClick(&Dialog(), Qt::LeftButton, Qt::NoModifier, label->geometry().center());
  EXPECT_FLOAT_EQ(Viewer().BrushRadius(), 4.0f);
}

TEST_F(ViewControlsTest, ASecondImageKeepsTheViewersSlicesAndShowsAxisZero) {
  Slider(ctl::kSliceX)->setSliderPosition(40);
  Slider(ctl::kSliceY)->setSliderPosition(30);
  ASSERT_EQ(Viewer().Axis(), 1);
  ClickWithFile(ctl::kLoadImage, Write("tall.mhd", MakeImage(kX, kY, kZ)));
  EXPECT_EQ(Viewer().Axis(), 0);
  EXPECT_EQ(Viewer().SliceX(), 40);
  EXPECT_EQ(Slider(ctl::kSliceX)->value(), 40);
  EXPECT_EQ(Text(ctl::kSliceXText), "40   ");
  // The index of the axis shown before the load became 0.
  EXPECT_EQ(Viewer().SliceY(), 0);
}
