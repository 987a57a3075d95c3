// The semi-automatic correction run and the reference discovery it relies on.
#pragma once

#include <string>
#include <vector>

#include "correction/CorrectionTimes.h"
#include "correction/ReferenceSet.h"
#include "fusion/Fusion.h"
#include "volume/Sinks.h"
#include "volume/Voxel.h"

// Appends the paths of every file below `directory` whose name contains both
// filters, files of a folder before its sub-folders, entries sorted by name.
// Returns false when the directory cannot be read.
bool FindReferenceLabels(const std::string& directory, std::vector<std::string>& paths,
                         const std::string& filterA = "mhd", const std::string& filterB = "label");

namespace correction {

// Where a run reports: progress lines, user messages, and the stage times
// when `times` is given.
struct RunReports {
  volume::LogSink& log;
  volume::MessageSink& messages;
  CorrectionTimes* times = nullptr;
};

// How a run reads its reference labels: through `load` (called from several
// threads at once; empty: the files are read with the load dispatcher), and,
// with `kept`, from the labels kept there for unchanged files instead of
// reading them again; what the run reads is kept there for the next one (see
// ReferenceCache). The result is the same either way.
struct ReferenceReading {
  VolumeLoader load;
  ReferenceCache* kept = nullptr;
};

}  // namespace correction

// Rewrites `segmentation` in place with the corrected label (values 0 and 1).
// Returns false, with a message and the segmentation untouched, when the run
// is refused (empty segmentation, maps of another size).
bool RunSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                const std::vector<std::string>& referencePaths,
                                const fusion::CorrectionParameters& parameters,
                                const correction::RunReports& reports,
                                const correction::ReferenceReading& reading = {});
