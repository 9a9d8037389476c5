// Small signal generators on 64-sample vectors: phase ramp, polynomial sine, white noise, one-pole low-pass,
// and the equal-tempered note-to-frequency conversion.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "foundation/MLDSPVector.h"

namespace ml {

// A 32-bit phase accumulator: the phase is a fraction of a cycle in units of 2^-32, so it wraps exactly.
// Frequencies are in cycles per sample and must lie in [-0.5, 0.5); at 0.5 or above the rounding
// overflows to 0x80000000, a half-cycle jump.
struct PhasorGen {
  uint32_t phase{0};

  void clear(uint32_t p = 0) { phase = p; }

  // Rising ramp in 0..1; the first sample is already one step past the phase held before the call.
  DSPVector operator()(const DSPVector& freq) {
    const DSPVectorArrayInt<1> inc = roundFloatToInt(freq * DSPVector(4294967296.0f));
    DSPVectorArrayInt<1> out;
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
      phase += static_cast<uint32_t>(inc[i]);
      out[i] = static_cast<int32_t>(phase);
    }
    return unsignedIntToFloat(out) * DSPVector(std::bit_cast<float>(0x2F800000u));  // 2^-32
  }
};

// Polynomial sine of a phase in 0..1, about -cos(2 pi phase): -1 at 0, +1 at 0.5.
inline DSPVector phasorToSine(const DSPVector& phase) {
  constexpr float s = std::bit_cast<float>(0x3FB50505u);         // 1.4142157, a little above sqrt 2
  constexpr float fourS = std::bit_cast<float>(0x40B50505u);     // 5.6568627
  constexpr float twoS = std::bit_cast<float>(0x40350505u);      // 2.8284314
  constexpr float c = std::bit_cast<float>(0x3F87C3B6u);         // 1.0606601
  constexpr float oneSixth = std::bit_cast<float>(0x3E2AAAABu);  // 0.16666667
  const DSPVector x = phase * fourS + DSPVector(-s);
  const DSPVector t = select(twoS - x, x, greaterThan(x, DSPVector(s)));  // folded into -s..s
  return (c * t) * (1.0f - (t * t) * oneSixth);
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
  uint32_t seed{0};

  void reset() { seed = 0; }
  void step() { seed = seed * 1664525u + 1013904223u; }
  DSPVector operator()() {
    DSPVector out;
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
      step();
      const float b = std::bit_cast<float>(0x3F800000u | (seed >> 9));  // in [1, 2)
      out[i] = b + b - 3.0f;
    }
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
    DSPVector out;
    for (size_t i = 0; i < kFloatsPerDSPVector; ++i) {
      y = a0 * in[i] + b1 * y;
      out[i] = y;
    }
    return out;
  }
};

// Frequency in Hz of a (fractional) MIDI note number, twelve-tone equal temperament at A4 = 440 Hz.
inline float pitchToFrequency(float p) { return 440.0f * std::pow(2.0f, (p - 69.0f) / 12.0f); }

}  // namespace ml
