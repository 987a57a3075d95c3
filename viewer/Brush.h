// The brush that paints scribbles into a stroke map, as plain C++: the viewer
// paints through it under the mouse, and the simulated user paints through it
// the strokes it decides on, so both make exactly the same voxels.
#pragma once

#include <cstdint>

#include "volume/Voxel.h"

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

// Paints a disc of `radius` (voxels strictly closer than the radius to (h, v))
// of `value` around plane point (h, v) of slice `slice`; with the 3-D brush also
// smaller discs on the slices above and below (radius shrinking by 1, or by 2
// from 4.5 on), as long as both slices of a layer lie in the volume. Parts
// outside the plane are never written. Returns false when a layer's square
// lies wholly outside the plane.
bool PaintBrushDisc(std::int16_t* map, const BrushPlane& plane, std::int64_t slice, int h, int v,
                    float radius, std::int16_t value, bool brush3D);
