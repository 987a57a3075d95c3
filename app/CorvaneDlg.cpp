// The main window: its controls and layout, data exchange, the control groups,
// the keyboard and wheel rules, the About box, the run lock and shutdown.
#include "app/CorvaneDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DialogLayout.h"
#include "app/GroupFrame.h"
#include "app/SpinControl.h"
#include "app/ViewLimits.h"
#include "geometry/LabelGeometry.h"
#include "platform/Platform.h"
#include "viewer/VoxelSliceViewerWidget.h"

using namespace app;

namespace {
// Members of the control groups, in the order they are switched.
constexpr int kInputGroup[] = {ctl::kLoadSegmentation,     ctl::kLoadBoundary,    ctl::kShowSegmentation,
                               ctl::kShowBoundary,         ctl::kReset,           ctl::kSaveSegmentation,
                               ctl::kShowSegmentationText, ctl::kShowBoundaryText};
constexpr int kCorrectionGroup[] = {
    ctl::kMarking, ctl::kBrushSizeEdit,    ctl::kBrush3D,   ctl::kSaveUI,       ctl::kLoadUI,
    ctl::kClearUI, ctl::kInteractionGroup, ctl::kBrushSpin, ctl::kSegmentation, ctl::kCancelCorrection};
constexpr int kViewGroup[] = {ctl::kSliceZ,     ctl::kSliceY,     ctl::kSliceX,       ctl::kWindowLow,
                              ctl::kWindowHigh, ctl::kZoomSlider, ctl::kPositionText, ctl::kIntensityText,
                              ctl::kRangeText,  ctl::kZoomEdit,   ctl::kZoomSpin};
constexpr int kReferenceDirControls[] = {ctl::kReferenceDirText, ctl::kReferenceDir,
                                         ctl::kBrowseReferenceDir};
constexpr int kAlgorithmControls[] = {ctl::kAlgorithmGroup, ctl::kSemiAutomatic,
                                      ctl::kSemiAutomaticMillimetre, ctl::kManual};

// The commands sit in the panel beside the image viewer, the view controls
// below the viewer.
bool InCommandPanel(const ControlTemplate& control) {
  const ControlTemplate* viewer = FindControlTemplate(ctl::kImageViewerGroup);
  return control.x >= viewer->x + viewer->width;
}

// Whether the control takes the user's input (rather than framing or labelling others).
bool TakesInput(ControlKind kind) { return kind != ControlKind::kGroupBox && kind != ControlKind::kLabel; }

// A run locks every command that could free, replace or read a volume the
// worker uses: every input of the command panel but the log and the two
// overlay switches, which change only what is shown.
bool LockedDuringRuns(const ControlTemplate& control) {
  return InCommandPanel(control) && TakesInput(control.kind) && control.id != ctl::kLog &&
         control.id != ctl::kShowSegmentation && control.id != ctl::kShowBoundary;
}

using limits::kBrushMaximum;
using limits::kBrushMinimum;
using limits::kZoomMaximum;
using limits::kZoomMinimum;
using limits::kZoomTypedMaximum;
constexpr int kWindowLowMinimum = -3000, kWindowLowMaximum = 1000, kWindowLowStart = 0;
constexpr int kWindowHighMinimum = 1000, kWindowHighMaximum = 10000, kWindowHighStart = 2500;

QString Qs(const std::string& text) { return QString::fromStdString(text); }

// Classic integer parsing of an edit box: optional blanks and sign, digits,
// optional blanks; nothing else.
bool ParseInteger(const QString& text, int& value) {
  bool ok = false;
  const int parsed = text.trimmed().toInt(&ok, 10);
  if (ok) value = parsed;
  return ok;
}
}  // namespace

CCorvaneDlg::CCorvaneDlg(platform::Platform& platform, QWidget* parent)
    : CCorvaneDlg(platform, Options{}, parent) {}

CCorvaneDlg::CCorvaneDlg(platform::Platform& platform, const Options& options, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_platform(platform),
      m_case(platform, platform, options.referenceDir),
      m_recovery(options.recoveryFolder.empty()
                     ? nullptr
                     : std::make_unique<session::CaseRecovery>(m_case, options.recoveryFolder)),
      m_hIcon(CorvaneIcon()) {
  setObjectName(QStringLiteral("CorvaneDlg"));
  setWindowTitle(QStringLiteral("Corvane"));
  setFont(DialogFont());
  const DialogUnits units = CurrentDialogUnits();
  setFixedSize(units.X(kDialogWidthDlu), units.Y(kDialogHeightDlu));
  CreateControls();
  ConnectControls();
  SetUpTabOrder();
  SetUpAccessibility();
  m_platform.SetLogTarget([this](const std::string& line) {
    m_log->addItem(Qs(line));
    m_log->scrollToBottom();
  });
  // Keys and the wheel are screened before any control of the window sees them.
  qApp->installEventFilter(this);
  OnInitDialog();
}

CCorvaneDlg::~CCorvaneDlg() {
  qApp->removeEventFilter(this);
  WaitForWorker();
  m_platform.SetLogTarget({});
  // The viewer goes first, so that nothing refers to the volumes freed below.
  delete m_viewerWidget;
  m_viewerWidget = nullptr;
}

CVoxelSliceViewer& CCorvaneDlg::Viewer() const { return m_viewerWidget->Viewer(); }

// ---- Controls -------------------------------------------------------------------

void CCorvaneDlg::CreateControls() {
  const DialogUnits units = CurrentDialogUnits();
  QWidget* previous = nullptr;
  for (const ControlTemplate& control : MainWindowControls()) {
    const QString text = QString::fromUtf8(control.text);
    QRect rect = units.Rect(control);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case ControlKind::kGroupBox:
        widget = new GroupFrame(text, this);
        break;
      case ControlKind::kViewer: {
        m_viewerWidget = new viewer::VoxelSliceViewerWidget(this);
        // The right button pans the picture: no context menu there.
        m_viewerWidget->setContextMenuPolicy(Qt::PreventContextMenu);
        m_viewerWidget->Viewer().SetMessageSink(&m_platform);
        m_viewerWidget->Viewer().SetStrokeListener(this);
        widget = m_viewerWidget;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::kSlider:
      case ControlKind::kTickSlider: {
        auto* slider = new QSlider(Qt::Horizontal, this);
        if (control.kind == ControlKind::kTickSlider) {
          // Ticks at both ends only, as a trackbar without automatic ticks has.
          slider->setTickPosition(QSlider::TicksBelow);
          slider->setTickInterval(slider->maximum() - slider->minimum());
        }
        widget = slider;
        break;
      }
      case ControlKind::kEdit:
      case ControlKind::kDigitEdit: {
        auto* edit = new QLineEdit(this);
        if (control.kind == ControlKind::kDigitEdit) {
          edit->setValidator(
              new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        widget = edit;
        break;
      }
      case ControlKind::kSpin: {
        auto* spin = new SpinControl(this);
        auto* buddy = qobject_cast<QLineEdit*>(previous);
        spin->SetBuddy(buddy);
        // The arrows sit at the buddy's right end; the buddy keeps its text clear of them.
        if (buddy && buddy->geometry().right() >= rect.left()) {
          QRect buddyRect = buddy->geometry();
          buddyRect.setRight(rect.left() - 1);
          buddy->setGeometry(buddyRect);
        }
        widget = spin;
        break;
      }
      case ControlKind::kButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        widget = button;
        break;
      }
      case ControlKind::kCheckBox:
        widget = new QCheckBox(text, this);
        break;
      case ControlKind::kRadioFirst:
      case ControlKind::kRadio:
        widget = new QRadioButton(text, this);
        break;
      case ControlKind::kListBox: {
        m_log = new QListWidget(this);
        m_log->setSelectionMode(QAbstractItemView::SingleSelection);
        m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_log->setUniformItemSizes(true);
        widget = m_log;
        break;
      }
    }
    widget->setGeometry(rect);
    if (control.id != ctl::kNoId) {
      widget->setObjectName(QStringLiteral("IDC_%1").arg(control.id));
      widget->setProperty("controlId", control.id);
      m_controls[control.id] = widget;
    }
    previous = widget;
  }
}

void CCorvaneDlg::ConnectControls() {
  const std::pair<int, void (CCorvaneDlg::*)()> commands[] = {
      {ctl::kLoadImage, &CCorvaneDlg::OnLoadImage},
      {ctl::kLoadBoundary, &CCorvaneDlg::OnLoadBoundary},
      {ctl::kLoadSegmentation, &CCorvaneDlg::OnLoadSegmentation},
      {ctl::kReset, &CCorvaneDlg::OnReset},
      {ctl::kShowBoundary, &CCorvaneDlg::OnShowBoundary},
      {ctl::kShowSegmentation, &CCorvaneDlg::OnShowSegmentation},
      {ctl::kBrowseReferenceDir, &CCorvaneDlg::OnBrowseReferenceDir},
      {ctl::kSaveSegmentation, &CCorvaneDlg::OnSaveSegmentation},
      {ctl::kLoadUI, &CCorvaneDlg::OnLoadUI},
      {ctl::kSaveUI, &CCorvaneDlg::OnSaveUI},
      {ctl::kClearUI, &CCorvaneDlg::OnClearUI},
      {ctl::kMarking, &CCorvaneDlg::OnMarking},
      {ctl::kBrush3D, &CCorvaneDlg::On3D},
      {ctl::kSemiAutomatic, &CCorvaneDlg::OnSemiAutomatic},
      {ctl::kSemiAutomaticMillimetre, &CCorvaneDlg::OnSemiAutomaticMillimetre},
      {ctl::kManual, &CCorvaneDlg::OnManual},
      {ctl::kCancelCorrection, &CCorvaneDlg::OnCancelCorrection},
      {ctl::kSegmentation, &CCorvaneDlg::OnSegmentation},
  };
  for (const auto& [id, handler] : commands) {
    connect(Button(id), &QAbstractButton::clicked, this, [this, handler = handler] { (this->*handler)(); });
  }

  for (int id :
       {ctl::kSliceZ, ctl::kSliceY, ctl::kSliceX, ctl::kZoomSlider, ctl::kWindowLow, ctl::kWindowHigh}) {
    QSlider* slider = Slider(id);
    // A new value takes effect however it was set: mouse, keyboard, the
    // accessibility interface or a script.
    connect(slider, &QAbstractSlider::valueChanged, this, [this, slider] { OnSliderMoved(slider); });
    // A step that leaves the value where it is (at either end) and a released
    // thumb still select the slider's view.
    connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider] {
      if (slider->sliderPosition() == slider->value()) OnSliderMoved(slider);
    });
    connect(slider, &QAbstractSlider::sliderReleased, this, [this, slider] { OnSliderMoved(slider); });
  }
  for (int id : {ctl::kZoomSpin, ctl::kBrushSpin}) {
    SpinControl* spin = Spin(id);
    connect(spin, &SpinControl::stepped, this, [this, spin](int position) { OnSpinStepped(spin, position); });
  }
}

void CCorvaneDlg::SetUpTabOrder() {
  for (const auto& [id, widget] : m_controls) {
    if (qobject_cast<QLabel*>(widget)) widget->setFocusPolicy(Qt::NoFocus);
  }
  // Keyboard order: the command panel top to bottom in working order (its
  // controls are laid out in that order), ending with the log; then the view
  // controls below the viewer.
  std::vector<ControlTemplate> order;
  for (const ControlTemplate& control : MainWindowControls())
    if (control.id != ctl::kNoId && Control(control.id)->focusPolicy() != Qt::NoFocus)
      order.push_back(control);
  std::stable_partition(order.begin(), order.end(), InCommandPanel);
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(Control(order[i - 1].id), Control(order[i].id));
}

void CCorvaneDlg::SetUpAccessibility() {
  // Controls whose visible text does not say what they are get a name. The
  // readouts get none: a label's accessible name is its visible text, so a
  // screen reader reads the value shown ("(51, 47, 11)") and, from the
  // description, what it means.
  struct Accessible {
    int id;
    const char* name;  // null: the visible text
    const char* description;
  };
  static constexpr Accessible kAccessible[] = {
      {ctl::kViewer, "Image viewer",
       "Slice of the MR image with the boundary, the segmentation and the scribbles. With Marking on, "
       "left button paints foreground, Ctrl+left background, Shift+left erases; right button pans; "
       "right double-click fits the zoom."},
      {ctl::kSliceZ, "Slice along Z", "Shows the axis Z view at the chosen slice"},
      {ctl::kSliceY, "Slice along Y", "Shows the axis Y view at the chosen slice"},
      {ctl::kSliceX, "Slice along X", "Shows the axis X view at the chosen slice"},
      {ctl::kSliceZText, nullptr, "Slice Z: slice index of axis Z"},
      {ctl::kSliceYText, nullptr, "Slice Y: slice index of axis Y"},
      {ctl::kSliceXText, nullptr, "Slice X: slice index of axis X"},
      {ctl::kPositionText, nullptr, "Position: voxel under the mouse"},
      {ctl::kIntensityText, nullptr, "Intensity: displayed grey value and voxel value under the mouse"},
      {ctl::kRangeText, nullptr, "Intensity range: smallest and largest intensity of the image"},
      {ctl::kWindowLow, "Intensity window minimum", "Low end of the displayed intensity window"},
      {ctl::kWindowHigh, "Intensity window maximum", "High end of the displayed intensity window"},
      {ctl::kWindowLowText, nullptr, "IMin: low end of the intensity window"},
      {ctl::kWindowHighText, nullptr, "IMax: high end of the intensity window"},
      {ctl::kZoomEdit, "Zoom percent", "Zoom in percent"},
      {ctl::kZoomSpin, "Zoom steps", "Changes the zoom in steps of ten percent"},
      {ctl::kZoomSlider, "Zoom", "Zoom in percent, 10 to 1000"},
      {ctl::kShowSegmentation, "Show segmentation", "Shows or hides the segmentation overlay"},
      {ctl::kShowBoundary, "Show boundary", "Shows or hides the boundary overlay"},
      {ctl::kReferenceDir, "Reference image directory", "Folder searched for reference label files"},
      {ctl::kBrowseReferenceDir, "Browse reference image directory", "Chooses the reference image directory"},
      {ctl::kBrushSizeEdit, "Brush size", "Brush radius in voxels"},
      {ctl::kBrushSpin, "Brush size steps", "Changes the brush size, 1 to 50"},
      {ctl::kLog, "Log", "Progress and result lines"},
      {ctl::kSemiAutomaticMillimetre, "Semi-automatic correction in millimetres",
       "Semi-automatic correction with its distances kept in millimetres, for images whose voxel size "
       "differs from 0.3125 x 0.3125 x 3 mm"},
  };
  for (const auto& entry : kAccessible) {
    QWidget* widget = Control(entry.id);
    if (entry.name) widget->setAccessibleName(QString::fromUtf8(entry.name));
    widget->setAccessibleDescription(QString::fromUtf8(entry.description));
  }
}

QWidget* CCorvaneDlg::Control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}
QSlider* CCorvaneDlg::Slider(int id) const { return ControlAs<QSlider>(id); }
QLabel* CCorvaneDlg::Label(int id) const { return ControlAs<QLabel>(id); }
QAbstractButton* CCorvaneDlg::Button(int id) const { return ControlAs<QAbstractButton>(id); }
QLineEdit* CCorvaneDlg::Edit(int id) const { return ControlAs<QLineEdit>(id); }
SpinControl* CCorvaneDlg::Spin(int id) const { return ControlAs<SpinControl>(id); }

void CCorvaneDlg::SetControlText(int id, const QString& text) {
  if (auto* label = Label(id)) label->setText(text);
}
void CCorvaneDlg::SetNumberText(int id, int value) { SetControlText(id, QString::number(value) + "   "); }
void CCorvaneDlg::SetChecked(int id, bool checked) { Button(id)->setChecked(checked); }

void CCorvaneDlg::SetSliderRange(int id, int minimum, int maximum) {
  QSlider* slider = Slider(id);
  const QSignalBlocker block(slider);
  slider->setRange(minimum, maximum);
  // The trackbar's page is a fifth of its range.
  slider->setPageStep(std::max(1, (maximum - minimum) / 5));
  if (slider->tickPosition() != QSlider::NoTicks) slider->setTickInterval(std::max(1, maximum - minimum));
}

void CCorvaneDlg::SetSliderPosition(int id, int position) {
  QSlider* slider = Slider(id);
  const QSignalBlocker block(slider);
  slider->setValue(position);
}

std::vector<std::string> CCorvaneDlg::LogLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < m_log->count(); ++i) lines.push_back(m_log->item(i)->text().toStdString());
  return lines;
}

void CCorvaneDlg::AppendLog(const std::string& line) { m_platform.AppendLine(line); }
void CCorvaneDlg::ClearLog() { m_log->clear(); }

// ---- Start-up ---------------------------------------------------------------------

void CCorvaneDlg::OnInitDialog() {
  ShowSettings();
  setWindowIcon(m_hIcon);
  EnableInputControls(false);
  EnableReferenceDirControls(false);
  EnableCorrectionControls(false);
  EnableAlgorithmControls(false);
  SetWindowSlidersToDefaults();
  Spin(ctl::kZoomSpin)->SetRange(kZoomMinimum, kZoomMaximum);
  Spin(ctl::kBrushSpin)->SetRange(kBrushMinimum, kBrushMaximum);
  EnableViewControls(false);
}

void CCorvaneDlg::SetWindowSlidersToDefaults() {
  SetSliderRange(ctl::kWindowLow, kWindowLowMinimum, kWindowLowMaximum);
  SetSliderRange(ctl::kWindowHigh, kWindowHighMinimum, kWindowHighMaximum);
  SetSliderPosition(ctl::kWindowLow, kWindowLowStart);
  SetSliderPosition(ctl::kWindowHigh, kWindowHighStart);
  SetNumberText(ctl::kWindowLowText, Slider(ctl::kWindowLow)->value());
  SetNumberText(ctl::kWindowHighText, Slider(ctl::kWindowHigh)->value());
}

// ---- Files given at start ------------------------------------------------------------

void CCorvaneDlg::OpenCase(const CaseFiles& files) {
  // A load goes ahead only where the case allows its command now.
  auto usable = [this](bool allowed, const std::string& what, const std::string& path, const char* first) {
    if (allowed) return true;
    m_platform.ShowMessage("Cannot load the " + what + " [" + path + "]: " + first);
    return false;
  };
  if (files.image) LoadImageFile(files.image);
  if (files.segmentation && usable(m_case.Image() != nullptr, "segmentation", *files.segmentation,
                                   "an image must be loaded first")) {
    LoadSegmentationFile(files.segmentation);
  }
  if (files.boundary &&
      usable(m_case.Image() != nullptr, "boundary", *files.boundary, "an image must be loaded first")) {
    LoadBoundaryFile(files.boundary);
  }
  if (files.segmentation && m_case.Segmentation() && geometry::HasForeground(*m_case.Segmentation())) {
    // The case opens on the organ: the Z slider moves to the middle of the
    // segmentation, as the user would move it.
    C3DPoint low, high;
    geometry::EnlargedBoundingBox(*m_case.Segmentation(), C3DPoint(0, 0, 0), low, high);
    Slider(ctl::kSliceZ)->setSliderPosition((low.z + high.z) / 2);
  }
  if (files.scribbles) {
    // What a user does before Load UI: pick a mode (unless one is picked) and
    // tick Marking. Clicks on disabled buttons do nothing.
    if (!m_case.ModeChosen()) Button(ctl::kSemiAutomatic)->click();
    if (!m_case.Marking()) Button(ctl::kMarking)->click();
    if (usable(m_case.Image() && m_case.Segmentation() && m_case.ModeChosen(), "scribbles", *files.scribbles,
               "an image and a segmentation must be loaded first")) {
      LoadScribblesFile(files.scribbles);
    }
  }
}

// ---- Typed values and settings shown ---------------------------------------------------

void CCorvaneDlg::ShowSettings() {
  SetChecked(ctl::kShowBoundary, m_bShowBoundary);
  SetChecked(ctl::kShowSegmentation, m_bShowSegmentation);
  Edit(ctl::kZoomEdit)->setText(QString::number(m_nZoom));
  Edit(ctl::kReferenceDir)->setText(Qs(m_case.ReferenceDir()));
  SetChecked(ctl::kMarking, m_case.Marking());
  SetChecked(ctl::kBrush3D, m_case.Brush3D());
  Edit(ctl::kBrushSizeEdit)->setText(QString::number(m_case.BrushSize()));
}

CCorvaneDlg::TypedValues CCorvaneDlg::TakeTypedValues() {
  // The field is selected for the user to type again.
  auto refuse = [this](int id, const char* message) {
    m_platform.ShowMessage(message);
    QLineEdit* edit = Edit(id);
    edit->setFocus();
    edit->selectAll();
  };
  int zoom = 0;
  if (!ParseInteger(Edit(ctl::kZoomEdit)->text(), zoom)) {
    refuse(ctl::kZoomEdit, "Please enter an integer.");
    return TypedValues::kStoppedAtZoom;
  }
  if (zoom < kZoomMinimum || zoom > kZoomTypedMaximum) {
    refuse(ctl::kZoomEdit, "Please enter an integer between 10 and 10000.");
    return TypedValues::kStoppedAtZoom;
  }
  m_nZoom = zoom;
  m_case.SetReferenceDir(Edit(ctl::kReferenceDir)->text().toStdString());
  int brush = 0;
  if (!ParseInteger(Edit(ctl::kBrushSizeEdit)->text(), brush)) {
    refuse(ctl::kBrushSizeEdit, "Please enter an integer.");
    return TypedValues::kStoppedAtBrushSize;
  }
  // A size outside the brush spin's range would paint nothing or the whole
  // slice; it is refused like a zoom out of range, and the last size stays.
  if (brush < kBrushMinimum || brush > kBrushMaximum) {
    refuse(ctl::kBrushSizeEdit, "Please enter an integer between 1 and 50.");
    return TypedValues::kStoppedAtBrushSize;
  }
  m_case.SetBrushSize(brush);
  return TypedValues::kTaken;
}

// ---- Control groups -----------------------------------------------------------------

void CCorvaneDlg::EnableControl(int id, bool enable) {
  // During a run the locked commands keep their state; the wish is applied when the run ends.
  if (const auto locked = m_lockedControls.find(id); locked != m_lockedControls.end()) {
    locked->second = enable;
    return;
  }
  Control(id)->setEnabled(enable);
}

void CCorvaneDlg::EnableInputControls(bool enable) {
  for (int id : kInputGroup) EnableControl(id, enable);
}
void CCorvaneDlg::EnableCorrectionControls(bool enable) {
  for (int id : kCorrectionGroup) EnableControl(id, enable);
}
void CCorvaneDlg::EnableViewControls(bool enable) {
  for (int id : kViewGroup) EnableControl(id, enable);
}
void CCorvaneDlg::EnableReferenceDirControls(bool enable) {
  for (int id : kReferenceDirControls) EnableControl(id, enable);
}
void CCorvaneDlg::EnableAlgorithmControls(bool enable) {
  for (int id : kAlgorithmControls) EnableControl(id, enable);
}

// ---- Keys, wheel, mouse, context menu ------------------------------------------------

bool CCorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::Wheel) return QDialog::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return QDialog::eventFilter(watched, event);
  if (type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // Escape does not close the window and Return presses no button.
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    // Undo and redo of the case, except in a text field, which keeps its own.
    if (!qobject_cast<QLineEdit*>(widget)) {
      const auto* keyEvent = static_cast<QKeyEvent*>(event);
      if (keyEvent->matches(QKeySequence::Undo)) {
        OnUndo();
        return true;
      }
      const auto combination = keyEvent->keyCombination();
      const bool redoKey =
          keyEvent->matches(QKeySequence::Redo) ||
          combination == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z) ||
          combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Y);
      if (redoKey) {
        OnRedo();
        return true;
      }
    }
    return QDialog::eventFilter(watched, event);
  }
  // The wheel changes nothing anywhere in the window.
  Edit(ctl::kBrushSizeEdit)->deselect();
  Edit(ctl::kZoomEdit)->deselect();
  return true;
}

void CCorvaneDlg::mousePressEvent(QMouseEvent* event) {
  // A click on the window's own surface takes a typed brush size.
  if (event->button() == Qt::LeftButton) {
    TakeTypedValues();
    Viewer().SetBrushRadius(m_case.BrushSize());
  }
  QDialog::mousePressEvent(event);
}

void CCorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromUtf8(CAboutDlg::kMenuText));
  connect(about, &QAction::triggered, this, &CCorvaneDlg::ShowAbout);
  menu.exec(event->globalPos());
}

void CCorvaneDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

// ---- Closing -----------------------------------------------------------------------

void CCorvaneDlg::reject() {
  // Only the window's close button (or the window manager) closes the window.
}

void CCorvaneDlg::closeEvent(QCloseEvent* event) {
  // A running worker still uses the volumes: let it finish first.
  WaitForWorker();
  if (!SettleUnsavedWork()) {
    event->ignore();
    return;
  }
  // Nothing is lost: the recovery file is no longer needed.
  if (m_recovery) m_recovery->Store().Remove();
  done(QDialog::Rejected);
  event->accept();
}

void CCorvaneDlg::WaitForWorker() { m_platform.WaitForThreads(); }

// ---- Run lock ----------------------------------------------------------------------

bool CCorvaneDlg::RefuseWhileRunning() { return m_case.RefuseWhileRunning(); }

void CCorvaneDlg::BeginRun() {
  m_workerRunning = true;
  for (const ControlTemplate& control : MainWindowControls()) {
    if (!LockedDuringRuns(control)) continue;
    QWidget* widget = Control(control.id);
    m_lockedControls[control.id] = widget->isEnabled();
    widget->setEnabled(false);
  }
}

void CCorvaneDlg::EndRun() {
  const auto states = std::move(m_lockedControls);
  m_lockedControls.clear();
  for (const auto& [id, enabled] : states) Control(id)->setEnabled(enabled);
  m_workerRunning = false;
  // A worker that ended without handing back its run closes it here.
  m_job.reset();
  m_case.AbandonRun();
}

// ---- Viewer readouts ----------------------------------------------------------------

void CCorvaneDlg::SetPositionText(const std::string& text) { SetControlText(ctl::kPositionText, Qs(text)); }
void CCorvaneDlg::SetValueText(const std::string& text) { SetControlText(ctl::kIntensityText, Qs(text)); }
void CCorvaneDlg::SetRangeText(const std::string& text) { SetControlText(ctl::kRangeText, Qs(text)); }
void CCorvaneDlg::SetZoomSpinPosition(int percent) { Spin(ctl::kZoomSpin)->SetPosition(percent); }

// ---- Strokes, undo and redo -----------------------------------------------------------

void CCorvaneDlg::StrokeBegins() { m_case.BeginStroke(); }
void CCorvaneDlg::StrokeEnds() { m_case.EndStroke(); }

void CCorvaneDlg::OnUndo() {
  if (m_case.Undo()) ShowCaseAfterHistoryStep();
}

void CCorvaneDlg::OnRedo() {
  if (m_case.Redo()) ShowCaseAfterHistoryStep();
}

void CCorvaneDlg::ShowCaseAfterHistoryStep() {
  // The volumes changed in place; a volume the history created or removed is
  // lent again, keeping the overlay switch as the user left it.
  if (Viewer().Segmentation() != m_case.Segmentation()) {
    const bool shown = Viewer().ShowSegmentation();
    if (m_case.Segmentation() && Viewer().SetSegmentation(m_case.Segmentation())) {
      Viewer().SetShowSegmentation(shown);
    } else {
      Viewer().ClearSegmentation();
    }
  }
  LendStrokeMap();
}
