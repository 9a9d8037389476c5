#include <cmath>

#include "VoiceKernelBench.h"
#include "engine/voice/FilterSaturation.h"
#include "engine/voice/Oversampler2x.h"
#include "engine/voice/PMOversampler.h"

namespace {

void BM_Oversampler2xDriveShaper(benchmark::State& state) {
  Oversampler2x::initHalfband();
  enableDenormalFlush();
  Oversampler2x os;
  const DriveShaper shaper{0.6f};
  float x = 0.f, acc = 0.f;
  for (auto _ : state) {
    for (int i = 0; i < 64; ++i) {
      x = (x > 1.f) ? -1.f : x + 0.01f;
      acc += os.process(x, shaper);
    }
    benchmark::DoNotOptimize(acc);
  }
  reportPerSample(state, 64);
}
BENCHMARK(BM_Oversampler2xDriveShaper);

void BM_PMOversamplerDecimate(benchmark::State& state) {
  Oversampler2x::initHalfband();
  enableDenormalFlush();
  PMOversampler pm;
  float x = 0.f, out = 0.f;
  for (auto _ : state) {
    for (int i = 0; i < 64 * 4; ++i) {
      x = (x > 1.f) ? -1.f : x + 0.01f;
      pm.pushDecimate(x, i & 3, out);
    }
    benchmark::DoNotOptimize(out);
  }
  reportPerSample(state, 64);
}
BENCHMARK(BM_PMOversamplerDecimate);

}  // namespace
