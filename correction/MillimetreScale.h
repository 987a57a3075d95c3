// The semi-automatic correction measured in millimetres: its voxel-count
// parameters read as the lengths they have at the design resolution and turned
// into voxels of the case, and reference labels placed onto the case's voxel
// grid by where they lie in space before they are registered.
#pragma once

#include <memory>

#include "correction/CorrectionDriver.h"
#include "correction/ReferenceSet.h"
#include "volume/Voxel.h"

namespace correction {

// The voxel size (mm, along voxel axes x, y, z) the semi-automatic parameters
// were chosen for: every voxel count of CorrectionParameters{} means that many
// of these voxels.
inline constexpr double kDesignSpacing[3] = {0.3125, 0.3125, 3.0};

// The voxel size the millimetre conversion reads from a volume: its spacing
// along each voxel axis, or the design resolution where the spacing is not set
// (a volume without geometry is taken at its word, voxel for voxel).
void ConversionSpacing(const CVoxel& volume, double spacing[3]);

// `design` (voxel counts at the design resolution) re-expressed for voxels of
// `spacing` mm along x, y, z:
// - the neighbourhood margin, the translation range and step and the reference
//   box margin become the voxel counts nearest to their lengths (at least one
//   voxel; the range a whole number of steps, the reference box never smaller
//   than the design's count);
// - distances (distance maps, pair distance, and with them the fusion's prior
//   distance and distance scale) are measured in design voxels: a case voxel
//   is spacing / design long along each axis;
// - reference labels are placed by their geometry (ReferenceOnGridOf).
// At the design resolution the result equals `design` except for that last
// switch, which changes nothing for references on the case's grid.
fusion::CorrectionParameters MillimetreParameters(const fusion::CorrectionParameters& design,
                                                  const double spacing[3]);
// The same for a segmentation's spacing (ConversionSpacing).
fusion::CorrectionParameters MillimetreParameters(const fusion::CorrectionParameters& design,
                                                  const CVoxel& segmentation);

// Whether voxels of `spacing` differ from the design resolution by more than a
// quarter on some axis, where the voxel-count parameters no longer mean the
// distances they were chosen for.
bool FarFromDesignResolution(const double spacing[3]);

// The reference label resampled (nearest neighbour) onto a grid with the
// spacing and direction of `grid`, aligned with `grid`'s voxels, over the box
// that holds the label's non-zero voxels, so that voxel-index registration
// onto `grid` works in the same units on both sides. Null when there is
// nothing to do: the reference already has `grid`'s spacing and direction, or
// either has no geometry, no data or no voxel > 0.
std::unique_ptr<CVoxel> ReferenceOnGridOf(const CVoxel& reference, const CVoxel& grid);

// `load` followed by ReferenceOnGridOf(`grid`): what a millimetre run reads
// references with. `grid` must outlive the loader.
VolumeLoader PlacingLoader(VolumeLoader load, const CVoxel& grid);

}  // namespace correction
