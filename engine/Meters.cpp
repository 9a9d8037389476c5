#include "engine/Meters.h"

#include <algorithm>
#include <cmath>

#include "engine/Silence.h"

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
  // Both channels in one pass: their sums are two chains of additions side by side.
  float blockPeak[2] = {0.0f, 0.0f};
  float sumSquares[2] = {0.0f, 0.0f};
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    blockPeak[0] = std::max(blockPeak[0], std::fabs(left[i]));
    blockPeak[1] = std::max(blockPeak[1], std::fabs(right[i]));
    sumSquares[0] += left[i] * left[i];
    sumSquares[1] += right[i] * right[i];
  }
  for (int c = 0; c < 2; ++c) {
    const float r = std::sqrt(sumSquares[c] / ml::kFloatsPerDSPVector);
    rmsState[c] += (r > rmsState[c] ? attack : release) * (r - rmsState[c]);
    // Silence reads as 0 at once, not after the release has crept through every float down to zero.
    if (blockPeak[c] < kSilenceLevel && rmsState[c] < kSilenceLevel) rmsState[c] = 0.0f;
    peak[c].store(blockPeak[c], std::memory_order_relaxed);
    rms[c].store(rmsState[c], std::memory_order_relaxed);
  }
}
