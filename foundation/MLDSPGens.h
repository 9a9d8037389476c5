// Small signal generators on 64-sample vectors: phase ramp, polynomial sine, white noise, one-pole low-pass,
// and the equal-tempered note-to-frequency conversion.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "foundation/MLDSPVector.h"
#include "foundation/MLSIMD.h"

namespace ml {

// A 32-bit phase accumulator: the phase is a fraction of a cycle in units of 2^-32, so it wraps exactly.
// Frequencies are in cycles per sample and must lie in [-0.5, 0.5); at 0.5 or above the rounding
// overflows to 0x80000000, a half-cycle jump.
struct PhasorGen {
  uint32_t phase{0};

  void clear(uint32_t p = 0) { phase = p; }

  // Rising ramp in 0..1; the first sample is already one step past the phase held before the call.
  DSPVector operator()(const DSPVector& freq) {
    using namespace simd;
    alignas(16) int32_t steps[kFloatsPerDSPVector];
    for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
      storeI(steps + i, roundToInt(mul(loadF(freq.getConstBuffer() + i), splat(4294967296.0f))));
    }
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
      phase += static_cast<uint32_t>(steps[i]);
      steps[i] = static_cast<int32_t>(phase);
    }
    DSPVector out;
    for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
      storeF(out.getBuffer() + i, mul(unsignedToFloat(loadI(steps + i)), splat(0x1p-32f)));  // 2^-32
    }
    return out;
  }
};

// Polynomial sine of a phase in 0..1, about -cos(2 pi phase): -1 at 0, +1 at 0.5. One pass over the
// vector, four lanes at a time, in the same operation order as the element-wise form:
//   x = phase x 4s + (-s);  t = x > s ? 2s - x : x;  y = (c x t) x (1 - (t x t) x (1/6)).
inline DSPVector phasorToSine(const DSPVector& phase) {
  using namespace simd;
  const F4 s = splat(std::bit_cast<float>(0x3FB50505u));  // 1.4142157, a little above sqrt 2
  const F4 negS = splat(-std::bit_cast<float>(0x3FB50505u));
  const F4 fourS = splat(std::bit_cast<float>(0x40B50505u));     // 5.6568627
  const F4 twoS = splat(std::bit_cast<float>(0x40350505u));      // 2.8284314
  const F4 c = splat(std::bit_cast<float>(0x3F87C3B6u));         // 1.0606601
  const F4 oneSixth = splat(std::bit_cast<float>(0x3E2AAAABu));  // 0.16666667
  const F4 one = splat(1.0f);
  DSPVector out;
  for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
    const F4 x = add(mul(loadF(phase.getConstBuffer() + i), fourS), negS);
    const F4 t = select(sub(twoS, x), x, greaterThan(x, s));  // folded into -s..s
    storeF(out.getBuffer() + i, mul(mul(c, t), sub(one, mul(mul(t, t), oneSixth))));
  }
  return out;
}

// Sine oscillator. After clear() the phase sits at three quarters of a cycle, where the polynomial is 0,
// so the output starts at 0 and first falls.
struct SineGen {
  PhasorGen phasor;

  void clear() { phasor.clear(0xC0000000u); }
  DSPVector operator()(const DSPVector& freq) { return phasorToSine(phasor(freq)); }
};

// White noise in [-1, 1) from a 32-bit linear congruential generator; every instance starts at seed 0.
struct NoiseGen {
  static constexpr uint32_t kMul = 1664525u, kAdd = 1013904223u;
  // Four steps at once: seed * kMul^4 + kAdd * (kMul^3 + kMul^2 + kMul + 1), modulo 2^32 as one step is.
  static constexpr uint32_t kMul4 = kMul * kMul * kMul * kMul;
  static constexpr uint32_t kAdd4 = kAdd * (kMul * kMul * kMul + kMul * kMul + kMul + 1u);

  uint32_t seed{0};

  void reset() { seed = 0; }
  void step() { seed = seed * kMul + kAdd; }
  // The same sequence as stepping once per sample, run as four chains of four-step jumps side by side in
  // the lanes of one vector, one chain for each fourth sample.
  DSPVector operator()() {
    using namespace simd;
    static_assert(kFloatsPerDSPVector % 4 == 0);
    alignas(16) int32_t first[4];
    uint32_t next = seed;
    for (int32_t& lane : first) lane = static_cast<int32_t>(next = next * kMul + kAdd);
    I4 s = loadI(first);
    const I4 mul4 = splatI(static_cast<int32_t>(kMul4));
    const I4 add4 = splatI(static_cast<int32_t>(kAdd4));
    DSPVector out;
    for (size_t i = 0; i < kFloatsPerDSPVector; i += 4) {
      const F4 b = fromBits(orMask(shiftRightI<9>(s), splatI(0x3F800000)));  // in [1, 2)
      storeF(out.getBuffer() + i, sub(add(b, b), splat(3.0f)));
      if (i + 4 < kFloatsPerDSPVector) s = addI(mulI(s, mul4), add4);
    }
    alignas(16) int32_t last[4];
    storeI(last, s);
    seed = static_cast<uint32_t>(last[3]);
    return out;
  }
};

// One-pole low-pass: y = a0 x in + b1 x y. Coefficients for a normalised frequency (cycles per sample)
// come from makeCoeffs; makeCoeffs(0) gives a filter that holds its state.
struct OnePole {
  float y{0.0f};
  float a0{0.0f};
  float b1{0.0f};

  struct Coeffs {
    float a0;
    float b1;
  };

  static Coeffs makeCoeffs(float f) {
    const float x = std::exp(f * -6.2831855f);
    return {1.0f - x, x};
  }
  void setCoeffs(Coeffs k) {
    a0 = k.a0;
    b1 = k.b1;
  }
  DSPVector operator()(const DSPVector& in) {
    // The state and coefficients in locals: in might alias the members, which would keep the recursion
    // going through memory.
    const float a = a0;
    const float b = b1;
    float state = y;
    DSPVector out;
#pragma GCC unroll 8
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
      state = a * in[i] + b * state;
      out[i] = state;
    }
    y = state;
    return out;
  }
};

// Pole of a one-pole DC blocker (y = x - x1 + r y1) with its corner at w radians per second:
// r = 1 - w / sampleRate, held at 0 or above so that no rate makes the recursion unstable.
inline float dcBlockerPole(float w, float sampleRate) {
  return std::max(0.0f, 1.0f - w / sampleRate);
}

// Frequency in Hz of a (fractional) MIDI note number, twelve-tone equal temperament at A4 = 440 Hz.
inline float pitchToFrequency(float p) {
  return 440.0f * std::pow(2.0f, (p - 69.0f) / 12.0f);
}

}  // namespace ml
