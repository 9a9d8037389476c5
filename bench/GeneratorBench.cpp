// Time per 64-sample vector of the foundation generators.
#include <benchmark/benchmark.h>

#include "foundation/MLDSPGens.h"
#include "platform/FloatingPointControl.h"

namespace {

void BM_PhasorAndSine(benchmark::State& state) {
  enableDenormalFlush();
  ml::PhasorGen phasor;
  const ml::DSPVector freq(440.0f / 48000.0f);
  for (auto _ : state) {
    ml::DSPVector out = ml::phasorToSine(phasor(freq));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_PhasorAndSine);

void BM_Noise(benchmark::State& state) {
  enableDenormalFlush();
  ml::NoiseGen noise;
  for (auto _ : state) {
    ml::DSPVector out = noise();
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Noise);

void BM_OnePole(benchmark::State& state) {
  enableDenormalFlush();
  ml::OnePole lp;
  lp.setCoeffs(ml::OnePole::makeCoeffs(1000.0f / 48000.0f));
  ml::NoiseGen noise;
  const ml::DSPVector in = noise();
  for (auto _ : state) {
    ml::DSPVector out = lp(in);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_OnePole);

}  // namespace
