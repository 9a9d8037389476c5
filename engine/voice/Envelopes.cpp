#include "engine/voice/Envelopes.h"

#include <algorithm>
#include <cmath>

#include "foundation/MLSafeValue.h"

namespace {

// Below this the warp is linear.
constexpr float kLinearWarp = 0.0001f;

// The warp's exponent scale for a curve: 6 curve, or 0 on the linear curve.
float warpScale(float curve) {
  const float k = 6.f * curve;
  return std::fabs(k) < kLinearWarp ? 0.f : k;
}

float warpWith(float x, float k, float span) {
  return (expf(k * x) - 1.f) / span;
}

}  // namespace

float syncedStageTime(float time, bool synced, int division, double bpm, float lo, float hi) {
  if (!synced) return time;
  if (time <= 0.f) return 0.f;
  const double b = bpm > 1.0 ? bpm : 120.0;
  const double t = 60.0 / b * kSeqSyncDivBeats[size_t(std::clamp(division, 0, 18))];
  return ml::safeClamp(static_cast<float>(t), lo, hi);
}

float resolveEnvGamma(float curve) {
  // The plain segment is the common case, and exp(0) is exactly 1.
  if (curve == 0.f) return 1.f;
  return expf(2.4f * ml::safeClamp(curve, -1.f, 1.f));
}

float shapeEnvSample(float y, float from, float to, float exponent) {
  const float span = to - from;
  if (exponent == 1.f || !(std::fabs(span) >= 1e-9f)) return y;
  const float u = ml::safeClamp((y - from) / span, 0.f, 1.f);
  return from + span * powf(u, exponent);
}

float envSegmentStart(int adsrStage, float sustain) {
  if (adsrStage == 1) return 1.f;
  if (adsrStage == 2 || adsrStage == 3) return sustain;
  return 0.f;
}

float envWarp(float x, float curve) {
  const float k = warpScale(curve);
  return k == 0.f ? x : warpWith(x, k, expf(k) - 1.f);
}

void envWarpRow(float* x, int count, float curve) {
  const float k = warpScale(curve);
  if (k == 0.f) return;
  const float span = expf(k) - 1.f;
  for (int i = 0; i < count; ++i) x[i] = warpWith(x[i], k, span);
}

float envWarpInv(float y, float curve) {
  const float k = warpScale(curve);
  if (k == 0.f) return y;
  return log1pf(ml::safeClamp(y, 0.f, 1.f) * (expf(k) - 1.f)) / k;
}
