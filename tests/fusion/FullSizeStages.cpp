#include "FullSizeStages.h"

#include "fusion/FusionSteps.h"

fusion::RegionCounts ExtractScribbleRegions(const CVoxel& interactionMap, const CVoxel& segmentation,
                                            const fusion::CorrectionParameters& parameters,
                                            CVoxelList& regions) {
  fusion::ScribbleRegionList compact;
  const fusion::RegionCounts counts =
      ExtractScribbleRegions(interactionMap, segmentation, parameters, compact);
  for (const fusion::ScribbleRegion& region : compact) regions.push_back(fusion::ExpandRegion(region));
  return counts;
}

void ComputeDistanceMaps(const CVoxelList& regions, const fusion::CorrectionParameters& parameters,
                         CFVoxelList& distanceMaps, fusion::RegionWindowList& windows) {
  fusion::ScribbleRegionList compact;
  for (const auto& region : regions)
    compact.push_back(region ? fusion::CompactRegion(*region) : fusion::ScribbleRegion{});
  ComputeDistanceMaps(compact, parameters, distanceMaps, windows);
}

CFVoxelList ComputeProbabilityMaps(CVoxelList& regions, const fusion::RegionWindowList& windows,
                                   const CVoxel& segmentation, const CVoxel& interactionMap,
                                   const fusion::BoxedReferences& references,
                                   const fusion::CorrectionParameters& parameters) {
  fusion::MarkOtherScribbles(regions, interactionMap, windows);
  CFVoxelList maps;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const CVoxel* region = regions[i].get();
    fusion::ScribbleRegionList one;
    if (region && region->HasData() && region->SameSize(segmentation)) {
      one.push_back(fusion::CompactRegion(*region));
    } else {
      one.push_back(fusion::ScribbleRegion{});
      one.back().volumeSize = {-1, -1, -1};
    }
    const fusion::RegionWindowList window{i < windows.size() ? windows[i] : fusion::RegionWindow{}};
    // The markers are already in the region.
    CFVoxelList map = ComputeProbabilityMaps(one, window, segmentation, CVoxel(), references, parameters);
    maps.push_back(std::move(map.front()));
  }
  return maps;
}

fusion::BoxedReferences Boxed(const CVoxelList& references, const C3DPoint& boxMinimum) {
  fusion::BoxedReferences boxed;
  boxed.boxMinimum = boxMinimum;
  for (const auto& reference : references)
    if (reference && reference->HasData()) boxed.labels.emplace_back(*reference);
  return boxed;
}

fusion::RegionWindowList WindowsOf(const CPointArray& origins, const CPointArray& ends, int foregroundCount) {
  fusion::RegionWindowList windows;
  for (std::size_t i = 0; i < origins.size() && i < ends.size(); ++i)
    windows.push_back({origins[i], ends[i],
                       static_cast<int>(i) < foregroundCount ? fusion::ScribbleKind::Foreground
                                                             : fusion::ScribbleKind::Background});
  return windows;
}

CPointArray Origins(const fusion::RegionWindowList& windows) {
  CPointArray points;
  for (const fusion::RegionWindow& w : windows) points.push_back(w.origin);
  return points;
}

CPointArray Ends(const fusion::RegionWindowList& windows) {
  CPointArray points;
  for (const fusion::RegionWindow& w : windows) points.push_back(w.end);
  return points;
}

fusion::CorrectionParameters VoteParameters(int votingReferences, double segmentationWeight,
                                            double otherScribbleWeight, const C3DPoint& translationRange,
                                            const C3DPoint& translationStep, int threads) {
  fusion::CorrectionParameters p;
  p.votingReferences = votingReferences;
  p.segmentationWeight = segmentationWeight;
  p.otherScribbleWeight = otherScribbleWeight;
  p.translationRange = translationRange;
  p.translationStep = translationStep;
  p.threads = threads;
  return p;
}

fusion::CorrectionParameters RegionParameters(const C3DPoint& margin, double pairDistance) {
  fusion::CorrectionParameters p;
  p.neighbourhoodMargin = margin;
  p.pairDistance = pairDistance;
  return p;
}
