// Scribble regions, distance maps, probability maps, fusion and manual
// correction: the voxel work of a correction run. No Qt, no VTK.
//
// Region lists hold the foreground regions first, then the background ones.
// Null entries of a reference list are skipped (never counted as voters).
#pragma once

#include <memory>
#include <vector>

#include "geometry/LabelRuns.h"
#include "volume/Voxel.h"

namespace fusion {

// The length of one voxel along x, y and z in the unit the correction measures
// distances in. Unit lengths (the default) measure in voxels of the volume.
struct AxisLengths {
  double x = 1.0;
  double y = 1.0;
  double z = 1.0;
  bool IsUnit() const { return x == 1.0 && y == 1.0 && z == 1.0; }
  bool operator==(const AxisLengths&) const = default;
};

// The parameter set of a semi-automatic correction run. The defaults are the
// set of every run (the window's and corvane-correct's, through
// SemiAutomaticParameters()); the fusion stages read the fields they need.
// The translation search follows from the neighbourhood margin: a range of 8
// voxels on every axis for a margin wider than 10 voxels in x (else 4),
// searched in steps of a quarter of the range (rounded down).
constexpr C3DPoint TranslationRangeFor(const C3DPoint& margin) {
  const int range = margin.x > 10 ? 8 : 4;
  return {range, range, range};
}
constexpr C3DPoint TranslationStepFor(const C3DPoint& range) {
  return {range.x / 4, range.y / 4, range.z / 4};
}
struct CorrectionParameters {
  C3DPoint neighbourhoodMargin{18, 18, 6};
  C3DPoint translationRange = TranslationRangeFor(neighbourhoodMargin);
  C3DPoint translationStep = TranslationStepFor(translationRange);
  double segmentationWeight = 0.005;
  double otherScribbleWeight = 0.1;
  double priorDistance = 10.0;
  double pairDistance = 40.0;
  double distanceScale = 100.0;
  int votingReferences = 7;
  // Margin (voxels) of the box around the segmentation that registered references are kept in.
  C3DPoint referenceBoxMargin{20, 20, 20};
  // The length of one voxel along each axis in the unit of the distances
  // above (pair distance, distance maps, prior distance, distance scale).
  AxisLengths voxelLengths;
  // References whose spacing or direction differ from the segmentation's are
  // first placed onto its grid by where they lie in space (ReferenceOnGridOf).
  bool placeReferencesByGeometry = false;
  // Threads the run may use (0: every core). The result never depends on it.
  int threads = 0;
};

// Which scribbles a region is made of: foreground (inside the organ, map value
// 2) or background (outside, map value 3).
enum class ScribbleKind { Foreground, Background };

// A scribble region kept over its bounding box only, so that many regions fit
// in memory whatever the volume size: `voxels` holds the region's values (its
// scribble value on its voxels, 0 elsewhere) and its voxel (x, y, z) lies at
// position origin + (x, y, z) of a volume of `volumeSize`. Everything outside
// the box is 0. A region without voxels has no voxel data.
struct ScribbleRegion {
  C3DPoint volumeSize;
  C3DPoint origin;
  CVoxel voxels;
  ScribbleKind kind = ScribbleKind::Foreground;

  // The region's value at a volume position (0 outside its box).
  int At(int x, int y, int z) const {
    const int lx = x - origin.x;
    const int ly = y - origin.y;
    const int lz = z - origin.z;
    return voxels.HasData() && voxels.Contains(lx, ly, lz) ? voxels.At(lx, ly, lz) : 0;
  }
};
using ScribbleRegionList = std::vector<ScribbleRegion>;

// How many of the regions of a list are of each kind.
struct RegionCounts {
  int foreground = 0;
  int background = 0;
  bool operator==(const RegionCounts&) const = default;
};

// The window of a region (its enlarged bounding box, bounds inclusive, in
// volume positions) and the region's kind. The window with a minimum above its
// maximum on some axis contains no voxel: a region without voxels gets
// (0,0,0)..(-1,-1,-1).
struct RegionWindow {
  C3DPoint origin{0, 0, 0};
  C3DPoint end{-1, -1, -1};
  ScribbleKind kind = ScribbleKind::Foreground;
  C3DPoint Size() const { return end - origin + 1; }
  bool operator==(const RegionWindow&) const = default;
};
using RegionWindowList = std::vector<RegionWindow>;

// The registered references the votes read: each as the runs of its voxels
// > 0 over the reference box, and the box's first voxel in the segmentation.
struct BoxedReferences {
  std::vector<geometry::LabelRuns> labels;
  C3DPoint boxMinimum;
};

}  // namespace fusion

// The stages of the design keep their names at global scope.

// Manual correction. Both refuse (return false, target untouched) volumes of
// different sizes or without data: strokes painted on another grid would land
// on the wrong voxels.
// Non-zero strokes overwrite the accumulated map; zero strokes leave it alone.
bool MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap);
// Map value 2 makes the label 1, value 3 makes it 0; every other value leaves it.
bool ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap);

// Regions of the scribbles (foreground 2, background 3) that contradict the
// segmentation: components, pair unions and neighbourhood unions per
// scribble value, the foreground regions first, appended to `regions`; the
// counts are those of the appended regions. Reads the pair distance, the
// neighbourhood margin and the voxel lengths (for the pair distance between
// component centres) of `parameters`.
fusion::RegionCounts ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation,
                                            const fusion::CorrectionParameters& parameters,
                                            fusion::ScribbleRegionList& regions);

// One window (enlarged bounding box by the neighbourhood margin) and exact
// Euclidean distance map per region, appended to the lists. A region without
// voxels gets the empty window and a 0-size map. Distances are measured with
// the voxel lengths of `parameters` along each axis.
void ComputeDistanceMaps(const fusion::ScribbleRegionList& regions,
                         const fusion::CorrectionParameters& parameters, CFVoxelList& distanceMaps,
                         fusion::RegionWindowList& windows);

// Reference votes per region window, one map of the window's size per region:
// inside its window every region sees the other scribbles of the map as
// markers (4, 5), every reference is scored at every translation and the best
// ones vote. Without references every map is all zero. Reads the voting
// references, the two weights, the translation range and step and the thread
// count of `parameters` (0: every core); the maps do not depend on the latter.
CFVoxelList ComputeProbabilityMaps(const fusion::ScribbleRegionList& regions,
                                   const fusion::RegionWindowList& windows, const CVoxel& segmentation,
                                   const CVoxel& interactionMap, const fusion::BoxedReferences& references,
                                   const fusion::CorrectionParameters& parameters);

// Per-voxel foreground probability of the whole volume, from the maps and
// windows of every region (by region) and the prior distance, distance scale
// and thread count of `parameters`. Null when the inputs do not fit together
// (sizes, list lengths, windows outside the volume, maps not of their window's
// size, a distance scale that is not positive). The result does not depend on
// the thread count.
std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const fusion::RegionWindowList& windows,
                              const fusion::CorrectionParameters& parameters);
