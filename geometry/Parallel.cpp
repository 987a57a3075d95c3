#include "geometry/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace geometry {

int ResolveThreadCount(int requested) {
  if (requested > 0) return requested;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void ParallelFor(int threads, int count, const std::function<void(int)>& work) {
  if (count <= 0) return;
  const int helpers = std::min(std::max(threads, 1), count) - 1;
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorMutex;
  // Indices are taken one at a time so uneven items still balance.
  const auto drain = [&] {
    for (int i = next.fetch_add(1); i < count && !failed.load(); i = next.fetch_add(1)) {
      try {
        work(i);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(errorMutex);
        if (!error) error = std::current_exception();
        failed.store(true);
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(helpers));
  try {
    for (int t = 0; t < helpers; ++t) pool.emplace_back(drain);
  } catch (...) {
    // Could not start another thread: the ones running (and this one) do the work.
  }
  drain();
  for (std::thread& thread : pool) thread.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace geometry
