// The file side of the oracle: references read through the shared loader.
// Kept apart so that in-memory runs do not need the readers.
#include "tests/oracle/Oracle.h"

namespace oracle {

std::unique_ptr<CVoxel> LoadReferenceFile(const std::string& path, volume::MessageSink& messages) {
  return std::make_unique<CVoxel>(path, &messages);
}

}  // namespace oracle

bool OracleSemiAutomaticCorrection(CVoxel& segmentation, const CVoxel& accumulatedMap,
                                   const std::vector<std::string>& referencePaths,
                                   const fusion::CorrectionParameters& parameters, volume::LogSink& log,
                                   volume::MessageSink& messages, oracle::StageTimes* times) {
  const oracle::ReferenceLoader loader = [&messages](const std::string& path) {
    return oracle::LoadReferenceFile(path, messages);
  };
  return oracle::SemiAutomaticCorrection(segmentation, accumulatedMap, referencePaths, loader, parameters,
                                         log, messages, times);
}
