// Manual correction: merging the painted strokes into the accumulated map and
// writing the accumulated map into the segmentation.
#include <algorithm>

#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace {

// Runs op(target voxel, source voxel) over the extent both volumes share, each
// addressed with its own dimensions (z outermost, then y, then x). Volumes of
// different sizes are thus combined position by position, never out of bounds.
template <typename Op>
void ForCommonExtent(CVoxel& target, const CVoxel& source, Op op) {
  if (!target.HasData() || !source.HasData()) return;
  const int X = std::min(target.X, source.X);
  const int Y = std::min(target.Y, source.Y);
  const int Z = std::min(target.Z, source.Z);
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) op(target.At(x, y, z), source.At(x, y, z));
}

}  // namespace

void MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap) {
  ForCommonExtent(accumulatedMap, strokeMap, [](CVoxel::value_type& accumulated, CVoxel::value_type stroke) {
    if (stroke != 0) accumulated = stroke;
  });
}

void ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap) {
  ForCommonExtent(segmentation, accumulatedMap, [](CVoxel::value_type& label, CVoxel::value_type scribble) {
    if (scribble == fusion::kForegroundScribble)
      label = 1;
    else if (scribble == fusion::kBackgroundScribble)
      label = 0;
  });
}
