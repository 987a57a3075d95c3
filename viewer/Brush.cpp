#include "viewer/Brush.h"

#include <algorithm>
#include <climits>
#include <cmath>

int TruncToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

BrushPlane AxialPlane(const CVoxel& volume) {
  const std::int64_t row = volume.X, slab = static_cast<std::int64_t>(volume.X) * volume.Y;
  return {volume.X, volume.Y, volume.Z, 1, row, slab};
}

bool PaintBrushDisc(std::int16_t* map, const BrushPlane& plane, std::int64_t slice, int h, int v,
                    float radius, std::int16_t value, bool brush3D) {
  if (!(radius > 0.0f)) return true;  // also a NaN radius
  const std::int64_t s = slice;
  const float step = radius < 4.5f ? 1.0f : 2.0f;
  float t = radius;
  for (std::int64_t m = 0;; ++m) {
    // Quick rejection of a layer whose square lies wholly outside the plane.
    const int left = std::max(TruncToInt(h - static_cast<double>(t) - 1), 0);
    const int top = std::max(TruncToInt(v - static_cast<double>(t) - 1), 0);
    const int right = std::min(TruncToInt(h + 1 + static_cast<double>(t)), plane.width);
    const int bottom = std::min(TruncToInt(v + 1 + static_cast<double>(t)), plane.height);
    if (left >= right || top >= bottom) return false;

    // A layer is written only while both of its slices lie in the volume; once one of
    // them has left it, every later layer lies further out.
    const std::int64_t above = s + m, below = s - m;
    if (above < 0 || above >= plane.depth || below < 0 || below >= plane.depth) return true;

    // The disc's square, clipped to the plane (the clipped-away part is never written).
    const int k0 = std::max(TruncToInt(h - static_cast<double>(t)), 0);
    const int k1 = std::min(TruncToInt(h + static_cast<double>(t)) - 1, plane.width - 1);
    const int j0 = std::max(TruncToInt(v - static_cast<double>(t)), 0);
    const int j1 = std::min(TruncToInt(v + static_cast<double>(t)) - 1, plane.height - 1);
    const double t2 = static_cast<double>(t) * t;
    for (int k = k0; k <= k1; ++k) {
      for (int j = j0; j <= j1; ++j) {
        const std::int64_t dk = static_cast<std::int64_t>(k) - h, dj = static_cast<std::int64_t>(j) - v;
        if (!(t2 > static_cast<double>(dk * dk + dj * dj))) continue;
        const std::int64_t inPlane = k * plane.colStep + j * plane.rowStep;
        map[inPlane + above * plane.sliceStep] = value;
        if (m != 0) map[inPlane + below * plane.sliceStep] = value;
      }
    }

    if (!brush3D) return true;
    t -= step;
    if (t <= 0.0f) return true;
  }
}
