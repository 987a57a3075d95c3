// The semi-automatic correction run, stage after stage.
#include "tests/oracle/Oracle.h"
#include "tests/oracle/OracleTimer.h"

namespace oracle {

namespace {

bool HasForeground(const CVoxel& label) {
  for (std::size_t i = 0; i < label.VoxelCount(); ++i) {
    if (label[i] > 0) return true;
  }
  return false;
}

}  // namespace

bool SemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                             const std::vector<std::string>& referencePaths, const ReferenceLoader& loader,
                             const fusion::CorrectionParameters& parameters, volume::LogSink& log,
                             volume::MessageSink& messages, StageTimes* times) {
  if (!segmentation.HasData() || !accumulatedMap.HasData()) {
    messages.ShowMessage("The segmentation or the scribble map holds no data.");
    return false;
  }
  if (!segmentation.SameSize(accumulatedMap)) {
    messages.ShowMessage("The scribble map and the segmentation differ in size.");
    return false;
  }
  if (!HasForeground(segmentation)) {
    messages.ShowMessage("The segmentation is empty: there is nothing to correct.");
    return false;
  }
  const int foregroundValue = 2;
  const int backgroundValue = 3;

  // 1-2. Reference box and centre.
  C3DPoint boxMinimum, boxMaximum;
  oracle::EnlargedBoundingBox(segmentation, C3DPoint(20, 20, 20), boxMinimum, boxMaximum);
  const C3DPoint boxSize = boxMaximum - boxMinimum + 1;
  C3DPoint centre(0, 0, 0);
  oracle::Centroid(segmentation, centre);
  log.AppendLine("Center position is detected...");

  // 3. References.
  CVoxelList references;
  oracle::RegisterReferenceLabels(segmentation, referencePaths, loader, boxMinimum, boxSize, references,
                                  messages, times);
  log.AppendLine("All reference labels are registered...");

  // 4. Scribble regions.
  Timer timer;
  CVoxelList regions;
  int foregroundCount = 0;
  int backgroundCount = 0;
  oracle::ExtractScribbleRegions(accumulatedMap, segmentation, foregroundValue, backgroundValue,
                                 parameters.pairDistance, parameters.neighbourhoodMargin, regions,
                                 foregroundCount, backgroundCount);
  timer.AddTo(times ? &times->regions : nullptr);

  // 5. Distance maps.
  CFVoxelList distanceMaps;
  CPointArray windowOrigins;
  CPointArray windowEnds;
  oracle::ComputeDistanceMaps(regions, parameters.neighbourhoodMargin, distanceMaps, windowOrigins,
                              windowEnds);
  timer.AddTo(times ? &times->distanceMaps : nullptr);
  log.AppendLine("Distance maps are computed...");

  // 6. Probability maps; the references are not needed afterwards.
  CFVoxelList probabilityMaps;
  oracle::ComputeProbabilityMaps(
      regions, segmentation, accumulatedMap, parameters.votingReferences, foregroundValue, backgroundValue,
      parameters.segmentationWeight, parameters.otherScribbleWeight, parameters.translationRange,
      parameters.translationStep, windowOrigins, windowEnds, references, boxMinimum, probabilityMaps);
  references.clear();
  timer.AddTo(times ? &times->probabilityMaps : nullptr);
  log.AppendLine("Probability maps are computed...");

  // 7-8. Fusion.
  std::unique_ptr<CFVoxel> fused =
      oracle::Fuse(accumulatedMap, segmentation, distanceMaps, probabilityMaps, windowOrigins, windowEnds,
                   foregroundCount, backgroundCount, parameters.priorDistance, parameters.distanceScale);
  distanceMaps.clear();
  probabilityMaps.clear();
  regions.clear();
  if (!fused) return false;  // not reached: the sizes were checked above
  timer.AddTo(times ? &times->fusion : nullptr);
  log.AppendLine("Final result is computed...");

  // 9-12. Threshold, seed, component, paste back.
  std::unique_ptr<CVoxel> thresholded = oracle::Threshold(*fused, 0.5);
  oracle::Centroid(*thresholded, centre);
  std::unique_ptr<CVoxel> kept = oracle::KeepSeedComponent(*thresholded, centre);
  oracle::CopyBox(segmentation, C3DPoint(0, 0, 0),
                  C3DPoint(segmentation.X - 1, segmentation.Y - 1, segmentation.Z - 1), *kept);
  timer.AddTo(times ? &times->postProcessing : nullptr);
  return true;
}

}  // namespace oracle
