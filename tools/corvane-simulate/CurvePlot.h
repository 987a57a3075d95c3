// The Dice-against-strokes picture of corvane-simulate: one line per mode
// (the median over the cases, with the band between the quartiles), labelled
// axes and a legend. The layout is drawn onto a canvas, so that the SVG file
// (plain text) and the PNG file (Qt's painter, when the build has Qt) show the
// same picture.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "simulation/Curves.h"

namespace plot {

struct Colour {
  int r = 0, g = 0, b = 0;
};
using Points = std::vector<std::pair<double, double>>;
enum class Anchor { kStart, kMiddle, kEnd };

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void Polyline(const Points& points, Colour colour, double width) = 0;
  // A filled polygon, drawn with the given opacity (0..1).
  virtual void Polygon(const Points& points, Colour colour, double opacity) = 0;
  // Text whose baseline starts, centres or ends at (x, y); `vertical` turns it
  // a quarter anticlockwise about that point.
  virtual void Text(double x, double y, const std::string& text, Anchor anchor, double size,
                    bool vertical) = 0;
};

inline constexpr int kWidth = 800, kHeight = 500;

void DrawDiceCurves(const std::vector<simulation::DiceCurve>& curves, Canvas& canvas);
std::string SvgText(const std::vector<simulation::DiceCurve>& curves);
// Writes FILE.svg or FILE.png (the latter only in a build with Qt); false
// with *error otherwise.
bool WritePlot(const std::string& path, const std::vector<simulation::DiceCurve>& curves, std::string& error);
// Whether the path names a picture this build can write.
bool PlotFormatSupported(const std::string& path, std::string& error);
// The PNG writer (CurvePlotPng.cpp, built with Qt only).
bool WritePng(const std::string& path, const std::vector<simulation::DiceCurve>& curves, std::string& error);

}  // namespace plot
