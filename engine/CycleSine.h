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
// (exactly) to r in [-1/4, 1/4] with the same sine, where the series up to r^11 is short of the sine by
// less than 6e-8.
inline ml::simd::F4 sineOfCycles4(ml::simd::F4 phase) {
  using namespace ml::simd;
  using namespace cycle_sine;
  F4 r = select(sub(phase, splat(1.0f)), phase, greaterThan(phase, splat(0.5f)));  // [-1/2, 1/2]
  r = select(sub(splat(0.5f), r), r, greaterThan(r, splat(0.25f)));                // sin(pi - x) = sin(x)
  r = select(sub(splat(-0.5f), r), r, greaterThan(splat(-0.25f), r));
  const F4 r2 = mul(r, r);
  F4 poly = add(splat(kC9), mul(r2, splat(kC11)));
  poly = add(splat(kC7), mul(r2, poly));
  poly = add(splat(kC5), mul(r2, poly));
  poly = add(splat(kC3), mul(r2, poly));
  poly = add(splat(kC1), mul(r2, poly));
  return mul(r, poly);
}
