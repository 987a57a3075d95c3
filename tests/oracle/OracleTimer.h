// Lap timer for the stage times of an oracle run.
#pragma once

#include <chrono>

namespace oracle {

class Timer {
 public:
  // Adds the time since the last lap (or construction) to *slot, when given,
  // and starts the next lap.
  void AddTo(double* slot) {
    const auto now = std::chrono::steady_clock::now();
    if (slot != nullptr) *slot += std::chrono::duration<double>(now - m_start).count();
    m_start = now;
  }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace oracle
