// The semi-automatic correction run and the reference discovery it relies on.
#pragma once

#include <string>
#include <vector>

#include "correction/CorrectionTimes.h"
#include "correction/ReferenceSet.h"
#include "fusion/Fusion.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

// The translation search follows from the neighbourhood margin: a range of 8
// voxels on every axis for a margin wider than 10 voxels in x (else 4), searched
// in steps of a quarter of the range (rounded down).
constexpr C3DPoint TranslationRangeFor(const C3DPoint& margin) {
  const int range = margin.x > 10 ? 8 : 4;
  return {range, range, range};
}
constexpr C3DPoint TranslationStepFor(const C3DPoint& range) {
  return {range.x / 4, range.y / 4, range.z / 4};
}

// The defaults are the parameter set of every semi-automatic run (the window's
// and corvane-correct's, through SemiAutomaticParameters()).
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

// Appends the paths of every file below `directory` whose name contains both
// filters, files of a folder before its sub-folders, entries sorted by name.
// Returns false when the directory cannot be read.
bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA = "mhd", const std::string& filterB = "label");

// Rewrites `segmentation` in place with the corrected label (values 0 and 1).
// Progress lines go to `log`, user messages to `messages`. Returns false, with
// a message and the segmentation untouched, when the run is refused (empty
// segmentation, maps of another size). Stage times go to `times` when given.
// With `keptReferences`, the reference labels it holds for unchanged files are
// used instead of reading them again, and what this run reads is kept there
// for the next one (see CReferenceCache); the result is the same.
bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const CorrectionParameters& parameters, LogSink& log, MessageSink& messages,
                                CorrectionTimes* times = nullptr, CReferenceCache* keptReferences = nullptr);
// The same run with the reference volumes read through `load` (called from
// several threads at once).
bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const CorrectionParameters& parameters, const VolumeLoader& load,
                                LogSink& log, MessageSink& messages, CorrectionTimes* times = nullptr,
                                CReferenceCache* keptReferences = nullptr);
