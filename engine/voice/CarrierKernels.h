// Scalar carrier kernels: the polynomial sine of a phase and the phase-distortion ("Warp") carrier.
#pragma once

#include <cmath>
#include <cstdint>

#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

// Fractional part of a phase, p - floor(p), without a library call. Phases of magnitude 2^23 or more
// are whole numbers in float and give 0; a non-finite phase also gives 0.
inline float wrapPhase(float p) {
  if (!(std::fabs(p) < 8388608.f)) return 0.f;
  float whole = float(int32_t(p));
  whole -= (whole > p) ? 1.f : 0.f;
  return p - whole;
}

// Polynomial sine of a phase in 0..1, close to -cos(2 pi p): -1 at 0, 0 at 0.25 and 0.75, 1 at 0.5.
// Only valid for phases 0..1; use phasorToSineWrapped for any other phase.
inline float phasorToSineScalar(float p) {
  float x = p * 5.656854f - 1.4142135f;
  if (x > 1.4142135f) x = 2.828427f - x;
  return 1.0606601f * x * (1.f - x * x * 0.16666667f);
}

// Polynomial sine of any phase: the phase is wrapped to 0..1 first.
inline float phasorToSineWrapped(float p) {
  return phasorToSineScalar(wrapPhase(p));
}

// Four lanes of phasorToSineScalar and phasorToSineWrapped, in the same operation order.
inline ml::simd::F4 phasorToSineLanes(ml::simd::F4 p) {
  using namespace ml::simd;
  const F4 s = splat(1.4142135f);
  const F4 x = sub(mul(p, splat(5.656854f)), s);
  const F4 t = select(sub(splat(2.828427f), x), x, greaterThan(x, s));
  return mul(mul(splat(1.0606601f), t), sub(splat(1.f), mul(mul(t, t), splat(0.16666667f))));
}

inline ml::simd::F4 wrapPhaseLanes(ml::simd::F4 p) {
  using namespace ml::simd;
  const I4 inRange = lessThan(abs(p), splat(8388608.f));
  const F4 truncated = toFloat(truncToInt(p));
  const F4 whole = sub(truncated, select(splat(1.f), splat(0.f), greaterThan(truncated, p)));
  return select(sub(p, whole), splat(0.f), inRange);
}

inline ml::simd::F4 phasorToSineWrappedLanes(ml::simd::F4 p) {
  return phasorToSineLanes(wrapPhaseLanes(p));
}

// Shape Mode values of the carrier.
inline constexpr int kShapeModeSine = 0;
inline constexpr int kShapeModeWarp = 1;
inline constexpr int kShapeModeCarrier = 2;

// Phase-distortion carrier. Mode kShapeModeWarp bends the phase at a knee (0.5 at shape 0, the plain
// sine; 0.06 at shape 1, which squeezes the first half cycle into 6 % of the period); any other mode
// is the plain sine. shape is clamped to 0..1 (NaN gives 0).
inline float shapeCarrier(float phase, float shape, int mode) {
  const float p = wrapPhase(phase);
  if (mode != kShapeModeWarp) return phasorToSineWrapped(p);
  const float knee = 0.5f - 0.44f * ml::safeClamp(shape, 0.f, 1.f);
  const float q = (p < knee) ? 0.5f * p / knee : 0.5f + 0.5f * (p - knee) / (1.f - knee);
  return phasorToSineWrapped(q);
}

// Carrier sample for a shape mode: the Warp carrier in Warp mode, else the plain sine of the phase.
inline float carrierSample(float phase, float shape, int mode) {
  return (mode == kShapeModeWarp) ? shapeCarrier(phase, shape, mode) : phasorToSineWrapped(phase);
}
