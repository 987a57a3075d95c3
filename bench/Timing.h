// Timing helper of the benchmarks: run a body several times and keep every time.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace bench {

// The times of `runs` calls of `body`, in milliseconds, sorted (best first).
inline std::vector<double> SortedMilliseconds(int runs, const std::function<void()>& body) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times;
}

}  // namespace bench
