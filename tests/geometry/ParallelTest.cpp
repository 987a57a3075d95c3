#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "geometry/Parallel.h"

namespace {

TEST(ParallelFor, EveryIndexRunsExactlyOnceWhateverTheThreadCount) {
  for (const int threads : {1, 2, 3, 8, 64}) {
    for (const int count : {0, 1, 5, 100}) {
      std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
      geometry::ParallelFor(threads, count, [&](int i) { runs[static_cast<std::size_t>(i)].fetch_add(1); });
      for (int i = 0; i < count; ++i)
        EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << threads << " " << i;
    }
  }
}

TEST(ParallelFor, AFailureIsRethrownAfterEveryThreadHasStopped) {
  std::atomic<int> finished{0};
  EXPECT_THROW(geometry::ParallelFor(4, 200,
                                     [&](int i) {
                                       if (i == 17) throw std::runtime_error("index 17");
                                       finished.fetch_add(1);
                                     }),
               std::runtime_error);
  EXPECT_LT(finished.load(), 200);
  // The pool is gone: a second call works as usual.
  std::atomic<int> again{0};
  geometry::ParallelFor(4, 10, [&](int) { again.fetch_add(1); });
  EXPECT_EQ(again.load(), 10);
}

TEST(ResolveThreadCount, ZeroMeansEveryCore) {
  EXPECT_GE(geometry::ResolveThreadCount(0), 1);
  EXPECT_GE(geometry::ResolveThreadCount(-3), 1);
  EXPECT_EQ(geometry::ResolveThreadCount(3), 3);
}

}  // namespace
