// The window itself: start-up state, layout and texts, keyboard and wheel
// rules, data exchange, the About box.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QWheelEvent>

#include "DialogFixture.h"
#include "app/AboutDlg.h"
#include "app/GroupFrame.h"
#include "app/SpinControl.h"

using namespace app;

using namespace apptest;

namespace {
const std::vector<int> kCommands = {ctl::kLoadImage,
                                    ctl::kLoadSegmentation,
                                    ctl::kLoadBoundary,
                                    ctl::kSaveSegmentation,
                                    ctl::kReset,
                                    ctl::kShowSegmentation,
                                    ctl::kShowBoundary,
                                    ctl::kSemiAutomatic,
                                    ctl::kSemiAutomaticMillimetre,
                                    ctl::kManual,
                                    ctl::kReferenceDir,
                                    ctl::kBrowseReferenceDir,
                                    ctl::kMarking,
                                    ctl::kBrush3D,
                                    ctl::kBrushSizeEdit,
                                    ctl::kBrushSpin,
                                    ctl::kLoadUI,
                                    ctl::kSaveUI,
                                    ctl::kClearUI,
                                    ctl::kSegmentation,
                                    ctl::kCancelCorrection,
                                    ctl::kSliceZ,
                                    ctl::kSliceY,
                                    ctl::kSliceX,
                                    ctl::kWindowLow,
                                    ctl::kWindowHigh,
                                    ctl::kZoomSlider,
                                    ctl::kZoomEdit,
                                    ctl::kZoomSpin};

// Opens the About box from the window's context menu and returns its texts.
struct AboutTexts {
  QString entry, title, version, ok;
};
}  // namespace

class WindowTest : public DialogFixture {};

TEST_F(WindowTest, StartsWithOnlyLoadImageUsable) {
  for (int id : kCommands) EXPECT_EQ(Enabled(id), id == ctl::kLoadImage) << "control " << id;
  EXPECT_TRUE(Enabled(ctl::kLog));
  EXPECT_TRUE(Enabled(ctl::kViewer));
  EXPECT_EQ(Text(ctl::kZoomEdit), "100");
  EXPECT_EQ(Text(ctl::kBrushSizeEdit), "2");
  EXPECT_EQ(Text(ctl::kReferenceDir), "C:\\DataSet\\prostate\\popR\\label2");
  EXPECT_EQ(Text(ctl::kWindowLowText), "0   ");
  EXPECT_EQ(Text(ctl::kWindowHighText), "2500   ");
  EXPECT_EQ(Slider(ctl::kWindowLow)->minimum(), -3000);
  EXPECT_EQ(Slider(ctl::kWindowLow)->maximum(), 1000);
  EXPECT_EQ(Slider(ctl::kWindowHigh)->minimum(), 1000);
  EXPECT_EQ(Slider(ctl::kWindowHigh)->maximum(), 10000);
  for (int id : {ctl::kShowSegmentation, ctl::kShowBoundary, ctl::kMarking, ctl::kBrush3D,
                 ctl::kSemiAutomatic, ctl::kSemiAutomaticMillimetre, ctl::kManual}) {
    EXPECT_FALSE(Checked(id)) << id;
  }
  auto* zoomSpin = Dialog().ControlAs<SpinControl>(ctl::kZoomSpin);
  auto* brushSpin = Dialog().ControlAs<SpinControl>(ctl::kBrushSpin);
  EXPECT_EQ(std::pair(zoomSpin->Lower(), zoomSpin->Upper()), std::pair(10, 1000));
  EXPECT_EQ(std::pair(brushSpin->Lower(), brushSpin->Upper()), std::pair(1, 50));
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(Dialog().windowTitle(), "Corvane");
  EXPECT_EQ(Dialog().CorrectionMode(), 1);
}

TEST_F(WindowTest, EveryControlOfTheTableIsPlacedWithItsTextAndKind) {
  const DialogUnits units = CurrentDialogUnits();
  EXPECT_EQ(Dialog().size(), QSize(units.X(753), units.Y(400)));
  EXPECT_EQ(Dialog().minimumSize(), Dialog().maximumSize());
  int numbered = 0;
  for (const ControlTemplate& control : MainWindowControls()) {
    if (control.id == ctl::kNoId) continue;
    ++numbered;
    QWidget* widget = Dialog().Control(control.id);
    ASSERT_NE(widget, nullptr) << control.id;
    const QRect expected = units.Rect(control);
    // A spin's buddy gives up the part the arrows cover.
    if (control.id == ctl::kZoomEdit || control.id == ctl::kBrushSizeEdit) {
      EXPECT_EQ(widget->geometry().topLeft(), expected.topLeft()) << control.id;
      EXPECT_LE(widget->geometry().right(), expected.right()) << control.id;
    } else {
      EXPECT_EQ(widget->geometry(), expected) << control.id;
    }
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
      case ControlKind::kButton:
      case ControlKind::kCheckBox:
      case ControlKind::kRadio:
      case ControlKind::kRadioFirst:
        EXPECT_EQ(qobject_cast<QAbstractButton*>(widget)->text(), text) << control.id;
        break;
      case ControlKind::kLabel:
        // The window readouts show their sliders' positions from the start.
        if (control.id != ctl::kWindowLowText && control.id != ctl::kWindowHighText) {
          EXPECT_EQ(qobject_cast<QLabel*>(widget)->text(), text) << control.id;
        }
        break;
      case ControlKind::kGroupBox:
        EXPECT_EQ(qobject_cast<GroupFrame*>(widget)->Title(), text) << control.id;
        break;
      default:
        break;
    }
  }
  EXPECT_EQ(numbered, 46);
  EXPECT_NE(qobject_cast<QRadioButton*>(Dialog().Control(ctl::kSemiAutomatic)), nullptr);
  EXPECT_NE(qobject_cast<QCheckBox*>(Dialog().Control(ctl::kShowBoundary)), nullptr);
  EXPECT_EQ(Slider(ctl::kSliceX)->tickPosition(), QSlider::TicksBelow);
  EXPECT_EQ(Slider(ctl::kSliceZ)->tickPosition(), QSlider::NoTicks);
}

// Every text of the window must be fully visible in its control with the
// chosen font and dialog-unit mapping.
TEST_F(WindowTest, EveryTextFitsItsControl) {
  for (const ControlTemplate& control : MainWindowControls()) {
    const QString text = QString::fromUtf8(control.text);
    if (text.isEmpty()) continue;
    QWidget* widget = nullptr;
    for (QWidget* child : Dialog().findChildren<QWidget*>()) {
      if (child->parentWidget() == &Dialog() && child->geometry() == CurrentDialogUnits().Rect(control))
        widget = child;
    }
    ASSERT_NE(widget, nullptr) << control.text;
    const QFontMetrics metrics = widget->fontMetrics();
    const QStyle* style = widget->style();
    const int textWidth = metrics.horizontalAdvance(text);
    SCOPED_TRACE(control.text);
    switch (control.kind) {
      case ControlKind::kButton: {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, widget);
        EXPECT_LE(textWidth + 2 * frame + 2, widget->width());
        EXPECT_LE(metrics.height() + 2 * frame, widget->height());
        break;
      }
      case ControlKind::kCheckBox:
      case ControlKind::kRadio:
      case ControlKind::kRadioFirst: {
        const bool radio = control.kind != ControlKind::kCheckBox;
        const int indicator = style->pixelMetric(
            radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr, widget);
        const int spacing = style->pixelMetric(
            radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
        EXPECT_LE(indicator + spacing + textWidth, widget->width());
        EXPECT_LE(metrics.height(), widget->height());
        break;
      }
      case ControlKind::kLabel: {
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, widget->width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, text);
        EXPECT_LE(needed.width(), widget->width());
        EXPECT_LE(needed.height(), widget->height());
        break;
      }
      case ControlKind::kGroupBox:
        EXPECT_LE(qobject_cast<GroupFrame*>(widget)->TitleWidth() + 4, widget->width());
        break;
      default:
        break;
    }
  }
  // The texts the window writes later: a full zoom and brush size, the
  // reference directory, readouts of a large volume.
  auto fitsEdit = [&](int id, const QString& text) {
    auto* edit = Dialog().ControlAs<QLineEdit>(id);
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(text) + 8, edit->width()) << text.toStdString();
  };
  fitsEdit(ctl::kZoomEdit, "1000");
  fitsEdit(ctl::kBrushSizeEdit, "50");
  fitsEdit(ctl::kReferenceDir, "C:\\DataSet\\prostate\\popR\\label2");
  auto fitsLabel = [&](int id, const QString& text) {
    QWidget* label = Dialog().Control(id);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text.trimmed()), label->width()) << text.toStdString();
  };
  fitsLabel(ctl::kSliceZText, "2047   ");
  fitsLabel(ctl::kWindowLowText, "-3000   ");
  fitsLabel(ctl::kWindowHighText, "10000   ");
  fitsLabel(ctl::kPositionText, "(511, 511, 99)");
  fitsLabel(ctl::kIntensityText, "<255, 4095>");
  fitsLabel(ctl::kRangeText, "[-1024 4095]");
}

TEST_F(WindowTest, ControlsWithoutTextHaveAccessibleNamesAndFocusFollowsTheWork) {
  for (int id :
       {ctl::kViewer, ctl::kShowSegmentation, ctl::kShowBoundary, ctl::kZoomEdit, ctl::kBrushSizeEdit,
        ctl::kReferenceDir, ctl::kSliceZ, ctl::kSliceY, ctl::kSliceX, ctl::kWindowLow, ctl::kWindowHigh,
        ctl::kZoomSlider, ctl::kZoomSpin, ctl::kBrushSpin, ctl::kLog}) {
    EXPECT_FALSE(Dialog().Control(id)->accessibleName().isEmpty()) << id;
    EXPECT_FALSE(Dialog().Control(id)->accessibleDescription().isEmpty()) << id;
  }
  // The readouts are read by their text (AccessibilityTest).
  EXPECT_EQ(Dialog().Control(ctl::kShowSegmentation)->accessibleName(), "Show segmentation");
  EXPECT_EQ(Dialog().Control(ctl::kViewer)->focusPolicy(), Qt::NoFocus);
}

// Tab, pressed by a user with every control usable, goes through the commands
// in working order, then the log, then the view controls, and comes back. The
// two mode buttons are one stop (arrows move between them).
TEST_F(WindowTest, TabWalksTheCommandsInWorkingOrderThenTheLogThenTheView) {
  LoadCase();
  QApplication::setActiveWindow(&Dialog());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Dialog()));
  const auto tabThroughTheWindow = [this] {
    Button(ctl::kLoadImage)->setFocus();
    QStringList met;
    for (int i = 0; i < 40; ++i) {
      QWidget* focus = QApplication::focusWidget();
      if (!focus || (!met.isEmpty() && focus == Button(ctl::kLoadImage))) break;
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(focus);
      met << (accessible ? accessible->text(QAccessible::Name) : focus->objectName());
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    return met;
  };
  const QStringList commands = {"Load Image",
                                "Load Segmentation",
                                "Show segmentation",
                                "Save Segmentation",
                                "Load Boundary",
                                "Show boundary",
                                "Reset"};
  const QStringList reference = {"Reference image directory", "Browse reference image directory"};
  const QStringList correction = {"Marking", "3D",       "Brush size",   "Load UI",
                                  "Save UI", "Clear UI", "Segmentation", "Cancel"};
  const QStringList view = {"Log",
                            "Slice along Z",
                            "Slice along Y",
                            "Slice along X",
                            "Intensity window minimum",
                            "Intensity window maximum",
                            "Zoom percent",
                            "Zoom"};
  Click(ctl::kSemiAutomatic);
  EXPECT_EQ(tabThroughTheWindow(),
            commands + QStringList{"Semi-Automatic correction"} + reference + correction + view);
  // In manual mode the reference folder controls are disabled and Tab passes them by.
  Click(ctl::kManual);
  EXPECT_EQ(tabThroughTheWindow(), commands + QStringList{"Semi-Automatic correction"} + correction + view);
}

TEST_F(WindowTest, EscapeAndReturnNeitherCloseNorPress) {
  int loads = 0;
  QObject::connect(Button(ctl::kLoadImage), &QAbstractButton::clicked, [&] { ++loads; });
  Button(ctl::kLoadImage)->setFocus();
  QTest::keyClick(Button(ctl::kLoadImage), Qt::Key_Return);
  QTest::keyClick(Button(ctl::kLoadImage), Qt::Key_Enter);
  QTest::keyClick(Button(ctl::kLoadImage), Qt::Key_Escape);
  QTest::keyClick(&Dialog(), Qt::Key_Escape);
  EXPECT_TRUE(Dialog().isVisible());
  EXPECT_EQ(loads, 0);
  EXPECT_EQ(m_platform.FileRequests().size(), 0u);
  // Other keys still reach the controls.
  m_platform.QueueFile(std::nullopt);
  QTest::keyClick(Button(ctl::kLoadImage), Qt::Key_Space);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(m_platform.FileRequests().size(), 1u);
}

TEST_F(WindowTest, TheWheelChangesNothingAnywhere) {
  LoadCase();
  const int zoom = Viewer().GetZoomPercent();
  const int slider = Slider(ctl::kSliceZ)->value();
  SetEditText(ctl::kBrushSizeEdit, "7");
  Dialog().ControlAs<QLineEdit>(ctl::kBrushSizeEdit)->selectAll();
  for (QWidget* target : {Dialog().Control(ctl::kSliceZ), Dialog().Control(ctl::kZoomSlider),
                          static_cast<QWidget*>(&Dialog().ViewerWidget()), Dialog().Control(ctl::kLog),
                          Dialog().Control(ctl::kBrushSizeEdit)}) {
    const QPointF centre(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(centre, target->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
  }
  EXPECT_EQ(Viewer().GetZoomPercent(), zoom);
  EXPECT_EQ(Slider(ctl::kSliceZ)->value(), slider);
  EXPECT_FALSE(Dialog().ControlAs<QLineEdit>(ctl::kBrushSizeEdit)->hasSelectedText());
}

TEST_F(WindowTest, ACommandStopsReadingTheTypedValuesAtAnInvalidZoom) {
  LoadCase();
  Click(ctl::kManual);
  SetEditText(ctl::kZoomEdit, "5");
  Click(ctl::kMarking);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please enter an integer between 10 and 10000."});
  // The reading stopped at the zoom: Marking was not taken, and its box says so.
  EXPECT_FALSE(Dialog().Marking());
  EXPECT_FALSE(Button(ctl::kMarking)->isChecked());
  EXPECT_TRUE(Dialog().ControlAs<QLineEdit>(ctl::kZoomEdit)->hasSelectedText());
  SetEditText(ctl::kZoomEdit, "10000");
  SetEditText(ctl::kBrushSizeEdit, "x");
  Click(ctl::kMarking);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Please enter an integer."});
  EXPECT_EQ(Dialog().Zoom(), 10000);
  EXPECT_TRUE(Dialog().Marking());
  SetEditText(ctl::kBrushSizeEdit, "7");
  Click(ctl::kBrush3D);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Dialog().BrushSize(), 7);
  EXPECT_TRUE(Dialog().Brush3D());
}

TEST_F(WindowTest, ABrushSizeOutsideTheSpinRangeIsRefusedAndTheLastSizeStays) {
  LoadCase();
  SetEditText(ctl::kBrushSizeEdit, "7");
  ClickTheWindowSurface();
  ASSERT_TRUE(Messages().empty());
  for (const char* typed : {"0", "-3", "-2147483648", "51", "2147483647"}) {
    SetEditText(ctl::kBrushSizeEdit, typed);
    ClickTheWindowSurface();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Please enter an integer between 1 and 50."}) << typed;
    EXPECT_EQ(Dialog().BrushSize(), 7) << typed;
  }
  for (const char* typed : {"1", "50"}) {
    SetEditText(ctl::kBrushSizeEdit, typed);
    ClickTheWindowSurface();
    EXPECT_TRUE(Messages().empty()) << typed;
    EXPECT_EQ(Dialog().BrushSize(), std::atoi(typed));
  }
}

TEST_F(WindowTest, ContextMenuOffersTheAboutBox) {
  AboutTexts seen;
  // The menu, then the About box, are answered as they open.
  QTimer::singleShot(50, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    seen.entry = menu->actions().front()->text();
    QTimer::singleShot(50, [&] {
      auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(about, nullptr);
      seen.title = about->windowTitle();
      seen.version = about->findChild<QLabel*>("aboutVersion")->text();
      auto* ok = about->findChild<QPushButton*>("aboutOk");
      seen.ok = ok->text();
      ok->click();
    });
    menu->actions().front()->trigger();
    menu->close();
  });
  const QPoint inside = Dialog().Control(ctl::kSliceZText)->geometry().center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, inside, Dialog().mapToGlobal(inside));
  QApplication::sendEvent(&Dialog(), &event);
  EXPECT_EQ(seen.entry, "Corvane 정보(&A)...");
  EXPECT_EQ(seen.version, "Corvane 버전 1.0");
  EXPECT_EQ(seen.ok, "확인");
  EXPECT_EQ(seen.title, "Corvane 정보");
  // The viewer's right button pans: it opens no menu.
  EXPECT_EQ(Dialog().ViewerWidget().contextMenuPolicy(), Qt::PreventContextMenu);
}
