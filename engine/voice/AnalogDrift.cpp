#include "engine/voice/AnalogDrift.h"

#include "foundation/MLDSPVector.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr uint32_t kGolden = 0x9E3779B1u;
constexpr float kBlock = static_cast<float>(ml::kFloatsPerDSPVector);

// Hash of one of the five per-voice draws: b = 3 x voice, each draw at its own distance.
float voiceDraw(int voice, uint32_t offset) {
  const uint32_t b = 3u * static_cast<uint32_t>(voice);
  return analogSignedUnit(analogHash(b + offset));
}

}  // namespace

uint32_t analogHash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

float analogGaussian(uint32_t& s) {
  const float a = analogSignedUnit(analogXorshift(s));
  const float b = analogSignedUnit(analogXorshift(s));
  return 0.5f * (a + b);
}

AnalogOffsets drawAnalogOffsets(int voice, float sampleRate) {
  AnalogOffsets o;
  o.pitchCents = voiceDraw(voice, 4369) * 1.4f;
  o.cutoffCents = voiceDraw(voice, 8738) * 18.f;
  o.timeOffset = voiceDraw(voice, 13107) * 0.04f;
  o.gainDb = voiceDraw(voice, 17476) * 0.35f;
  o.startDelay = 0.5f * (voiceDraw(voice, 21845) + 1.f) * 0.3f * 0.001f * sampleRate;
  o.cutoffMul = std::exp2(o.cutoffCents / 1200.f);
  o.gainMul = std::pow(10.f, o.gainDb / 20.f);
  return o;
}

uint32_t analogSeedForVoice(int voice) {
  return analogHash(static_cast<uint32_t>(voice) * kGolden + 42405u) | 1u;
}

float analogWalkDecay(float sampleRate) {
  return expf(-0.7f * kBlock / sampleRate);
}

float analogWalkStep(uint32_t& seed, float walkCents, int voice, float decay) {
  if (seed == 0) seed = analogSeedForVoice(voice);
  return ml::safeClamp(decay * walkCents + analogGaussian(seed), -2.f, kAnalogDriftMaxCents);
}

void DriftClock::clear() {
  phase = 0.f;
  target = 1.f;
  ratio = 1.f;
  coeff = 0.f;
  needsInit = true;
}

double sanitizeDriftRatio(double ratio) {
  return ml::safeClamp(ml::finiteOr(ratio, 1.0), kDriftRatioMin, kDriftRatioMax);
}

double pickDriftTarget(const DriftTargets& targets, int voice, double ratio, double range) {
  const double lo = ratio * std::exp2(-range);
  const double hi = ratio * std::exp2(range);
  const bool tuned = targets.count > 0;
  const double* table = tuned ? targets.values : kHarmonicTargets.data();
  const int size = tuned ? std::min<int>(targets.count, DriftTargets::kMaxTargets)
                         : static_cast<int>(kHarmonicTargets.size());
  constexpr int kMaxCandidates = 16;
  double candidates[kMaxCandidates];
  int found = 0;
  for (int i = 0; i < size && found < kMaxCandidates; ++i) {
    if (table[i] >= lo && table[i] <= hi) candidates[found++] = table[i];
  }
  if (found == 0) return ratio;
  const uint32_t ratioBits = static_cast<uint32_t>(ml::saturateToInt64(ratio * 1000.0));
  const uint32_t h = (static_cast<uint32_t>(voice) * kGolden) ^ ratioBits;
  return candidates[h % static_cast<uint32_t>(found)];
}

float driftStep(DriftClock& clock, const DriftTargets& targets, int voice, double ratio, double drift,
                float sampleRate) {
  const double d = ml::safeClamp(drift, 0.0, 1.0);
  if (d <= 0.001) return 1.f;
  if (clock.needsInit) {
    const uint32_t h = static_cast<uint32_t>(voice) * kGolden + 12345u;
    clock.rate = static_cast<float>(h % 1000u) * 0.00045f + 0.05f;
    clock.phase = static_cast<float>(h % 997u) / 997.f;
    clock.needsInit = false;
  }
  const double safeRatio = sanitizeDriftRatio(ratio);
  clock.phase += clock.rate * kBlock / sampleRate;
  if (clock.phase >= 1.f) {
    clock.phase -= 1.f;
    clock.target = static_cast<float>(pickDriftTarget(targets, voice, safeRatio, d));
    const double dev = std::fabs(clock.target / safeRatio - 1.0);
    const double ms = 50.0 + 500.0 * dev;
    clock.coeff = static_cast<float>(1.0 - std::exp(-1.0 / (0.001 * ms * sampleRate)));
  }
  clock.ratio += clock.coeff * (static_cast<float>(clock.target / safeRatio) - clock.ratio);
  return clock.ratio;
}

float snapCutoffToHarmonic(const double* ratioSteps, int32_t ratioStepCount, float noteHz, float cutoff) {
  // Whatever the input, the result is a usable cutoff (a NaN becomes 20 Hz).
  if (ratioStepCount < 1 || !(noteHz > 1.f) || !(cutoff > 0.f)) return ml::safeClamp(cutoff, 20.f, 20000.f);
  const double lc = std::log(static_cast<double>(cutoff));
  const double ln0 = std::log(static_cast<double>(noteHz));
  const double ln2 = std::log(2.0);
  double best = 1e30;
  double result = lc;
  for (int32_t i = 0; i < ratioStepCount; ++i) {
    const double r = ratioSteps[i];
    if (!(r > 0.0)) continue;
    const double lr = std::log(r);
    const double n = std::round((lc - ln0 - lr) / ln2);
    const double candidate = n * ln2 + ln0 + lr;
    const double distance = std::fabs(candidate - lc);
    if (distance < best) {
      best = distance;
      result = candidate;
    }
  }
  return ml::safeClamp(static_cast<float>(std::exp(result)), 20.f, 20000.f);
}
