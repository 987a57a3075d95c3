#include "app/DialogLayout.h"

#include <QFontMetrics>
#include <QStringList>
#include <array>
#include <cmath>

namespace app {

namespace {
using K = ControlKind;
// The classic template, adjusted where this toolkit's controls need more room
// than the original ones: slider handles and tick marks, edit boxes, radio
// buttons and check boxes are taller, so some rows moved down a few units, the
// bottom panel and the log list end 4 units lower, and no two controls share a
// unit. Every control lies inside the contents of the group box framing it
// (the layout test checks this at several scale factors).
constexpr std::array kControls{
    ControlTemplate{ctl::kImageViewerGroup, K::kGroupBox, "Image Viewer", 9, 7, 434, 304},
    ControlTemplate{ctl::kViewer, K::kViewer, "", 16, 16, 418, 293},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "Image View Controls", 7, 311, 435, 86},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "Axis and Slice", 9, 319, 325, 46},
    ControlTemplate{ctl::kNoId, K::kLabel, "Axis Z:", 16, 327, 26, 10},
    ControlTemplate{ctl::kSliceZText, K::kLabel, "s Z", 42, 327, 16, 8},
    ControlTemplate{ctl::kSliceZ, K::kSlider, "", 58, 327, 273, 10},
    ControlTemplate{ctl::kNoId, K::kLabel, "Axis Y:", 16, 338, 26, 10},
    ControlTemplate{ctl::kSliceYText, K::kLabel, "s Y", 42, 338, 16, 8},
    ControlTemplate{ctl::kSliceY, K::kSlider, "", 58, 338, 273, 10},
    ControlTemplate{ctl::kNoId, K::kLabel, "Axis X:", 16, 351, 26, 10},
    ControlTemplate{ctl::kSliceXText, K::kLabel, "s X", 42, 351, 16, 8},
    ControlTemplate{ctl::kSliceX, K::kTickSlider, "", 58, 349, 273, 14},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "View Infomation", 337, 319, 100, 76},
    ControlTemplate{ctl::kNoId, K::kLabel, "Position :", 343, 330, 35, 11},
    ControlTemplate{ctl::kPositionText, K::kLabel, "(0, 0, 0)", 383, 330, 48, 8},
    ControlTemplate{ctl::kNoId, K::kLabel, "Intensity :", 343, 342, 35, 11},
    ControlTemplate{ctl::kIntensityText, K::kLabel, "<0, 0>", 383, 342, 48, 8},
    ControlTemplate{ctl::kNoId, K::kLabel, "Intensity Range :", 343, 353, 35, 17},
    ControlTemplate{ctl::kRangeText, K::kLabel, "[0, 0]", 383, 358, 48, 8},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "Intensity range", 9, 365, 177, 30},
    ControlTemplate{ctl::kNoId, K::kLabel, "IMin", 17, 373, 19, 9},
    ControlTemplate{ctl::kWindowLow, K::kSlider, "", 36, 373, 122, 9},
    ControlTemplate{ctl::kWindowLowText, K::kLabel, "Min", 160, 373, 24, 9},
    ControlTemplate{ctl::kNoId, K::kLabel, "IMax", 17, 383, 19, 9},
    ControlTemplate{ctl::kWindowHigh, K::kSlider, "", 36, 383, 122, 9},
    ControlTemplate{ctl::kWindowHighText, K::kLabel, "Max", 160, 383, 24, 9},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "Zoom option", 188, 365, 146, 30},
    ControlTemplate{ctl::kZoomEdit, K::kDigitEdit, "", 190, 373, 35, 13},
    ControlTemplate{ctl::kZoomSpin, K::kSpin, "", 216, 374, 11, 11},
    ControlTemplate{ctl::kZoomSlider, K::kTickSlider, "", 229, 373, 102, 13},
    ControlTemplate{ctl::kInputOutputGroup, K::kGroupBox, "Input/Output", 447, 7, 295, 45},
    ControlTemplate{ctl::kLoadImage, K::kButton, "Load Image", 455, 17, 69, 16},
    ControlTemplate{ctl::kLoadSegmentation, K::kButton, "Load Segmentation", 528, 17, 69, 16},
    ControlTemplate{ctl::kShowSegmentation, K::kCheckBox, "", 600, 21, 10, 10},
    ControlTemplate{ctl::kShowSegmentationText, K::kLabel, "Show On/Off", 613, 22, 50, 9},
    ControlTemplate{ctl::kSaveSegmentation, K::kButton, "Save Segmentation", 668, 17, 69, 16},
    ControlTemplate{ctl::kLoadBoundary, K::kButton, "Load Boundary", 528, 34, 69, 16},
    ControlTemplate{ctl::kShowBoundary, K::kCheckBox, "", 600, 38, 10, 10},
    ControlTemplate{ctl::kShowBoundaryText, K::kLabel, "Show On/Off", 613, 39, 49, 9},
    ControlTemplate{ctl::kReset, K::kButton, "Reset", 668, 34, 69, 16},
    ControlTemplate{ctl::kNoId, K::kGroupBox, "Segmentation Correction", 447, 53, 295, 106},
    ControlTemplate{ctl::kAlgorithmGroup, K::kGroupBox, "Algorithms", 452, 61, 285, 23},
    ControlTemplate{ctl::kSemiAutomatic, K::kRadioFirst, "Semi-Automatic correction", 459, 69, 102, 12},
    ControlTemplate{ctl::kSemiAutomaticMillimetre, K::kRadio, "Semi-automatic (mm)", 563, 69, 94, 12},
    ControlTemplate{ctl::kManual, K::kRadio, "Manual Correction", 659, 69, 76, 12},
    ControlTemplate{ctl::kReferenceDirText, K::kLabel, "Reference Image Directory:", 458, 85, 136, 10},
    ControlTemplate{ctl::kReferenceDir, K::kEdit, "", 457, 95, 259, 13},
    ControlTemplate{ctl::kBrowseReferenceDir, K::kButton, "...", 720, 96, 16, 11},
    ControlTemplate{ctl::kInteractionGroup, K::kGroupBox, "User interaction (UI) options", 454, 109, 159, 28},
    ControlTemplate{ctl::kMarking, K::kCheckBox, "Marking", 458, 118, 41, 13},
    ControlTemplate{ctl::kBrush3D, K::kCheckBox, "3D", 507, 118, 24, 13},
    ControlTemplate{ctl::kNoId, K::kLabel, "BrSize :", 536, 121, 26, 10},
    ControlTemplate{ctl::kBrushSizeEdit, K::kEdit, "", 564, 118, 30, 13},
    ControlTemplate{ctl::kBrushSpin, K::kSpin, "", 593, 118, 12, 13},
    ControlTemplate{ctl::kLoadUI, K::kButton, "Load UI", 616, 118, 39, 13},
    ControlTemplate{ctl::kSaveUI, K::kButton, "Save UI", 657, 118, 39, 13},
    ControlTemplate{ctl::kClearUI, K::kButton, "Clear UI", 698, 118, 39, 13},
    ControlTemplate{ctl::kSegmentation, K::kButton, "Segmentation", 495, 140, 69, 16},
    ControlTemplate{ctl::kCancelCorrection, K::kButton, "Cancel", 629, 140, 69, 16},
    ControlTemplate{ctl::kLog, K::kListBox, "", 447, 160, 295, 237},
};

// round(a * b / c) as the classic MulDiv does it.
int MulDiv(int a, int b, int c) { return static_cast<int>(std::lround(static_cast<double>(a) * b / c)); }
}  // namespace

std::span<const ControlTemplate> MainWindowControls() { return kControls; }

const ControlTemplate* FindControlTemplate(int id) {
  for (const auto& control : kControls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = (letters / 26 + 1) / 2;
  m_baseY = metrics.height();
}

int DialogUnits::X(int dlu) const { return MulDiv(dlu, m_baseX, 4); }
int DialogUnits::Y(int dlu) const { return MulDiv(dlu, m_baseY, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  const int left = X(x), top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QFont DialogFont() {
  // DejaVu Sans stands in for the original's Trebuchet MS; the Korean texts of
  // the About box fall back to NanumGothic. 11 pixels is 8 points at 96 dpi.
  QFont font;
  font.setFamilies(QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("NanumGothic")});
  font.setPixelSize(11);
  return font;
}

DialogUnits CurrentDialogUnits() { return DialogUnits(DialogFont()); }

}  // namespace app
