// Saturating 4-pole ladder that fades in as a self-oscillation layer above resonance 0.7.
#pragma once

#include <type_traits>

#include "engine/voice/FilterSaturation.h"
#include "foundation/MLSafeValue.h"

// Ladder state: four one-pole integrator states, the last output (the Newton start point) and the
// 0..1 fade of the layer. Plain data; copies with the voice.
struct LadderSelfOsc {
  float stage[4]{};
  float y{0.f};
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

  LadderCoeffsOf(T g, T feedback) : b(1.f / (1.f + g)), G(g * b), G4(G * G * (G * G)), k(feedback) {}
};

// One sample of the zero-delay-feedback ladder on the four stage states and the last output y. The
// nonlinear loop is solved by one Newton step from the last output; the stage states are clamped to
// -6..6 (NaN to -6) so the loop stays bounded. T is float or ml::simd::Lanes.
template <typename T>
inline T ladderStep(T x, const LadderCoeffsOf<T>& c, T (&stage)[4], T& y) {
  const T b = c.b, G = c.G, G4 = c.G4, k = c.k;
  const T S = ((stage[0] * b * G + stage[1] * b) * G + stage[2] * b) * G + stage[3] * b;
  const T ty = tanhApproxOf(y);
  const T u = y - (y - G4 * (x - k * ladderFeedback(ty)) - S) / (1.f + G4 * k * ladderFeedbackSlope(ty));
  T in = x - k * ladderFeedback(tanhApproxOf(u));
  for (int i = 0; i < 4; ++i) {
    const T v = (in - stage[i]) * G;
    const T out = v + stage[i];
    stage[i] = out + v;
    in = out;
  }
  y = in;
  for (T& st : stage) st = ml::simd::min(ml::simd::max(st, T(-6.f)), T(6.f));
  return in;
}

// The ladder runs at kLadderOversampling times the rate: behind the clean core with its input held over
// the steps of a sample and its last step's output taken; inside the nonlinear core's 4x steps on every
// other step's input, its output held over the step after. Its feedback curve makes harmonics of a
// self-oscillation near the top of the band; the faster steps keep them above the base rate's Nyquist, where
// the four poles damp them before the output is sampled. g is tan(pi fc / (steps x sr)).
inline constexpr int kLadderOversampling = 2;

template <int kSteps = kLadderOversampling, typename T>
inline T ladderSteps(T x, const LadderCoeffsOf<T>& c, T (&stage)[4], T& y) {
  T out = ladderStep(x, c, stage, y);
  for (int i = 1; i < kSteps; ++i) out = ladderStep(x, c, stage, y);
  return out;
}

inline float ladderSample(float x, float g, float k, LadderSelfOsc& s) {
  return ladderSteps(x, LadderCoeffsOf<float>(g, k), s.stage, s.y);
}
