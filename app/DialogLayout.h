// The main window's controls: identifiers, kinds, texts and rectangles in
// dialog units, and the mapping of dialog units to pixels.
#pragma once

#include <QFont>
#include <QRect>
#include <span>

namespace app {

namespace ctl {
// Control identifiers of the main window.
enum : int {
  kImageViewerGroup = 1002,
  kViewer = 1003,
  kLoadImage = 1004,
  kSliceY = 1014,
  kSliceX = 1015,
  kSliceZ = 1016,
  kZoomSlider = 1017,
  kWindowLow = 1018,
  kWindowHigh = 1020,
  kSliceZText = 1029,
  kSliceYText = 1030,
  kSliceXText = 1031,
  kPositionText = 1032,
  kIntensityText = 1033,
  kRangeText = 1034,
  kLoadBoundary = 1035,
  kLoadSegmentation = 1036,
  kReset = 1037,
  kShowBoundary = 1082,
  kShowSegmentation = 1083,
  kZoomEdit = 1084,
  kZoomSpin = 1085,
  kBrowseReferenceDir = 1103,
  kBrushSpin = 1113,
  kClearUI = 1123,
  kSaveUI = 1125,
  kLoadUI = 1127,
  kSaveSegmentation = 1128,
  kReferenceDir = 1130,
  kInputOutputGroup = 1133,
  kMarking = 1135,
  kBrush3D = 1138,
  kWindowLowText = 1146,
  kWindowHighText = 1147,
  kCancelCorrection = 1148,
  kBrushSizeEdit = 1162,
  kSemiAutomatic = 1165,
  kManual = 1166,
  kSemiAutomaticMillimetre = 1167,
  kSegmentation = 1260,
  kLog = 1262,
  kShowSegmentationText = 1263,
  kShowBoundaryText = 1264,
  kAlgorithmGroup = 1265,
  kReferenceDirText = 1266,
  kInteractionGroup = 1267,
};
// Controls without an identifier of their own.
inline constexpr int kNoId = -1;
}  // namespace ctl

enum class ControlKind {
  kGroupBox,
  kViewer,  // the black frame that becomes the slice viewer
  kLabel,
  kSlider,      // horizontal trackbar without ticks
  kTickSlider,  // horizontal trackbar with ticks at both ends
  kEdit,
  kDigitEdit,  // edit that takes digits only
  kSpin,       // up-down control attached to the control before it (its buddy)
  kButton,
  kCheckBox,
  kRadioFirst,  // first radio button of a group
  kRadio,
  kListBox,
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
};

// Every control of the window in template order (also the back-to-front order).
std::span<const ControlTemplate> MainWindowControls();
// The template of one control, or null.
const ControlTemplate* FindControlTemplate(int id);

// Size of the main window in dialog units.
inline constexpr int kDialogWidthDlu = 753;
inline constexpr int kDialogHeightDlu = 400;

// Dialog units to pixels. The base units follow the font as the classic dialog
// manager computes them (horizontal: half the average width of the 52 letters,
// rounded; vertical: the font's height).
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int dlu) const;
  int Y(int dlu) const;
  QRect Rect(int x, int y, int width, int height) const;
  QRect Rect(const ControlTemplate& control) const {
    return Rect(control.x, control.y, control.width, control.height);
  }
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX = 0;
  int m_baseY = 0;
};

// The font of every window of the program, and the mapping the windows use.
QFont DialogFont();
DialogUnits CurrentDialogUnits();

}  // namespace app
