#include <algorithm>
#include <cmath>

#include "VoiceKernelBench.h"
#include "engine/voice/FilterLanes.h"

namespace {

constexpr int kBlock = kFilterBlockSize;

struct FilterBenchRows {
  float cutoff[kBlock], route[kBlock], resonance[kBlock], drive[kBlock], in[kBlock], out[kBlock];
  FilterBlockInputs p;

  FilterBenchRows(float resonanceValue, float driveValue, bool moving) {
    for (int i = 0; i < kBlock; ++i) {
      cutoff[i] = moving ? 800.f + 10.f * float(i) : 800.f;  // moving: new coefficients every sample
      route[i] = 1.f;
      resonance[i] = resonanceValue;
      drive[i] = driveValue;
      in[i] = std::sin(0.1f * float(i));
    }
    p.cutoff = cutoff;
    p.cutoffRoute = route;
    p.resonance = resonance;
    p.drive = drive;
    p.mode = kFilterLowPass;
  }
};

// Args: saturation (0 = clean core), resonance x 100, drive x 100, cutoff moving within the block.
void BM_FilterBlock(benchmark::State& state) {
  Oversampler2x::initHalfband();
  enableDenormalFlush();
  FilterBenchRows rows(float(state.range(1)) / 100.f, float(state.range(2)) / 100.f, state.range(3) != 0);
  const FilterBlockSetup setup = filterBlockSetup(float(state.range(0)) / 100.f, 48000.f);
  FilterState s;
  for (auto _ : state) {
    renderFilterBlock(s, setup, rows.p, rows.in, rows.out);
    benchmark::DoNotOptimize(rows.out);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_FilterBlock)
    ->ArgNames({"sat", "res", "drive", "moving"})
    ->Args({0, 30, 0, 0})
    ->Args({0, 30, 0, 1})
    ->Args({0, 95, 0, 1})
    ->Args({0, 30, 50, 1})
    ->Args({50, 30, 0, 0})
    ->Args({50, 30, 0, 1})
    ->Args({50, 95, 50, 1});

// Filter pairs in series of several voice renders at once, as the engine runs them (lanes of four,
// the scratch kept). Args: saturation (0 = clean core), renders; moving cutoff, resonance 0.95, drive 0.5.
void BM_FilterJobs(benchmark::State& state) {
  Oversampler2x::initHalfband();
  enableDenormalFlush();
  constexpr int kMaxJobs = 16;
  const int count = int(state.range(1));
  FilterBenchRows rows(0.95f, 0.5f, true);
  const FilterBlockSetup setup = filterBlockSetup(float(state.range(0)) / 100.f, 48000.f);
  static FilterLaneScratch scratch;
  FilterState first[kMaxJobs], second[kMaxJobs];
  float io[kMaxJobs][kBlock];
  FilterSeriesJob jobs[kMaxJobs];
  for (auto _ : state) {
    for (int j = 0; j < count; ++j) {
      std::copy_n(rows.in, kBlock, io[j]);
      jobs[j] = {&first[j], &second[j], setup, {rows.p, rows.p}, io[j], io[j], {}};
    }
    renderFilterJobs(jobs, count, scratch);
    benchmark::DoNotOptimize(io);
  }
  reportPerSample(state, double(kBlock) * count);
}
BENCHMARK(BM_FilterJobs)->ArgNames({"sat", "renders"})->ArgsProduct({{0, 50}, {1, 4, 8, 16}});

void BM_SvfMultimode(benchmark::State& state) {
  enableDenormalFlush();
  float ic1 = 0.f, ic2 = 0.f, x = 0.f, acc = 0.f;
  const SvfCoeffs c = svfCoeffs(0.02f, 0.5f);
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) {
      x = (x > 1.f) ? -1.f : x + 0.01f;
      acc += svfStep(x, c, kFilterLowPass, kFilterLowPass, 0.f, ic1, ic2);
    }
    benchmark::DoNotOptimize(acc);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_SvfMultimode);

void BM_NlSvf4x(benchmark::State& state) {
  Oversampler2x::initHalfband();
  enableDenormalFlush();
  NLFilterOSState s;
  const SvfCoeffs c = nlSvfCoeffs(0.02f, 0.5f);
  const NlSvfDrive d = nlSvfDrive(0.5f);
  float x = 0.f, acc = 0.f;
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) {
      x = (x > 1.f) ? -1.f : x + 0.01f;
      acc += nlSvf4xStep(x, c, d, SvfModeBlend{kFilterLowPass, kFilterLowPass, 0.f}, s);
    }
    benchmark::DoNotOptimize(acc);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_NlSvf4x);

void BM_LadderSample(benchmark::State& state) {
  enableDenormalFlush();
  LadderSelfOsc l;
  const float g = std::tan(3.1415927f * 0.02f);
  float x = 0.f, acc = 0.f;
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) {
      x = (x > 1.f) ? -1.f : x + 0.01f;
      acc += ladderSample(x, g, 4.37f, l);
    }
    benchmark::DoNotOptimize(acc);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_LadderSample);

}  // namespace
