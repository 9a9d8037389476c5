// Phase accumulators and the two cascaded 2:1 decimators of the 4x phase-modulation oscillator.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/voice/Oversampler2x.h"
#include "foundation/MLSIMD.h"

// State of the 4x phase-modulation path of one voice. Phases are unsigned 32-bit fractions of a
// cycle (2^32 = one cycle); increments are per 4x sub-sample. Plain data, copies with the voice.
struct PMOversampler {
  // Modulator start phase: three quarters of a cycle, where the polynomial sine is 0.
  static constexpr uint32_t kModulatorStartPhase = 0xC0000000u;

  uint32_t carrierPhase{0};
  uint32_t modulatorPhase{0};
  HalfbandRing firstStage;
  HalfbandRing secondStage;

  void clear() { *this = PMOversampler{}; }

  void seed(uint32_t carrier, uint32_t modulator) {
    carrierPhase = carrier;
    modulatorPhase = modulator;
  }

  // Advances phase by inc (wrapping) and returns the new phase in 0..1.
  static float phaseStep(uint32_t& phase, uint32_t inc) {
    phase += inc;
    return float(phase) * 2.3283064e-10f;
  }

  // Pushes one 4x sample; flags is the sub-sample index 0..3. The first decimator runs on odd
  // sub-samples, the second on sub-sample 3, which completes one base-rate sample into out.
  bool pushDecimate(float x, int flags, float& out) {
    halfbandPush(firstStage, x);
    if (!(flags & 1)) return false;
    halfbandPush(secondStage, halfbandDot(firstStage));
    if (!(flags & 2)) return false;
    out = halfbandDot(secondStage);
    return true;
  }
};

static_assert(std::is_trivially_copyable_v<PMOversampler>);

// Phase increment per 4x sub-sample for a base-rate increment in cycles per sample, rounded half away
// from zero; negative increments wrap to falling phases. Non-finite or out-of-range input gives 0.
inline uint32_t pmPhaseIncrement(float cyclesPerSample) {
  const double v = double(cyclesPerSample) * 4294967296.0 * 0.25;
  if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
  return uint32_t(int64_t(v + (v >= 0.0 ? 0.5 : -0.5)));
}

// pmPhaseIncrement of four increments. The scaling by 2^30 is exact in float as in double, and the
// rounding half away from zero adds the sign where the truncation left a fraction of at least 0.5.
inline ml::simd::I4 pmPhaseIncrementLanes(ml::simd::F4 cyclesPerSample) {
  using namespace ml::simd;
  const F4 v = mul(cyclesPerSample, splat(1073741824.f));
  const I4 inRange = andMask(greaterThan(v, splat(-2147483648.f)), lessThan(v, splat(2147483648.f)));
  const I4 whole = truncToInt(v);
  const F4 fraction = sub(v, toFloat(whole));
  // Masks are -1 where set: subtracting one steps up, adding one steps down.
  const I4 up = greaterEqual(fraction, splat(0.5f));
  const I4 down = greaterEqual(splat(-0.5f), fraction);
  return andMask(addI(subI(whole, up), down), inRange);
}
