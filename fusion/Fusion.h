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

// The length of one voxel along x, y and z in the unit the correction measures
// distances in. Unit lengths (the default) measure in voxels of the volume.
struct AxisLengths {
  double x = 1.0;
  double y = 1.0;
  double z = 1.0;
  bool IsUnit() const { return x == 1.0 && y == 1.0 && z == 1.0; }
  bool operator==(const AxisLengths&) const = default;
};

// Manual correction. Both refuse (return false, target untouched) volumes of
// different sizes or without data: strokes painted on another grid would land
// on the wrong voxels.
// Non-zero strokes overwrite the accumulated map; zero strokes leave it alone.
bool MergeStrokes(CVoxel& accumulatedMap, const CVoxel& strokeMap);
// Map value 2 makes the label 1, value 3 makes it 0; every other value leaves it.
bool ApplyScribbles(CVoxel& segmentation, const CVoxel& accumulatedMap);

// A scribble region kept over its bounding box only, so that many regions fit
// in memory whatever the volume size: `voxels` holds the region's values (its
// scribble value on its voxels, 0 elsewhere) and its voxel (x, y, z) lies at
// position origin + (x, y, z) of a volume of `volumeSize`. Everything outside
// the box is 0. A region without voxels has no voxel data.
struct ScribbleRegion {
  C3DPoint volumeSize;
  C3DPoint origin;
  CVoxel voxels;

  // The region's value at a volume position (0 outside its box).
  int At(int x, int y, int z) const {
    const int lx = x - origin.x;
    const int ly = y - origin.y;
    const int lz = z - origin.z;
    return voxels.HasData() && voxels.Contains(lx, ly, lz) ? voxels.At(lx, ly, lz) : 0;
  }
};
using ScribbleRegionList = std::vector<ScribbleRegion>;

// Regions of scribbles that contradict the segmentation: components, pair
// unions and neighbourhood unions per scribble value, appended to `regions`;
// the counts are those of the appended regions. The pair distance between
// component centres is measured with `lengths` per voxel.
void ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation, int foregroundValue,
                            int backgroundValue, double pairDistance, const C3DPoint& margin,
                            ScribbleRegionList& regions, int& foregroundCount, int& backgroundCount,
                            const AxisLengths& lengths = {});
// The same regions as full-size volumes.
void ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation, int foregroundValue,
                            int backgroundValue, double pairDistance, const C3DPoint& margin,
                            CVoxelList& regions, int& foregroundCount, int& backgroundCount);

// One window (enlarged bounding box) and exact Euclidean distance map per region.
// A region without voxels gets the empty window (0,0,0)..(-1,-1,-1) and a 0-size map.
// Distances are measured with `lengths` per voxel along each axis.
void ComputeDistanceMaps(const ScribbleRegionList& regions, const C3DPoint& margin, CFVoxelList& distanceMaps,
                         CPointArray& windowOrigins, CPointArray& windowEnds,
                         const AxisLengths& lengths = {});
void ComputeDistanceMaps(const CVoxelList& regions, const C3DPoint& margin, CFVoxelList& distanceMaps,
                         CPointArray& windowOrigins, CPointArray& windowEnds);

// Reference votes per region window: inside its window every region sees the
// other scribbles of the map as markers (4, 5), every reference is scored at
// every translation and the best ones vote. Without references every map is
// all zero. `threads` as for ResolveThreadCount (0: every core); the maps do
// not depend on it.
void ComputeProbabilityMaps(const ScribbleRegionList& regions, const CVoxel& segmentation,
                            const CVoxel& interactionMap, int votingReferences, int foregroundValue,
                            int backgroundValue, double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const CVoxelList& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps, int threads = 0);
// The same with the references as runs of their voxels > 0 (each of the
// reference box's size), every one of them usable.
void ComputeProbabilityMaps(const ScribbleRegionList& regions, const CVoxel& segmentation,
                            const CVoxel& interactionMap, int votingReferences, int foregroundValue,
                            int backgroundValue, double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const std::vector<CLabelRuns>& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps, int threads = 0);
// The same for full-size regions; writes the markers into them.
void ComputeProbabilityMaps(CVoxelList& regions, const CVoxel& segmentation, const CVoxel& interactionMap,
                            int votingReferences, int foregroundValue, int backgroundValue,
                            double segmentationWeight, double otherScribbleWeight,
                            const C3DPoint& translationRange, const C3DPoint& translationStep,
                            const CPointArray& windowOrigins, const CPointArray& windowEnds,
                            const CVoxelList& references, const C3DPoint& boxMinimum,
                            CFVoxelList& probabilityMaps, int threads = 0);

// Per-voxel foreground probability of the whole volume. Null when the inputs do
// not fit together (sizes, list lengths, windows outside the volume, maps not of
// their window's size, a distance scale that is not positive). `threads` as for
// the probability maps; the result does not depend on it.
std::unique_ptr<CFVoxel> Fuse(const CVoxel& interactionMap, const CVoxel& segmentation,
                              const CFVoxelList& distanceMaps, const CFVoxelList& probabilityMaps,
                              const CPointArray& windowOrigins, const CPointArray& windowEnds,
                              int foregroundCount, int backgroundCount, double priorDistance,
                              double distanceScale, int threads = 0);
