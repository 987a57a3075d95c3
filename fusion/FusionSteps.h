// Building blocks of the fusion stages (Fusion.h), exposed for the tests and
// for callers that need one step on its own. No Qt, no VTK.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "fusion/Fusion.h"
#include "volume/ScribbleValues.h"
#include "volume/Voxel.h"

namespace fusion {

// Scribble values of the maps: foreground (inside the organ) and background.
inline constexpr int kForegroundScribble = volume::scribble::kForeground;
inline constexpr int kBackgroundScribble = volume::scribble::kBackground;
// The map value of a kind's scribbles.
constexpr int ScribbleValue(ScribbleKind kind) {
  return kind == ScribbleKind::Foreground ? kForegroundScribble : kBackgroundScribble;
}
// The largest finite float: "no region voxel seen yet" in the distance transform.
inline constexpr float kFarAway = 3.4028235e38f;
// At most this many components are taken per scribble value.
inline constexpr int kMaxComponents = 10000;
// Centroids more than this many slices apart never form a pair union.
inline constexpr int kMaxPairSlices = 3;
// A slice difference weighs this much in the squared pair distance (3 squared).
inline constexpr int kSliceWeightSquared = 9;
// Markers written into a region's window for scribbles that are not its own.
inline constexpr int kOtherForeground = 4;
inline constexpr int kOtherBackground = 5;
// Fusion constants.
inline constexpr double kConfidenceFactor = 5.0;
inline constexpr double kForegroundConfident = 0.5;  // a probability strictly above it
inline constexpr double kBackgroundConfident = 0.1;  // a probability strictly below it

// A window with a minimum above its maximum on some axis contains no voxel.
bool IsEmptyWindow(const RegionWindow& window);
// True when the window (not empty) lies inside an X x Y x Z volume.
bool WindowInside(const RegionWindow& window, const C3DPoint& dimensions);

// The 6-connected component (value 1) grown from the first non-zero voxel of
// the mask in scan order; neighbours join where the mask is > 0. All zero when
// the mask has no non-zero voxel. Null if the mask has no data.
std::unique_ptr<CVoxel> GrowComponent(const CVoxel& mask);

// Whether two component centroids form a pair union: at most 3 slices apart and
// pairDistance > sqrt(dx^2 + dy^2 + 9 dz^2), strictly. With other than unit
// lengths the differences are first multiplied by the lengths of their axes
// (3 slices and the slice weight then count in those units).
bool FormsPair(const C3DPoint& a, const C3DPoint& b, double pairDistance, const AxisLengths& lengths = {});

// A full-size region cut down to the bounding box of its non-zero voxels, and
// back. A region without voxels (or without data) becomes one without voxel data.
// The compact region is a background region when its first scribble voxel (2
// or 3, in scan order) holds the background value.
ScribbleRegion CompactRegion(const CVoxel& region);
std::unique_ptr<CVoxel> ExpandRegion(const ScribbleRegion& region);

// The window of a region: the bounding box of its voxels > 0 enlarged by the
// margin and clipped to the volume; the empty window when it has none. The
// window takes the region's kind.
RegionWindow WindowOf(const ScribbleRegion& region, const C3DPoint& margin);

// One-dimensional squared distance transform (lower envelope of parabolas) in
// single precision: d[q] = min over p of w2 (q - p)^2 + f[p], where w2 is the
// squared length of one step along the line (1: unit spacing, for which the
// arithmetic is exactly the unweighted one). Holds scratch space for lines of
// up to `maxLength` values.
class SquaredDistanceLine {
 public:
  explicit SquaredDistanceLine(int maxLength);
  // f and d hold n <= maxLength values and must not overlap.
  void Transform(const float* f, int n, float* d, float w2 = 1.0f);

 private:
  std::vector<int> m_parabolas;  // positions of the envelope's parabolas
  std::vector<float> m_bounds;   // boundaries between them
};

// Exact Euclidean distance (unit spacing) of every voxel to the nearest
// non-zero voxel of the mask; `map` is resized to the mask when needed. Voxels
// of a mask without any non-zero voxel get sqrt(kFarAway).
// With `lengths`, a step along axis a is lengths.a long.
void DistanceTransform(const CVoxel& mask, CFVoxel& map, const AxisLengths& lengths = {});

// Quicksort on positions lo..hi, descending by value, the ints moved alongside.
// Partition: pivot = value[hi], entries >= pivot go left. Ties fall where this
// scheme puts them, which decides the best translation and the voters.
void DescendingPairSort(std::vector<double>& values, std::vector<int>& indices, int lo, int hi);

// Inside every full-size region's window, region voxels that are 0 become
// kOtherBackground where the map holds a background scribble and
// kOtherForeground where it holds a foreground one.
void MarkOtherScribbles(CVoxelList& regions, const CVoxel& interactionMap, const RegionWindowList& windows);

// How well `reference` agrees over the window with the region's scribbles
// (full-size, markers written) and with the segmentation when its voxel
// `referenceStart` is taken for the window's first voxel (the translated
// window origin minus the reference box's minimum). Summed in double
// precision, z outermost, then y, then x, with the two weights of `parameters`.
double AgreementScore(const CVoxel& segmentation, const CVoxel& region, const RegionWindow& window,
                      const CVoxel& reference, const C3DPoint& referenceStart,
                      const CorrectionParameters& parameters);

// Offsets -range, -range + step, ... up to +range on one axis. A step below 1
// counts as 1 and a negative range as 0, so the list is never empty.
std::vector<int> TranslationOffsets(int range, int step);

}  // namespace fusion
