// Cost of the true-peak limiter and the output meters per 64-sample block.
#include <benchmark/benchmark.h>

#include <cmath>

#include "engine/Meters.h"
#include "engine/TruePeakLimiter.h"

namespace {

void BM_TruePeakLimiterBlock(benchmark::State& state) {
  TruePeakLimiter limiter;
  limiter.setSampleRate(48000.0f, TruePeakLimiter::kDefaultReleaseMs);
  limiter.clear();
  OutputMeters meters;
  meters.setSampleRate(48000.0f);
  ml::DSPVector loud;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i)
    loud[i] = 1.5f * std::sin(0.3f * static_cast<float>(i));
  for (auto _ : state) {
    ml::DSPVector left = loud, right = loud;
    limiter.processBlock(left, right);
    meters.process(left, right);
    benchmark::DoNotOptimize(left);
  }
}
BENCHMARK(BM_TruePeakLimiterBlock);

}  // namespace
