// Cost of the master chain per 64-sample block.
#include <benchmark/benchmark.h>
#include <pmmintrin.h>

#include <cmath>
#include <memory>

#include "engine/MasterChain.h"
#include "engine/ParamTable.h"

namespace {

MasterSettings defaults() {
  double values[kNumParams];
  for (uint32_t id = 0; id < kNumParams; ++id) values[id] = kParams[id].def;
  return MasterSettings::fromParams(values);
}

void runChain(benchmark::State& state, const MasterSettings& settings) {
  _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
  _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
  auto chain = std::make_unique<MasterChain>();
  chain->setSampleRate(48000.0f, settings);
  ml::DSPVector dry;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i)
    dry[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
  for (auto _ : state) {
    ml::DSPVector left = dry, right = dry;
    chain->process(settings, left, right);
    benchmark::DoNotOptimize(left);
    benchmark::DoNotOptimize(right);
  }
}

// Default patch: reverb, noise floor, gain, knee and colour; the EQ is flat and skipped.
void BM_MasterChainDefault(benchmark::State& state) {
  runChain(state, defaults());
}
BENCHMARK(BM_MasterChainDefault);

// Every stage active, and the output driven into the knee and colour.
void BM_MasterChainAllStages(benchmark::State& state) {
  MasterSettings settings = defaults();
  settings.eqLow = 0.5f;
  settings.eqMid = -0.3f;
  settings.eqHigh = 0.4f;
  settings.outputGain = 2.0f;
  runChain(state, settings);
}
BENCHMARK(BM_MasterChainAllStages);

}  // namespace
