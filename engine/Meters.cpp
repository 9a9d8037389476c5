#include "engine/Meters.h"

#include <cmath>

#include "engine/Silence.h"
#include "engine/StereoPairs.h"

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
  using namespace ml::simd;
  // Each channel's squares summed in order, the two channels side by side in two lanes.
  const StereoPairs both(left, right);
  F4 sums = splat(0.0f);
#pragma GCC unroll 8
  for (int i = 0; i < StereoPairs::kBlock; ++i) {
    const F4 x = both.at(i);
    sums = add(sums, mul(x, x));
  }
  alignas(16) float sumSquares[4];
  storeF(sumSquares, sums);
  const float* rows[2] = {left.getConstBuffer(), right.getConstBuffer()};
  for (int c = 0; c < 2; ++c) {
    const float blockMax = blockPeak(rows[c]);
    const float r = std::sqrt(sumSquares[c] / ml::kFloatsPerDSPVector);
    rmsState[c] += (r > rmsState[c] ? attack : release) * (r - rmsState[c]);
    // Silence reads as 0 at once, not after the release has crept through every float down to zero.
    if (blockMax < kSilenceLevel && rmsState[c] < kSilenceLevel) rmsState[c] = 0.0f;
    peak[c].store(blockMax, std::memory_order_relaxed);
    rms[c].store(rmsState[c], std::memory_order_relaxed);
  }
}
