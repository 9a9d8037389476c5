#include "VoiceKernelBench.h"
#include "engine/voice/CarrierOscillator.h"
#include "foundation/MLDSPGens.h"

namespace {

constexpr int kBlock = kOscBlockSize;

struct OscBenchRig {
  ml::PhasorGen carrier;
  ml::SineGen modulator;
  PMOversampler pm;
  CarrierRotors rotors;
  FeedbackHistory history;
  CarrierBank bank;
  ml::DSPVector car, carFade, mod, modFade, index, feedback, shape, out;
  OscillatorInputs in;

  // Args: carrier Hz, feedback on, Warp shape on.
  explicit OscBenchRig(const benchmark::State& state) {
    Oversampler2x::initHalfband();
    car = ml::DSPVector(float(state.range(0)) / 48000.f);
    mod = car * ml::DSPVector(2.f);
    limitCarrierIncrement(car.getBuffer(), carFade.getBuffer());
    limitModulatorIncrement(mod.getBuffer(), modFade.getBuffer());
    index = ml::DSPVector(0.2f) * modFade;
    feedback = ml::DSPVector(0.5f);
    shape = ml::DSPVector(0.5f);
    in.car = car.getConstBuffer();
    in.carFade = carFade.getConstBuffer();
    in.mod = mod.getConstBuffer();
    in.index = index.getConstBuffer();
    in.feedback = feedback.getConstBuffer();
    in.shape = shape.getConstBuffer();
    in.feedbackOn = state.range(1) != 0;
    if (state.range(2) != 0) {
      in.render.renderMode = in.render.effectiveShape = in.render.fromShape = kShapeModeWarp;
      in.render.warp = true;
    }
    rebuildCarrierBank(bank, 0.5f, 0, nullptr);
    glideCarrierBank(bank);
  }
};

void BM_PlainOscillator(benchmark::State& state) {
  OscBenchRig r(state);
  for (auto _ : state) {
    const ml::DSPVector phase = r.carrier(r.car);
    const ml::DSPVector modSine = r.modulator(r.mod);
    renderPlainOscillator(phase.getConstBuffer(), modSine.getConstBuffer(), r.in, r.history,
                          r.out.getBuffer());
    benchmark::DoNotOptimize(r.out);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_PlainOscillator)->ArgNames({"hz", "fb", "warp"})->Args({220, 0, 0})->Args({220, 1, 1});

void BM_PmOscillator(benchmark::State& state) {
  OscBenchRig r(state);
  for (auto _ : state) {
    renderPmOscillator(r.pm, r.in, r.history, r.out.getBuffer());
    benchmark::DoNotOptimize(r.out);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_PmOscillator)->ArgNames({"hz", "fb", "warp"})->Args({3011, 0, 0})->Args({3011, 1, 1});

// 48 partials at 110 Hz; 3 at 6 kHz.
void BM_CarrierBankOscillator(benchmark::State& state) {
  OscBenchRig r(state);
  for (auto _ : state) {
    r.carrier(r.car);
    const ml::DSPVector modSine = r.modulator(r.mod);
    renderCarrierBankOscillator(r.bank, r.rotors, modSine.getConstBuffer(), r.in, r.history,
                                r.out.getBuffer());
    benchmark::DoNotOptimize(r.out);
  }
  reportPerSample(state, kBlock);
}
BENCHMARK(BM_CarrierBankOscillator)->ArgNames({"hz", "fb", "warp"})->Args({110, 0, 0})->Args({6000, 1, 0});

}  // namespace
