#include "correction/CorrectionDriver.h"

#include <new>

#include "correction/MillimetreScale.h"
#include "correction/ReferenceSet.h"
#include "fusion/Fusion.h"
#include "geometry/BoundaryPoints.h"
#include "geometry/LabelGeometry.h"
#include "geometry/Parallel.h"
#include "volume/ScribbleValues.h"

namespace {

constexpr int kForegroundScribble = scribble::kForeground;
constexpr int kBackgroundScribble = scribble::kBackground;
constexpr double kProbabilityThreshold = 0.5;

// The stages in their fixed order; the segmentation is written only at the end.
bool RunStages(CVoxel& segmentation, const CVoxel& accumulatedMap,
               const std::vector<std::string>& referencePaths, const CorrectionParameters& p,
               const VolumeLoader& load, LogSink& log, MessageSink& messages, CorrectionTimes* times,
               CReferenceCache* keptReferences) {
  const int threads = fusion::ResolveThreadCount(p.threads);
  StageClock clock(times);
  C3DPoint boxMinimum, boxMaximum;
  EnlargedBoundingBox(segmentation, p.referenceBoxMargin, boxMinimum, boxMaximum);
  const C3DPoint boxSize = boxMaximum - boxMinimum + 1;

  C3DPoint centre;
  Centroid(segmentation, centre);
  log.AppendLine("Center position is detected...");

  // The registered references as runs of their voxels > 0: all the votes read.
  std::vector<CLabelRuns> references;
  clock.Lap(&CorrectionTimes::references);
  // A reference on another grid is brought onto the segmentation's by its geometry first.
  RegisterReferenceLabels(segmentation, referencePaths, boxMinimum, boxSize,
                          p.placeReferencesByGeometry ? PlacingLoader(load, segmentation) : load, references,
                          messages, threads, times, keptReferences);
  clock.Lap(&CorrectionTimes::references);
  log.AppendLine("All reference labels are registered...");

  // Regions are kept over their bounding boxes: many regions fit in memory.
  ScribbleRegionList regions;
  int foregroundCount = 0;
  int backgroundCount = 0;
  ExtractScribbleRegions(accumulatedMap, segmentation, kForegroundScribble, kBackgroundScribble,
                         p.pairDistance, p.neighbourhoodMargin, regions, foregroundCount, backgroundCount,
                         p.voxelLengths);
  clock.Lap(&CorrectionTimes::regions);

  CFVoxelList distanceMaps;
  CPointArray windowOrigins;
  CPointArray windowEnds;
  ComputeDistanceMaps(regions, p.neighbourhoodMargin, distanceMaps, windowOrigins, windowEnds,
                      p.voxelLengths);
  clock.Lap(&CorrectionTimes::distanceMaps);
  log.AppendLine("Distance maps are computed...");

  CFVoxelList probabilityMaps;
  ComputeProbabilityMaps(regions, segmentation, accumulatedMap, p.votingReferences, kForegroundScribble,
                         kBackgroundScribble, p.segmentationWeight, p.otherScribbleWeight, p.translationRange,
                         p.translationStep, windowOrigins, windowEnds, references, boxMinimum,
                         probabilityMaps, threads);
  references.clear();
  clock.Lap(&CorrectionTimes::probabilityMaps);
  log.AppendLine("Probability maps are computed...");

  std::unique_ptr<CFVoxel> probabilities =
      Fuse(accumulatedMap, segmentation, distanceMaps, probabilityMaps, windowOrigins, windowEnds,
           foregroundCount, backgroundCount, p.priorDistance, p.distanceScale, threads);
  log.AppendLine("Final result is computed...");
  distanceMaps.clear();
  probabilityMaps.clear();
  regions.clear();
  clock.Lap(&CorrectionTimes::fusion);

  if (!probabilities || !probabilities->HasData() || probabilities->Size() != segmentation.Size()) {
    messages.ShowMessage("The correction could not compute its result; the segmentation is unchanged.");
    return false;
  }
  const std::unique_ptr<CVoxel> thresholded = Threshold(*probabilities, kProbabilityThreshold);
  probabilities.reset();
  // The seed is the centre of the new label, or the old centre when it is empty.
  Centroid(*thresholded, centre);
  const std::unique_ptr<CVoxel> kept = KeepSeedComponent(*thresholded, centre);
  if (!thresholded->HasData() || !kept->HasData()) {
    messages.ShowMessage("Not enough memory for the correction; the segmentation is unchanged.");
    return false;
  }
  CopyBox(segmentation, {0, 0, 0}, segmentation.Size() + (-1), *kept);
  clock.Lap(&CorrectionTimes::postProcessing);
  return true;
}

}  // namespace

bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const CorrectionParameters& parameters, LogSink& log, MessageSink& messages,
                                CorrectionTimes* times, CReferenceCache* keptReferences) {
  const VolumeLoader load = [](const std::string& path) { return std::make_unique<CVoxel>(path, nullptr); };
  return RunSemiAutomaticCorrection(segmentation, accumulatedMap, referencePaths, parameters, load, log,
                                    messages, times, keptReferences);
}

bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const CorrectionParameters& parameters, const VolumeLoader& load,
                                LogSink& log, MessageSink& messages, CorrectionTimes* times,
                                CReferenceCache* keptReferences) {
  if (!segmentation.HasData() || segmentation.VoxelCount() == 0) {
    messages.ShowMessage("Please load a segmentation first");
    return false;
  }
  if (!accumulatedMap.HasData() || !accumulatedMap.SameSize(segmentation)) {
    messages.ShowMessage("The user interaction map does not have the dimensions of the segmentation.");
    return false;
  }
  // An empty label has no box, no centre and nothing the references can be registered onto.
  if (!HasForeground(segmentation)) {
    messages.ShowMessage("The segmentation is empty: there is nothing to correct.");
    return false;
  }
  try {
    return RunStages(segmentation, accumulatedMap, referencePaths, parameters, load, log, messages, times,
                     keptReferences);
  } catch (const std::bad_alloc&) {
    messages.ShowMessage("Not enough memory for the correction; the segmentation is unchanged.");
    return false;
  }
}
