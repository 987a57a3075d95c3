#include "correction/CorrectionDriver.h"

#include <new>

#include "correction/MillimetreScale.h"
#include "correction/ReferenceSet.h"
#include "fusion/Fusion.h"
#include "geometry/BoundaryPoints.h"
#include "geometry/LabelGeometry.h"
#include "geometry/Parallel.h"

namespace correction {

namespace {

constexpr double kProbabilityThreshold = 0.5;

// The stages in their fixed order; the segmentation is written only at the end.
// `reading.load` is set.
bool RunStages(CVoxel& segmentation, const CVoxel& accumulatedMap,
               const std::vector<std::string>& referencePaths, const fusion::CorrectionParameters& p,
               const RunReports& reports, const ReferenceReading& reading) {
  const VolumeLoader& load = reading.load;
  volume::LogSink& log = reports.log;
  volume::MessageSink& messages = reports.messages;
  const int threads = geometry::ResolveThreadCount(p.threads);
  StageClock clock(reports.times);
  C3DPoint boxMinimum, boxMaximum;
  geometry::EnlargedBoundingBox(segmentation, p.referenceBoxMargin, boxMinimum, boxMaximum);
  const C3DPoint boxSize = boxMaximum - boxMinimum + 1;

  C3DPoint centre;
  geometry::Centroid(segmentation, centre);
  log.AppendLine("Center position is detected...");

  // The registered references as runs of their voxels > 0: all the votes read.
  fusion::BoxedReferences references;
  references.boxMinimum = boxMinimum;
  clock.Lap(&CorrectionTimes::references);
  // A reference on another grid is brought onto the segmentation's by its geometry first.
  RegisterReferenceLabels(segmentation, referencePaths,
                          p.placeReferencesByGeometry ? PlacingLoader(load, segmentation) : load,
                          RegistrationRun{boxMinimum, boxSize, threads, reports.times, reading.kept},
                          references.labels, messages);
  clock.Lap(&CorrectionTimes::references);
  log.AppendLine("All reference labels are registered...");

  // Regions are kept over their bounding boxes: many regions fit in memory.
  fusion::CorrectionParameters resolved = p;
  resolved.threads = threads;
  fusion::ScribbleRegionList regions;
  ExtractScribbleRegions(accumulatedMap, segmentation, resolved, regions);
  clock.Lap(&CorrectionTimes::regions);

  CFVoxelList distanceMaps;
  fusion::RegionWindowList windows;
  ComputeDistanceMaps(regions, resolved, distanceMaps, windows);
  clock.Lap(&CorrectionTimes::distanceMaps);
  log.AppendLine("Distance maps are computed...");

  CFVoxelList probabilityMaps =
      ComputeProbabilityMaps(regions, windows, segmentation, accumulatedMap, references, resolved);
  references.labels.clear();
  clock.Lap(&CorrectionTimes::probabilityMaps);
  log.AppendLine("Probability maps are computed...");

  std::unique_ptr<CFVoxel> probabilities =
      Fuse(accumulatedMap, segmentation, distanceMaps, probabilityMaps, windows, resolved);
  log.AppendLine("Final result is computed...");
  distanceMaps.clear();
  probabilityMaps.clear();
  regions.clear();
  clock.Lap(&CorrectionTimes::fusion);

  if (!probabilities || !probabilities->HasData() || probabilities->Size() != segmentation.Size()) {
    messages.ShowMessage("The correction could not compute its result; the segmentation is unchanged.");
    return false;
  }
  const std::unique_ptr<CVoxel> thresholded = geometry::Threshold(*probabilities, kProbabilityThreshold);
  probabilities.reset();
  // The seed is the centre of the new label, or the old centre when it is empty.
  geometry::Centroid(*thresholded, centre);
  const std::unique_ptr<CVoxel> kept = geometry::KeepSeedComponent(*thresholded, centre);
  if (!thresholded->HasData() || !kept->HasData()) {
    messages.ShowMessage("Not enough memory for the correction; the segmentation is unchanged.");
    return false;
  }
  geometry::CopyBox(segmentation, {0, 0, 0}, segmentation.Size() + (-1), *kept);
  clock.Lap(&CorrectionTimes::postProcessing);
  return true;
}

}  // namespace

}  // namespace correction

bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const fusion::CorrectionParameters& parameters,
                                const correction::RunReports& reports,
                                const correction::ReferenceReading& reading) {
  volume::MessageSink& messages = reports.messages;
  if (!segmentation.HasData() || segmentation.VoxelCount() == 0) {
    messages.ShowMessage("Please load a segmentation first");
    return false;
  }
  if (!accumulatedMap.HasData() || !accumulatedMap.SameSize(segmentation)) {
    messages.ShowMessage("The user interaction map does not have the dimensions of the segmentation.");
    return false;
  }
  // An empty label has no box, no centre and nothing the references can be registered onto.
  if (!geometry::HasForeground(segmentation)) {
    messages.ShowMessage("The segmentation is empty: there is nothing to correct.");
    return false;
  }
  try {
    correction::ReferenceReading resolved = reading;
    if (!resolved.load)
      resolved.load = [](const std::string& path) { return std::make_unique<CVoxel>(path, nullptr); };
    return correction::RunStages(segmentation, accumulatedMap, referencePaths, parameters, reports, resolved);
  } catch (const std::bad_alloc&) {
    messages.ShowMessage("Not enough memory for the correction; the segmentation is unchanged.");
    return false;
  }
}
