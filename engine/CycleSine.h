// sin(2 pi phase) for phases in cycles, four at a time, by polynomial: the reverb's line modulation.
#pragma once

#include "foundation/MLSIMD.h"

namespace cycle_sine {

// Taylor coefficients of sin(2 pi r) in powers of r: (-1)^k (2 pi)^(2k+1) / (2k+1)!.
constexpr float kC1 = 6.28318531f;
constexpr float kC3 = -41.3417022f;
constexpr float kC5 = 81.6052493f;
constexpr float kC7 = -76.7058597f;
constexpr float kC9 = 42.0586939f;
constexpr float kC11 = -15.0946426f;

}  // namespace cycle_sine

// sin(2 pi phase) for each lane's phase in [0, 1), within 2e-7 of the exact value. Each phase is folded
// (exactly: each difference lies within a factor of two of the phase) to r = phase - c in [-1/4, 1/4],
// c = round(2 phase) / 2, whose sine is the phase's, negated for c = 1/2; the series up to r^11 is short of
// the sine by less than 6e-8. The rounding is the default one, to nearest with ties to even, so that a
// quarter folds to itself and three quarters to -1/4. (A phase of exactly 1/2 gives -0.)
inline ml::simd::F4 sineOfCycles4(ml::simd::F4 phase) {
  using namespace ml::simd;
  using namespace cycle_sine;
  const I4 halves = roundToInt(add(phase, phase));
  const F4 r = sub(phase, mul(toFloat(halves), splat(0.5f)));
  const F4 r2 = mul(r, r);
  F4 poly = add(splat(kC9), mul(r2, splat(kC11)));
  poly = add(splat(kC7), mul(r2, poly));
  poly = add(splat(kC5), mul(r2, poly));
  poly = add(splat(kC3), mul(r2, poly));
  poly = add(splat(kC1), mul(r2, poly));
  // An odd count of halves: the middle half of the cycle.
  return fromBits(xorI(bitsOf(mul(r, poly)), shiftLeftI<31>(halves)));
}
