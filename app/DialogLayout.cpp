#include "app/DialogLayout.h"

#include <QFontMetrics>
#include <QStringList>
#include <array>
#include <cmath>

namespace {
using K = ControlKind;
constexpr std::array kControls{
    CControlTemplate{ctl::kImageViewerGroup, K::kGroupBox, "Image Viewer", 9, 7, 434, 304},
    CControlTemplate{ctl::kViewer, K::kViewer, "", 16, 16, 418, 293},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "Image View Controls", 7, 311, 435, 82},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "Axis and Slice", 9, 319, 325, 43},
    CControlTemplate{ctl::kNoId, K::kLabel, "Axis Z:", 16, 327, 26, 10},
    CControlTemplate{ctl::kSliceZText, K::kLabel, "s Z", 43, 327, 16, 8},
    CControlTemplate{ctl::kSliceZ, K::kSlider, "", 58, 327, 273, 10},
    CControlTemplate{ctl::kNoId, K::kLabel, "Axis Y:", 16, 339, 26, 10},
    CControlTemplate{ctl::kSliceYText, K::kLabel, "s Y", 43, 339, 16, 8},
    CControlTemplate{ctl::kSliceY, K::kSlider, "", 58, 339, 273, 10},
    CControlTemplate{ctl::kNoId, K::kLabel, "Axis X:", 16, 352, 26, 10},
    CControlTemplate{ctl::kSliceXText, K::kLabel, "s X", 43, 352, 16, 8},
    CControlTemplate{ctl::kSliceX, K::kTickSlider, "", 58, 351, 273, 10},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "View Infomation", 337, 319, 100, 74},
    CControlTemplate{ctl::kNoId, K::kLabel, "Position :", 343, 330, 35, 11},
    CControlTemplate{ctl::kPositionText, K::kLabel, "(0, 0, 0)", 383, 330, 48, 8},
    CControlTemplate{ctl::kNoId, K::kLabel, "Intensity :", 343, 342, 35, 11},
    CControlTemplate{ctl::kIntensityText, K::kLabel, "<0, 0>", 383, 342, 48, 8},
    CControlTemplate{ctl::kNoId, K::kLabel, "Intensity Range :", 343, 353, 35, 17},
    CControlTemplate{ctl::kRangeText, K::kLabel, "[0, 0]", 383, 358, 48, 8},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "Intensity range", 9, 362, 177, 29},
    CControlTemplate{ctl::kNoId, K::kLabel, "IMin", 17, 370, 20, 11},
    CControlTemplate{ctl::kWindowLow, K::kSlider, "", 36, 370, 125, 10},
    // The two window readouts reach 3 units further right than in the original
    // layout (still inside their group box), so that "10000" fits in this font.
    CControlTemplate{ctl::kWindowLowText, K::kLabel, "Min", 165, 369, 20, 9},
    CControlTemplate{ctl::kNoId, K::kLabel, "IMax", 17, 379, 20, 11},
    CControlTemplate{ctl::kWindowHigh, K::kSlider, "", 36, 379, 125, 10},
    CControlTemplate{ctl::kWindowHighText, K::kLabel, "Max", 165, 378, 20, 9},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "Zoom option", 188, 362, 146, 29},
    CControlTemplate{ctl::kZoomEdit, K::kDigitEdit, "", 190, 374, 35, 12},
    CControlTemplate{ctl::kZoomSpin, K::kSpin, "", 216, 375, 11, 10},
    CControlTemplate{ctl::kZoomSlider, K::kTickSlider, "", 229, 376, 106, 10},
    CControlTemplate{ctl::kInputOutputGroup, K::kGroupBox, "Input/Output", 447, 7, 295, 45},
    CControlTemplate{ctl::kLoadImage, K::kButton, "Load Image", 455, 17, 69, 16},
    CControlTemplate{ctl::kLoadSegmentation, K::kButton, "Load Segmentation", 528, 17, 69, 16},
    CControlTemplate{ctl::kShowSegmentation, K::kCheckBox, "", 600, 22, 9, 8},
    CControlTemplate{ctl::kShowSegmentationText, K::kLabel, "Show On/Off", 613, 22, 50, 9},
    CControlTemplate{ctl::kSaveSegmentation, K::kButton, "Save Segmentation", 668, 17, 69, 16},
    CControlTemplate{ctl::kLoadBoundary, K::kButton, "Load Boundary", 528, 34, 69, 16},
    CControlTemplate{ctl::kShowBoundary, K::kCheckBox, "", 600, 39, 9, 8},
    CControlTemplate{ctl::kShowBoundaryText, K::kLabel, "Show On/Off", 613, 39, 49, 9},
    CControlTemplate{ctl::kReset, K::kButton, "Reset", 668, 34, 69, 16},
    CControlTemplate{ctl::kNoId, K::kGroupBox, "Segmentation Correction", 447, 53, 295, 103},
    CControlTemplate{ctl::kAlgorithmGroup, K::kGroupBox, "Algorithms", 452, 60, 285, 21},
    CControlTemplate{ctl::kSemiAutomatic, K::kRadioFirst, "Semi-Automatic correction", 459, 69, 102, 10},
    CControlTemplate{ctl::kManual, K::kRadio, "Manual Correction", 637, 69, 98, 10},
    CControlTemplate{ctl::kReferenceDirText, K::kLabel, "Reference Image Directory:", 458, 81, 136, 10},
    CControlTemplate{ctl::kReferenceDir, K::kEdit, "", 457, 91, 259, 12},
    CControlTemplate{ctl::kBrowseReferenceDir, K::kButton, "...", 720, 92, 16, 10},
    CControlTemplate{ctl::kInteractionGroup, K::kGroupBox, "User interaction (UI) options", 454, 105, 159,
                     26},
    CControlTemplate{ctl::kMarking, K::kCheckBox, "Marking", 458, 114, 41, 13},
    CControlTemplate{ctl::kBrush3D, K::kCheckBox, "3D", 507, 114, 21, 13},
    CControlTemplate{ctl::kNoId, K::kLabel, "BrSize :", 536, 117, 26, 10},
    CControlTemplate{ctl::kBrushSizeEdit, K::kEdit, "", 564, 115, 30, 12},
    CControlTemplate{ctl::kBrushSpin, K::kSpin, "", 593, 115, 12, 13},
    CControlTemplate{ctl::kLoadUI, K::kButton, "Load UI", 616, 114, 39, 13},
    CControlTemplate{ctl::kSaveUI, K::kButton, "Save UI", 657, 114, 39, 13},
    CControlTemplate{ctl::kClearUI, K::kButton, "Clear UI", 698, 114, 39, 13},
    CControlTemplate{ctl::kSegmentation, K::kButton, "Segmentation", 495, 135, 69, 16},
    CControlTemplate{ctl::kCancelCorrection, K::kButton, "Cancel", 629, 135, 69, 16},
    CControlTemplate{ctl::kLog, K::kListBox, "", 447, 158, 295, 235},
};

// round(a * b / c) as the classic MulDiv does it.
int MulDiv(int a, int b, int c) { return static_cast<int>(std::lround(static_cast<double>(a) * b / c)); }
}  // namespace

std::span<const CControlTemplate> MainWindowControls() { return kControls; }

const CControlTemplate* FindControlTemplate(int id) {
  for (const auto& control : kControls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

CDialogUnits::CDialogUnits(const QFont& font, double scale) : m_scale(scale) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = (letters / 26 + 1) / 2;
  m_baseY = metrics.height();
}

int CDialogUnits::X(int dlu) const {
  return static_cast<int>(std::lround(MulDiv(dlu, m_baseX, 4) * m_scale));
}
int CDialogUnits::Y(int dlu) const {
  return static_cast<int>(std::lround(MulDiv(dlu, m_baseY, 8) * m_scale));
}

QRect CDialogUnits::Rect(int x, int y, int width, int height) const {
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

CDialogUnits DialogUnits() { return CDialogUnits(DialogFont(), 1.0); }
