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
inline float ladderFeedback(float t) {
  return t - 0.05f * t * t;
}
// Its derivative from t = tanh(u): (1 - t^2)(1 - 0.1 t).
inline float ladderFeedbackSlope(float t) {
  return (1.f - t * t) * (1.f - 0.1f * t);
}

// One sample of the zero-delay-feedback ladder with g = tan(pi fc / sr) and feedback k (4 is the edge
// of self-oscillation). The nonlinear loop is solved by one Newton step from the last output; the
// stage states are clamped to -6..6 so the loop stays bounded.
inline float ladderSample(float x, float g, float k, LadderSelfOsc& s) {
  const float b = 1.f / (1.f + g);
  const float G = g * b;
  const float G2 = G * G;
  const float G4 = G2 * G2;
  const float S = ((s.stage[0] * b * G + s.stage[1] * b) * G + s.stage[2] * b) * G + s.stage[3] * b;
  const float ty = tanhApprox(s.y);
  const float u =
      s.y - (s.y - G4 * (x - k * ladderFeedback(ty)) - S) / (1.f + G4 * k * ladderFeedbackSlope(ty));
  float in = x - k * ladderFeedback(tanhApprox(u));
  for (int i = 0; i < 4; ++i) {
    const float v = (in - s.stage[i]) * G;
    const float out = v + s.stage[i];
    s.stage[i] = out + v;
    in = out;
  }
  s.y = in;
  for (float& st : s.stage) st = ml::safeClamp(st, -6.f, 6.f);
  return in;
}
