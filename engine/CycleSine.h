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
// c 0, 1/2 or 1, whose sine is the phase's, negated for c = 1/2; the series up to r^11 is short of the
// sine by less than 6e-8. (A phase of exactly 1/2 gives -0.)
inline ml::simd::F4 sineOfCycles4(ml::simd::F4 phase) {
  using namespace ml::simd;
  using namespace cycle_sine;
  const I4 pastQuarter = greaterThan(phase, splat(0.25f));
  const I4 pastThreeQuarters = greaterEqual(phase, splat(0.75f));
  const I4 half = bitsOf(splat(0.5f));
  const F4 centre = add(fromBits(andMask(pastQuarter, half)), fromBits(andMask(pastThreeQuarters, half)));
  const F4 r = sub(phase, centre);
  const F4 r2 = mul(r, r);
  F4 poly = add(splat(kC9), mul(r2, splat(kC11)));
  poly = add(splat(kC7), mul(r2, poly));
  poly = add(splat(kC5), mul(r2, poly));
  poly = add(splat(kC3), mul(r2, poly));
  poly = add(splat(kC1), mul(r2, poly));
  // The middle half of the cycle: past a quarter, not past three.
  const I4 negate = andMask(xorI(pastQuarter, pastThreeQuarters), bitsOf(splat(-0.0f)));
  return fromBits(xorI(bitsOf(mul(r, poly)), negate));
}
