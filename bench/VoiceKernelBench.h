// Shared set-up of the voice kernel benchmarks: time per processed sample.
#pragma once

#include <benchmark/benchmark.h>

#include "platform/FloatingPointControl.h"

// Reports the time per sample for a benchmark that processes samplesPerIteration per loop.
inline void reportPerSample(benchmark::State& state, double samplesPerIteration) {
  state.counters["per_sample"] = benchmark::Counter(
      samplesPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
