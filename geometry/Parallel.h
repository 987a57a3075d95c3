// Work shared among threads. Every index is handled exactly once and writes
// only to what that index owns, so results never depend on the thread count.
#pragma once

#include <functional>

namespace geometry {

// The number of threads a run uses: `requested` when it is positive, else every
// core the machine reports (at least 1).
int ResolveThreadCount(int requested);

// Calls work(i) for every i in [0, count) on up to `threads` threads, the
// calling thread included, and returns when all calls have finished. An
// exception thrown by a call is rethrown here (the first one; the remaining
// indices are then skipped).
void ParallelFor(int threads, int count, const std::function<void(int)>& work);

}  // namespace geometry
