// The region stages over full-size regions (each region a volume of the map's
// size), the form in which the plain version of the method and many tests
// hold them; the engine keeps regions over their bounding boxes. Plus the
// small conversions between the two forms of windows and references.
#pragma once

#include "fusion/Fusion.h"
#include "volume/Voxel.h"

// The regions of ExtractScribbleRegions, each expanded to the map's size.
fusion::RegionCounts ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation,
                                            const fusion::CorrectionParameters& parameters,
                                            CVoxelList& regions);
// ComputeDistanceMaps of full-size regions (a null entry is a region without voxels).
void ComputeDistanceMaps(const CVoxelList& regions, const fusion::CorrectionParameters& parameters,
                         CFVoxelList& distanceMaps, fusion::RegionWindowList& windows);
// ComputeProbabilityMaps of full-size regions; writes the markers of the
// other scribbles into them. A region that cannot be read (null, no data,
// another size) gets a map of zeros, or the empty or missing map its window
// calls for.
CFVoxelList ComputeProbabilityMaps(CVoxelList& regions, const fusion::RegionWindowList& windows,
                                   const CVoxel& segmentation, const CVoxel& interactionMap,
                                   const fusion::BoxedReferences& references,
                                   const fusion::CorrectionParameters& parameters);

// Reference volumes as the votes read them: the runs of every reference that
// holds data (null entries and volumes without data are left out).
fusion::BoxedReferences Boxed(const CVoxelList& references, const C3DPoint& boxMinimum);

// Windows from the parallel lists of the plain form: the first
// `foregroundCount` are foreground windows, the rest background ones.
fusion::RegionWindowList WindowsOf(const CPointArray& origins, const CPointArray& ends, int foregroundCount);
CPointArray Origins(const fusion::RegionWindowList& windows);
CPointArray Ends(const fusion::RegionWindowList& windows);

// The parameters of the probability maps, every other field at its default.
fusion::CorrectionParameters VoteParameters(int votingReferences, double segmentationWeight,
                                            double otherScribbleWeight, const C3DPoint& translationRange,
                                            const C3DPoint& translationStep, int threads = 0);
// The defaults with another neighbourhood margin (and pair distance).
fusion::CorrectionParameters RegionParameters(const C3DPoint& margin, double pairDistance = 40.0);
