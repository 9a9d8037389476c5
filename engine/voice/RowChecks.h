// Whole-row checks of one block's row, four samples a compare.
#pragma once

#include <cstddef>

#include "foundation/MLDSPVector.h"
#include "foundation/MLSIMD.h"

// True when every value of the row equals its first (a NaN never does).
inline bool rowConstant(const float* row) {
  using namespace ml::simd;
  const F4 first = splat(row[0]);
  I4 same = equal(first, first);
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; i += 4) same = andMask(same, equal(loadU(row + i), first));
  return allSet(same);
}
