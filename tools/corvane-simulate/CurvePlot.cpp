#include "CurvePlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "volume/FileIO.h"

namespace plot {

namespace {

constexpr double kLeft = 80, kRight = 170, kTop = 40, kBottom = 70;
constexpr std::array<Colour, 4> kPalette{{{31, 119, 180}, {255, 127, 14}, {44, 160, 44}, {148, 103, 189}}};
constexpr Colour kInk{40, 40, 40}, kGrid{215, 215, 215};

std::string Number(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string Rgb(Colour c) {
  return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

class SvgCanvas final : public Canvas {
 public:
  void Polyline(const Points& points, Colour colour, double width) override {
    m_body += "<polyline fill=\"none\" stroke=\"" + Rgb(colour) + "\" stroke-width=\"" + Number(width, 1) +
              "\" points=\"" + PointList(points) + "\"/>\n";
  }
  void Polygon(const Points& points, Colour colour, double opacity) override {
    m_body += "<polygon fill=\"" + Rgb(colour) + "\" fill-opacity=\"" + Number(opacity, 2) +
              "\" stroke=\"none\" points=\"" + PointList(points) + "\"/>\n";
  }
  void Text(double x, double y, const std::string& text, Anchor anchor, double size, bool vertical) override {
    const char* anchors[] = {"start", "middle", "end"};
    m_body += "<text x=\"" + Number(x, 1) + "\" y=\"" + Number(y, 1) + "\" font-size=\"" + Number(size, 0) +
              "\" text-anchor=\"" + anchors[static_cast<int>(anchor)] + "\"" +
              (vertical ? " transform=\"rotate(-90 " + Number(x, 1) + " " + Number(y, 1) + ")\"" : "") + ">" +
              Escaped(text) + "</text>\n";
  }
  std::string Document() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) + "\" viewBox=\"0 0 " +
           std::to_string(kWidth) + " " + std::to_string(kHeight) +
           "\" font-family=\"DejaVu Sans, sans-serif\">\n<rect width=\"100%\" height=\"100%\" "
           "fill=\"white\"/>\n" +
           m_body + "</svg>\n";
  }

 private:
  static std::string PointList(const Points& points) {
    std::string list;
    for (const auto& [x, y] : points) list += (list.empty() ? "" : " ") + Number(x, 1) + "," + Number(y, 1);
    return list;
  }
  std::string m_body;
};

}  // namespace

void DrawDiceCurves(const std::vector<simulation::DiceCurve>& curves, Canvas& canvas) {
  double lastStroke = 1.0, low = 1.0;
  for (const auto& c : curves) {
    for (double s : c.strokes) lastStroke = std::max(lastStroke, s);
    for (const auto* values : {&c.median, &c.q1})
      for (double v : *values)
        if (std::isfinite(v)) low = std::min(low, v);
  }
  // The Dice axis ends at 1 and starts at the tenth below the lowest value.
  low = std::clamp(std::floor(low * 10.0 - 1e-9) / 10.0, 0.0, 0.9);
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const auto X = [&](double strokes) { return kLeft + strokes / lastStroke * plotW; };
  const auto Y = [&](double dice) {
    return kTop + (1.0 - (std::clamp(dice, low, 1.0) - low) / (1.0 - low)) * plotH;
  };

  const double yStep = (1.0 - low) > 0.35 ? 0.1 : (1.0 - low) > 0.15 ? 0.05 : 0.02;
  for (double d = low; d <= 1.0 + 1e-9; d += yStep) {
    canvas.Polyline({{kLeft, Y(d)}, {kLeft + plotW, Y(d)}}, kGrid, 1);
    canvas.Text(kLeft - 8, Y(d) + 4, Number(d, 2), Anchor::kEnd, 12, false);
  }
  const int xStep = std::max(1, static_cast<int>(std::ceil(lastStroke / 10.0)));
  for (int s = 0; s <= lastStroke + 1e-9; s += xStep) {
    canvas.Polyline({{X(s), kTop}, {X(s), kTop + plotH}}, kGrid, 1);
    canvas.Text(X(s), kTop + plotH + 18, std::to_string(s), Anchor::kMiddle, 12, false);
  }
  canvas.Polyline({{kLeft, kTop}, {kLeft, kTop + plotH}, {kLeft + plotW, kTop + plotH}}, kInk, 1.5);
  canvas.Text(kLeft + plotW / 2, kHeight - 22, "strokes", Anchor::kMiddle, 14, false);
  canvas.Text(24, kTop + plotH / 2, "Dice", Anchor::kMiddle, 14, true);
  canvas.Text(kLeft + plotW / 2, 24, "Dice against strokes (median, quartile band)", Anchor::kMiddle, 14,
              false);

  for (std::size_t i = 0; i < curves.size(); ++i) {
    const auto& c = curves[i];
    const Colour colour = kPalette[i % kPalette.size()];
    if (c.q1.size() == c.strokes.size() && c.q3.size() == c.strokes.size()) {
      Points band;
      for (std::size_t k = 0; k < c.strokes.size(); ++k) band.emplace_back(X(c.strokes[k]), Y(c.q3[k]));
      for (std::size_t k = c.strokes.size(); k-- > 0;) band.emplace_back(X(c.strokes[k]), Y(c.q1[k]));
      canvas.Polygon(band, colour, 0.2);
    }
    Points line;
    for (std::size_t k = 0; k < c.strokes.size() && k < c.median.size(); ++k)
      line.emplace_back(X(c.strokes[k]), Y(c.median[k]));
    canvas.Polyline(line, colour, 2.5);
    const double ly = kTop + 20 + 24 * static_cast<double>(i);
    canvas.Polyline({{kLeft + plotW + 16, ly - 4}, {kLeft + plotW + 44, ly - 4}}, colour, 2.5);
    canvas.Text(kLeft + plotW + 52, ly, c.mode, Anchor::kStart, 13, false);
  }
}

std::string SvgText(const std::vector<simulation::DiceCurve>& curves) {
  SvgCanvas canvas;
  DrawDiceCurves(curves, canvas);
  return canvas.Document();
}

bool PlotFormatSupported(const std::string& path, std::string& error) {
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".svg")) return true;
  if (EndsWith(lower, ".png")) {
#ifdef CORVANE_PLOT_PNG
    return true;
#else
    error = "--plot: this build has no Qt, so it writes SVG only (name the file .svg)";
    return false;
#endif
  }
  error = "--plot needs a file name ending in .png or .svg, not '" + path + "'";
  return false;
}

bool WritePlot(const std::string& path, const std::vector<simulation::DiceCurve>& curves,
               std::string& error) {
  if (!PlotFormatSupported(path, error)) return false;
  if (EndsWith(Lower(path), ".png")) return WritePng(path, curves, error);
  volume::StagedFile file(path);
  if (!file.Create() || !file.Write(SvgText(curves)) || !file.Finish() || !file.Commit()) {
    error = "cannot write '" + path + "': " + file.Error();
    return false;
  }
  return true;
}

#ifndef CORVANE_PLOT_PNG
bool WritePng(const std::string& path, const std::vector<simulation::DiceCurve>&, std::string& error) {
  error = "cannot write '" + path + "': this build has no Qt";
  return false;
}
#endif

}  // namespace plot
