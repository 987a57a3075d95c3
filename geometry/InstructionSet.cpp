#include "geometry/InstructionSet.h"

#include <cstdlib>
#include <cstring>

namespace geometry {

namespace {

InstructionSet Detected() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return InstructionSet::Avx512;
  if (__builtin_cpu_supports("avx2")) return InstructionSet::Avx2;
#endif
  return InstructionSet::Baseline;
}

}  // namespace

InstructionSet BestInstructionSet() {
  static const InstructionSet best = [] {
    InstructionSet set = Detected();
    // CORVANE_INSTRUCTION_SET=baseline or avx2 caps the choice, so that the
    // tests can run every version on one machine.
    if (const char* cap = std::getenv("CORVANE_INSTRUCTION_SET")) {
      if (std::strcmp(cap, "baseline") == 0) set = InstructionSet::Baseline;
      if (std::strcmp(cap, "avx2") == 0 && set == InstructionSet::Avx512) set = InstructionSet::Avx2;
    }
    return set;
  }();
  return best;
}

}  // namespace geometry
