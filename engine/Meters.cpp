#include "engine/Meters.h"

#include <algorithm>
#include <cmath>

namespace {

float blockCoefficient(float seconds, float blockRate) {
  return static_cast<float>(1.0 - std::exp(-1.0 / (static_cast<double>(seconds) * blockRate)));
}

}  // namespace

void OutputMeters::setSampleRate(float sampleRate) {
  if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate)) return;
  const float blockRate = sampleRate / ml::kFloatsPerDSPVector;
  attack = blockCoefficient(kAttackSeconds, blockRate);
  release = blockCoefficient(kReleaseSeconds, blockRate);
}

void OutputMeters::clear() {
  for (int c = 0; c < 2; ++c) {
    rmsState[c] = 0.0f;
    peak[c].store(0.0f, std::memory_order_relaxed);
    rms[c].store(0.0f, std::memory_order_relaxed);
  }
}

void OutputMeters::process(const ml::DSPVector& left, const ml::DSPVector& right) {
  const ml::DSPVector* rows[2] = {&left, &right};
  for (int c = 0; c < 2; ++c) {
    const ml::DSPVector& row = *rows[c];
    float blockPeak = 0.0f;
    float sumSquares = 0.0f;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
      blockPeak = std::max(blockPeak, std::fabs(row[i]));
      sumSquares += row[i] * row[i];
    }
    const float r = std::sqrt(sumSquares / ml::kFloatsPerDSPVector);
    rmsState[c] += (r > rmsState[c] ? attack : release) * (r - rmsState[c]);
    peak[c].store(blockPeak, std::memory_order_relaxed);
    rms[c].store(rmsState[c], std::memory_order_relaxed);
  }
}
