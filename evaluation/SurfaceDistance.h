// Exact Euclidean distances in millimetres between voxel sets, with
// anisotropic spacing.
#pragma once

#include <cstddef>
#include <vector>

#include "volume/Voxel.h"

namespace evaluation {

// Separable squared Euclidean distance transform (the lower envelope of
// parabolas of Felzenszwalb and Huttenlocher) in double precision. `grid`
// holds size.x * size.y * size.z values in volume order: 0 at seed voxels,
// +infinity elsewhere. On return every value is the squared distance in mm²
// to the nearest seed, with voxel centres `spacing` mm apart along each axis
// (+infinity when there is no seed at all). Passes run along x, then y, then
// z, so a value is (dz sz)² + ((dy sy)² + (dx sx)²) for the winning seed.
void SquaredDistanceTransform(std::vector<double>& grid, const C3DPoint& size, const double spacing[3]);

// Distance in mm from each query voxel to the nearest seed voxel; both are
// indices of a volume of `volumeSize`. Every distance is +infinity when there
// are no seeds. Only the bounding box of seeds and queries is transformed:
// the nearest seed of a query lies in that box, so the result stays exact.
std::vector<double> NearestSeedDistances(const std::vector<std::size_t>& seeds,
                                         const std::vector<std::size_t>& queries, const C3DPoint& volumeSize,
                                         const double spacing[3]);

}  // namespace evaluation
