// Cost of one 64-sample block of the fold stage and of the noise, click and declick stages.
#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <cmath>

#include "engine/voice/NoiseClick.h"
#include "engine/voice/Wavefolder.h"

namespace {

constexpr int kBlock = 64;

void flushDenormals() {
  _mm_setcsr(_mm_getcsr() | 0x8040);
}

void foldBlock(benchmark::State& state, float character) {
  flushDenormals();
  Oversampler2x::initHalfband();
  float fold[kBlock];
  float bias[kBlock];
  float chars[kBlock];
  float zero[kBlock]{};
  for (int i = 0; i < kBlock; ++i) {
    fold[i] = 3.f;
    bias[i] = 0.2f;
    chars[i] = character;
  }
  FoldInputs in;
  in.fold = fold;
  in.foldRoute = zero;
  in.bias = bias;
  in.biasRoute = zero;
  in.character = chars;
  in.characterRoute = zero;
  FoldState foldState;
  float row[kBlock];
  int n = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) row[i] = 0.8f * sinf(0.03f * static_cast<float>(n++));
    foldStage(row, foldState, in);
    benchmark::DoNotOptimize(row);
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}

void BM_FoldStageSine(benchmark::State& state) {
  foldBlock(state, 0.f);
}
void BM_FoldStageCharacter(benchmark::State& state) {
  foldBlock(state, 0.8f);
}

void BM_NoiseClickStages(benchmark::State& state) {
  flushDenormals();
  float mix[kBlock];
  for (float& m : mix) m = 0.3f;
  float fade = 1.f;
  int8_t fadeState = 0;
  float dc[2]{};
  uint32_t noiseSeed = 0;
  float pink[3]{};
  uint32_t clickSeed = 0;
  float clickLevel = 0.f;
  float row[kBlock];
  int block = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBlock; ++i) row[i] = 0.5f;
    const int trigger = (block++ % 16) == 0 ? 5 : -1;
    declick(row, fade, fadeState, trigger, false);
    dcBlock(row, dc, 48000.f);
    addPinkNoiseFloor(row, noiseSeed, pink, 2, 60.f, 0.8f);
    noiseMixAndClick(row, mix, clickSeed, clickLevel, 0.5f, 0.8f, trigger, 2, 48000.f);
    benchmark::DoNotOptimize(row);
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}

}  // namespace

BENCHMARK(BM_FoldStageSine);
BENCHMARK(BM_FoldStageCharacter);
BENCHMARK(BM_NoiseClickStages);
