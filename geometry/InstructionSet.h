// The widest vector instructions this processor offers. Hot loops are compiled
// once per set and the widest one the processor runs is picked at run time;
// every version performs the same operations in the same order, so results
// never depend on the choice.
#pragma once

namespace geometry {

enum class InstructionSet { Baseline, Avx2, Avx512 };

InstructionSet BestInstructionSet();

// Picks among three compilations of one function.
template <typename F>
F ForInstructionSet(F baseline, F avx2, F avx512) {
  switch (BestInstructionSet()) {
    case InstructionSet::Avx512:
      return avx512;
    case InstructionSet::Avx2:
      return avx2;
    case InstructionSet::Baseline:
      break;
  }
  return baseline;
}

}  // namespace geometry
