// The brush that paints scribbles into a stroke map, as plain C++: the viewer
// paints through it under the mouse, and the simulated user paints through it
// the strokes it decides on, so both make exactly the same voxels.
#pragma once

#include <algorithm>
#include <cstdint>

#include "volume/Voxel.h"

namespace viewer {

// Truncates toward zero, saturating at the int range (NaN gives 0), so that extreme
// zoom, pan or brush values can never produce an undefined conversion.
int TruncToInt(double v);

// A slice plane of a volume: plane width, height and depth (the number of
// slices), and the voxel index steps of a plane column, a plane row and a slice.
struct BrushPlane {
  int width = 0, height = 0, depth = 0;
  std::int64_t colStep = 0, rowStep = 0, sliceStep = 0;
};

// The axial plane (x columns, y rows, z slices) of a volume of these dimensions.
BrushPlane AxialPlane(const CVoxel& volume);

// Visits the voxels of a disc of `radius` (voxels strictly closer than the
// radius to (h, v)) around plane point (h, v) of slice `slice`, as volume
// indices; with the 3-D brush also smaller discs on the slices above and below
// (radius shrinking by 1, or by 2 from 4.5 on), as long as both slices of a
// layer lie in the volume. Parts outside the plane are never visited; a voxel
// is visited once per disc layer that holds it. Returns false when a layer's
// square lies wholly outside the plane.
template <typename Visit>
bool ForEachBrushVoxel(const BrushPlane& plane, std::int64_t slice, int h, int v, float radius, bool brush3D,
                       Visit&& visit);

// Paints the brush's voxels (as ForEachBrushVoxel visits them) with `value`.
bool PaintBrushDisc(std::int16_t* map, const BrushPlane& plane, std::int64_t slice, int h, int v,
                    float radius, std::int16_t value, bool brush3D);

template <typename Visit>
bool ForEachBrushVoxel(const BrushPlane& plane, std::int64_t slice, int h, int v, float radius, bool brush3D,
                       Visit&& visit) {
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
        visit(inPlane + above * plane.sliceStep);
        if (m != 0) visit(inPlane + below * plane.sliceStep);
      }
    }

    if (!brush3D) return true;
    t -= step;
    if (t <= 0.0f) return true;
  }
}

}  // namespace viewer
