// Small label-volume operations the correction pipeline uses to locate a label,
// cut windows out of volumes and put a result back. All scans run z outermost,
// then y, then x.
#pragma once

#include <memory>

#include "volume/Voxel.h"

namespace geometry {

// Bounding box of the voxels > 0, each minimum lowered by the margin (clipped
// at 0), each maximum raised by it (clipped at dimension - 1). Corners are
// inclusive. A volume without a voxel > 0 yields an inverted box.
void EnlargedBoundingBox(const CVoxel& label, const C3DPoint& margin, C3DPoint& minCorner,
                         C3DPoint& maxCorner);

// True when some voxel is > 0 (the label is not empty).
bool HasForeground(const CVoxel& label);

// Centroid of the non-zero voxels in single precision, each mean rounded as
// floor(mean + 0.5f). An empty volume leaves `centre` unchanged.
void Centroid(const CVoxel& label, C3DPoint& centre);

// Copy of the window [minCorner, minCorner + size). Null unless the window lies
// inside the source. Keeps the source's spacing and origin.
std::unique_ptr<CVoxel> Crop(const CVoxel& source, const C3DPoint& minCorner, const C3DPoint& size);
// Whether the box [minCorner, minCorner + size) lies inside a volume of
// `dimensions`: corner inside, size not negative, end not beyond the volume.
// (A negative size, the window of an empty label, is refused like any other.)
bool BoxInsideVolume(const C3DPoint& dimensions, const C3DPoint& minCorner, const C3DPoint& size);

// 1 where the value (widened to double) is >= threshold, else 0 (NaN gives 0).
std::unique_ptr<CVoxel> Threshold(const CFVoxel& probabilities, double threshold);

// destination(x, y, z) = source(x, y, z) over the inclusive box [first, last],
// skipping positions outside the destination (or outside the source).
void CopyBox(CVoxel& destination, const C3DPoint& first, const C3DPoint& last, const CVoxel& source);

}  // namespace geometry
