// The same grid in another order: a volume whose voxel centres are the points
// of another volume's grid, listed with the axes permuted and/or running the
// other way (ITK stacks a DICOM series along the slice normal, VTK's reader the
// other way; another tool may store x, y, z as y, x, z).
#pragma once

#include <string>

#include "volume/Voxel.h"

namespace volume {

enum class GridMatch {
  Same,       // the volume already lies on the grid, voxel for voxel
  Reordered,  // the volume was reordered onto the grid
  Different,  // its voxel centres are not the grid's points: left as it was
};

// Finds the permutation and reversal of the volume's axes under which its
// size and geometry are the grid's (SameGeometry with its default tolerances:
// spacing 1e-4 relative, origin 1e-3 mm, direction 1e-4) and reorders the
// voxels by position, so that voxel (x, y, z) of the result lies where voxel
// (x, y, z) of the grid lies. The result keeps its own NIfTI codes and takes
// the geometry its axes have in the new order (the grid's, within the
// tolerances). For Reordered, *how (when given) names the grid's axes along
// which the volume's x, y and z ran, e.g. "x, y, -z" (a minus: the other way).
GridMatch ReorderOntoGrid(CVoxel& volume, const CVoxel& grid, std::string* how = nullptr);

// The one line that tells the user a volume was reordered, e.g.
// ReorderedText("ground truth", "gt.nii", "segmentation", "seg.mhd", "x, y, -z").
std::string ReorderedText(const std::string& what, const std::string& path, const std::string& gridWhat,
                          const std::string& gridPath, const std::string& how);

}  // namespace volume
