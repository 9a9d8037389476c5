// Carrier-bank tables: rebuild from the tuning and tilt, and the per-block amplitude glide.
#include "engine/voice/CarrierBank.h"

#include <cmath>

#include "engine/voice/AnalogDrift.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kFirstKey = 60;
constexpr int kLastKey = 127;
constexpr float kGlide = 0.235f;

// Ratios of the tuning's keys from middle C upward; returns how many.
int tunedRatios(const float* keyHz, float* ratios) {
  const float f0 = keyHz[kFirstKey];
  if (!(f0 > 0.f) || !std::isfinite(f0)) return 0;
  int n = 0;
  for (int key = kFirstKey; key <= kLastKey && n < kCarrierPartials; ++key) {
    const float f = keyHz[key];
    if (f > 0.f && std::isfinite(f) && f / f0 >= 0.999f) ratios[n++] = f / f0;
  }
  return n;
}

}  // namespace

float carrierSeedPhase(int i) {
  const uint32_t h = analogHash(static_cast<uint32_t>(i) * 0x9E3779B1u + 0x9E3779B9u);
  return static_cast<float>(h & 0xFFFFFFu) / 16777216.f;
}

bool carrierBankNeedsRebuild(const CarrierBank& b, float tilt, uint32_t generation) {
  return !b.built || generation != b.builtGeneration || std::fabs(tilt - b.builtTilt) > 0.0001f;
}

void rebuildCarrierBank(CarrierBank& b, float tilt, uint32_t generation, const float* keyHz) {
  const float exponent = 2.5f * (1.f - ml::safeClamp(tilt, 0.f, 1.f));
  float ratios[kCarrierPartials];
  int n = keyHz ? tunedRatios(keyHz, ratios) : 0;
  if (n == 0) {
    for (int k = 0; k < kCarrierPartials; ++k) ratios[k] = float(k + 1);
    n = kCarrierPartials;
  }
  float amps[kCarrierPartials];
  double sumSq = 0.0;
  for (int k = 0; k < n; ++k) {
    amps[k] = std::pow(ratios[k], -exponent);
    sumSq += double(amps[k]) * double(amps[k]);
  }
  const double unit = (sumSq > 1e-12) ? 1.0 / std::sqrt(sumSq) : 1.0;
  const float norm = float(unit * 0.85 / std::sqrt(std::log(double(n > 2 ? n : 2))));
  // Ratios beyond n keep their old values: retired partials fade out at their own pitch.
  for (int k = 0; k < kCarrierPartials; ++k) {
    if (k < n) b.ratios[k] = ratios[k];
    b.targetAmps[k] = (k < n) ? amps[k] * norm : 0.f;
  }
  b.count = n;
  b.builtGeneration = generation;
  b.builtTilt = tilt;
}

void glideCarrierBank(CarrierBank& b) {
  if (!b.built) {
    for (int k = 0; k < kCarrierPartials; ++k) b.liveAmps[k] = b.targetAmps[k];
    b.liveCount = b.count;
    b.built = true;
    return;
  }
  for (int k = 0; k < kCarrierPartials; ++k) b.liveAmps[k] += (b.targetAmps[k] - b.liveAmps[k]) * kGlide;
  if (b.liveCount < b.count) b.liveCount = b.count;
  while (b.liveCount > b.count && b.liveAmps[b.liveCount - 1] < 1e-5f) --b.liveCount;
}
