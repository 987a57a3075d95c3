#include "FullSizeStages.h"

#include "fusion/FusionSteps.h"

RegionCounts ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation,
                                    const CorrectionParameters& parameters, CVoxelList& regions) {
  ScribbleRegionList compact;
  const RegionCounts counts = ExtractScribbleRegions(interactionMap, segmentation, parameters, compact);
  for (const ScribbleRegion& region : compact) regions.push_back(fusion::ExpandRegion(region));
  return counts;
}

void ComputeDistanceMaps(const CVoxelList& regions, const CorrectionParameters& parameters,
                         CFVoxelList& distanceMaps, RegionWindowList& windows) {
  ScribbleRegionList compact;
  for (const auto& region : regions)
    compact.push_back(region ? fusion::CompactRegion(*region) : ScribbleRegion{});
  ComputeDistanceMaps(compact, parameters, distanceMaps, windows);
}

CFVoxelList ComputeProbabilityMaps(CVoxelList& regions, const RegionWindowList& windows,
                                   const CVoxel& segmentation, const CVoxel& interactionMap,
                                   const BoxedReferences& references,
                                   const CorrectionParameters& parameters) {
  fusion::MarkOtherScribbles(regions, interactionMap, windows);
  CFVoxelList maps;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const CVoxel* region = regions[i].get();
    ScribbleRegionList one;
    if (region && region->HasData() && region->SameSize(segmentation)) {
      one.push_back(fusion::CompactRegion(*region));
    } else {
      one.push_back(ScribbleRegion{});
      one.back().volumeSize = {-1, -1, -1};
    }
    const RegionWindowList window{i < windows.size() ? windows[i] : RegionWindow{}};
    // The markers are already in the region.
    CFVoxelList map = ComputeProbabilityMaps(one, window, segmentation, CVoxel(), references, parameters);
    maps.push_back(std::move(map.front()));
  }
  return maps;
}

BoxedReferences Boxed(const CVoxelList& references, const C3DPoint& boxMinimum) {
  BoxedReferences boxed;
  boxed.boxMinimum = boxMinimum;
  for (const auto& reference : references)
    if (reference && reference->HasData()) boxed.labels.emplace_back(*reference);
  return boxed;
}

RegionWindowList WindowsOf(const CPointArray& origins, const CPointArray& ends, int foregroundCount) {
  RegionWindowList windows;
  for (std::size_t i = 0; i < origins.size() && i < ends.size(); ++i)
    windows.push_back(
        {origins[i], ends[i],
         static_cast<int>(i) < foregroundCount ? ScribbleKind::Foreground : ScribbleKind::Background});
  return windows;
}

CPointArray Origins(const RegionWindowList& windows) {
  CPointArray points;
  for (const RegionWindow& w : windows) points.push_back(w.origin);
  return points;
}

CPointArray Ends(const RegionWindowList& windows) {
  CPointArray points;
  for (const RegionWindow& w : windows) points.push_back(w.end);
  return points;
}

CorrectionParameters VoteParameters(int votingReferences, double segmentationWeight,
                                    double otherScribbleWeight, const C3DPoint& translationRange,
                                    const C3DPoint& translationStep, int threads) {
  CorrectionParameters p;
  p.votingReferences = votingReferences;
  p.segmentationWeight = segmentationWeight;
  p.otherScribbleWeight = otherScribbleWeight;
  p.translationRange = translationRange;
  p.translationStep = translationStep;
  p.threads = threads;
  return p;
}

CorrectionParameters RegionParameters(const C3DPoint& margin, double pairDistance) {
  CorrectionParameters p;
  p.neighbourhoodMargin = margin;
  p.pairDistance = pairDistance;
  return p;
}
