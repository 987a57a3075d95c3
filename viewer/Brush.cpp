#include "viewer/Brush.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace viewer {

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
  return ForEachBrushVoxel(plane, slice, h, v, radius, brush3D, [&](std::int64_t i) { map[i] = value; });
}

}  // namespace viewer
