// Seconds spent in the stages of one semi-automatic correction run.
#pragma once

#include <chrono>

namespace correction {

struct CorrectionTimes {
  // The work on each reference, summed over the references. References are
  // registered on several threads at once, so these sums can exceed the wall
  // time of the reference stage.
  double referenceLoading = 0.0;
  double boundaryLists = 0.0;  // the segmentation's list included
  double registration = 0.0;
  double resamplingAndCropping = 0.0;
  // Wall-clock time of each stage.
  double references = 0.0;
  double regions = 0.0;
  double distanceMaps = 0.0;
  double probabilityMaps = 0.0;
  double fusion = 0.0;
  double postProcessing = 0.0;

  void AddReferenceWork(const CorrectionTimes& o) {
    referenceLoading += o.referenceLoading;
    boundaryLists += o.boundaryLists;
    registration += o.registration;
    resamplingAndCropping += o.resamplingAndCropping;
  }
};

// Adds the time since the last lap to a slot of the times, when there are times.
class StageClock {
 public:
  explicit StageClock(CorrectionTimes* times) : m_times(times) {}
  void Lap(double CorrectionTimes::*slot) {
    const auto now = std::chrono::steady_clock::now();
    if (m_times) m_times->*slot += std::chrono::duration<double>(now - m_start).count();
    m_start = now;
  }

 private:
  CorrectionTimes* m_times;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace correction
