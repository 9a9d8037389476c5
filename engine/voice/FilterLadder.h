// Saturating 4-pole ladder that fades in as a self-oscillation layer above resonance 0.7.
#pragma once

#include <type_traits>

#include "engine/voice/FilterSaturation.h"
#include "foundation/MLSafeValue.h"

// Ladder state: four one-pole integrator states, the last solution of the feedback loop (the Newton
// start point) and its tanh, and the 0..1 fade of the layer. Plain data; copies with the voice.
struct LadderSelfOsc {
  float stage[4]{};
  float y{0.f};
  float ty{0.f};
  float fade{0.f};

  void clear() { *this = LadderSelfOsc{}; }
};

static_assert(std::is_trivially_copyable_v<LadderSelfOsc>);

// Resonance where the ladder layer starts, and the layer amount 0..1 above it.
inline constexpr float kLadderResonanceStart = 0.7f;

inline float selfOscAmt(float resonance) {
  return (resonance > kLadderResonanceStart) ? (resonance - kLadderResonanceStart) / 0.3f : 0.f;
}

// Feedback of the ladder: tanh(u) - 0.05 tanh^2(u), a tanh with a little even order that is 0 at rest.
template <typename T>
inline T ladderFeedback(T t) {
  return t - 0.05f * t * t;
}
// Its derivative from t = tanh(u): (1 - t^2)(1 - 0.1 t).
template <typename T>
inline T ladderFeedbackSlope(T t) {
  return (1.f - t * t) * (1.f - 0.1f * t);
}

// The ladder's coefficients for g = tan(pi fc / sr) and feedback k (4 is the edge of self-oscillation).
template <typename T>
struct LadderCoeffsOf {
  T b, G, G4, k;
  T G4k;  // G4 k, the loop gain of the Newton step's slope

  LadderCoeffsOf(T g, T feedback)
      : b(1.f / (1.f + g)), G(g * b), G4(G * G * (G * G)), k(feedback), G4k(G4 * k) {}
};

// One sample of the zero-delay-feedback ladder on the four stage states. The nonlinear loop is solved
// by one Newton step from the last step's solution y (with ty = tanh(y), kept so that a step takes one
// tanh); the stage states are clamped to -6..6 (NaN to -6) so the loop stays bounded. T is float or
// ml::simd::Lanes.
template <typename T>
inline T ladderStep(T x, const LadderCoeffsOf<T>& c, T (&stage)[4], T& y, T& ty) {
  const T b = c.b, G = c.G, G4 = c.G4, k = c.k;
  const T S = ((stage[0] * b * G + stage[1] * b) * G + stage[2] * b) * G + stage[3] * b;
  y = y - (y - G4 * (x - k * ladderFeedback(ty)) - S) / (1.f + c.G4k * ladderFeedbackSlope(ty));
  ty = tanhApproxOf(y);
  T in = x - k * ladderFeedback(ty);
  for (int i = 0; i < 4; ++i) {
    const T v = (in - stage[i]) * G;
    const T out = v + stage[i];
    stage[i] = out + v;
    in = out;
  }
  for (T& st : stage) st = ml::simd::min(ml::simd::max(st, T(-6.f)), T(6.f));
  return in;
}

// The ladder runs at four times the rate, beside the core's output at that rate (inside the nonlinear
// core's steps, or in the clean core's layer stage), so that the harmonics its feedback curve gives a
// self-oscillation near the top of the band meet the half-bands before the base rate. g is
// tan(pi fc / (kLadderOversampling x sr)).
inline constexpr int kLadderOversampling = 4;

// One step of the ladder on its own state (where g is for the rate it runs at).
inline float ladderSample(float x, float g, float k, LadderSelfOsc& s) {
  return ladderStep(x, LadderCoeffsOf<float>(g, k), s.stage, s.y, s.ty);
}

// Starts the Newton iteration at v (where the layer fades in).
inline void seedLadder(LadderSelfOsc& s, float v) {
  s.y = v;
  s.ty = tanhApprox(v);
}
