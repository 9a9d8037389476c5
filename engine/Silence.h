// What the master stages count as silence, and the tests they judge a run of samples by.
#pragma once

#include <algorithm>

#include "foundation/MLDSPVector.h"
#include "foundation/MLSIMD.h"

// -140 dBFS: a stage whose input and state stay below it may stop working and zero its state.
inline constexpr float kSilenceLevel = 1e-7f;

// True when each of the count samples is smaller than bound in magnitude. A NaN counts as loud.
inline bool allQuieterThan(const float* x, int count, float bound) {
  using namespace ml::simd;
  I4 quiet = equalI(splatI(0), splatI(0));
  int i = 0;
  for (; i + 4 <= count; i += 4) quiet = andMask(quiet, lessThan(abs(loadUnalignedF(x + i)), splat(bound)));
  bool tailQuiet = true;
  for (; i < count; ++i) tailQuiet = tailQuiet && x[i] < bound && -x[i] < bound;
  return allSet(quiet) && tailQuiet;
}

// True when every sample of one aligned 64-sample row is +0, bit for bit.
inline bool allPositiveZero(const float* row) {
  using namespace ml::simd;
  I4 bits = bitsOf(loadF(row));
  for (size_t i = 4; i < ml::kFloatsPerDSPVector; i += 4) bits = orMask(bits, bitsOf(loadF(row + i)));
  return allSet(equalI(bits, splatI(0)));
}

// The largest magnitude of one aligned 64-sample row; NaNs are passed over.
inline float blockPeak(const float* row) {
  using namespace ml::simd;
  F4 peak = splat(0.0f);
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; i += 4) peak = max(abs(loadF(row + i)), peak);
  alignas(16) float lanes[4];
  storeF(lanes, peak);
  return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
