// Manual correction: merging the painted strokes into the accumulated map and
// writing the accumulated map into the segmentation.
#include "fusion/Fusion.h"
#include "fusion/FusionSteps.h"

namespace {

// Runs op(target voxel, source voxel) over every position, z outermost, then y,
// then x. Volumes of different sizes or without data are refused.
template <typename Op>
bool ForEveryVoxel(CVoxel& target, const CVoxel& source, Op op) {
  if (!target.HasData() || !source.HasData() || !target.SameSize(source)) return false;
  for (std::size_t i = 0; i < target.VoxelCount(); ++i) op(target[i], source[i]);
  return true;
}

}  // namespace

bool MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap) {
  return ForEveryVoxel(accumulatedMap, strokeMap,
                       [](CVoxel::value_type& accumulated, CVoxel::value_type stroke) {
                         if (stroke != 0) accumulated = stroke;
                       });
}

bool ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap) {
  return ForEveryVoxel(segmentation, accumulatedMap,
                       [](CVoxel::value_type& label, CVoxel::value_type scribble) {
                         if (scribble == fusion::kForegroundScribble)
                           label = 1;
                         else if (scribble == fusion::kBackgroundScribble)
                           label = 0;
                       });
}
