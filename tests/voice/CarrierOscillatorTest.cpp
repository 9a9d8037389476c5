#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "KernelMeasure.h"
#include "engine/voice/CarrierOscillator.h"
#include "foundation/MLDSPGens.h"

namespace {

constexpr int kBlock = kOscBlockSize;
constexpr double kSr = 48000.0;

using CarrierOscillator = kernel_test::HalfbandTest;

// One voice's oscillator driven with constant rows, for every path.
struct OscRig {
  ml::PhasorGen carrier;
  ml::SineGen modulator;
  PMOversampler pm;
  CarrierRotors rotors;
  FeedbackHistory history;
  ml::DSPVector car, carFade, mod, modFade, index, feedback, shape;
  OscillatorInputs in;

  OscRig(double carHz, double ratio, float fmIndex) {
    modulator.clear();
    for (int i = 0; i < kBlock; ++i) {
      car[i] = float(carHz / kSr);
      mod[i] = float(carHz * ratio / kSr);
    }
    limitCarrierIncrement(car.getBuffer(), carFade.getBuffer());
    limitModulatorIncrement(mod.getBuffer(), modFade.getBuffer());
    index = ml::DSPVector(fmIndex) * modFade;
    in.car = car.getConstBuffer();
    in.carFade = carFade.getConstBuffer();
    in.mod = mod.getConstBuffer();
    in.index = index.getConstBuffer();
    in.feedback = feedback.getConstBuffer();
    in.shape = shape.getConstBuffer();
    pm.seed(0, PMOversampler::kModulatorStartPhase);
  }

  void plainBlock(float* out) {
    const ml::DSPVector phase = carrier(car);
    const ml::DSPVector modSine = modulator(mod);
    renderPlainOscillator(phase.getConstBuffer(), modSine.getConstBuffer(), in, history, out);
  }
  void pmBlock(float* out) { renderPmOscillator(pm, in, history, out); }
  void bankBlock(const CarrierBank& bank, float* out) {
    carrier(car);
    const ml::DSPVector modSine = modulator(mod);
    renderCarrierBankOscillator(bank, rotors, modSine.getConstBuffer(), in, history, out);
  }

  template <typename Block>
  std::vector<float> run(int blocks, Block block) {
    std::vector<float> y(size_t(blocks) * kBlock);
    for (int b = 0; b < blocks; ++b) block(y.data() + size_t(b) * kBlock);
    return y;
  }
};

// Power outside the bins of the odd harmonics of f0 (the only true components of FM at ratio 2).
double aliasPowerDb(const std::vector<float>& y, double f0) {
  const std::vector<double> p = kernel_test::powerSpectrum(y);
  const double binHz = kSr / double(y.size());
  double total = 0.0;
  for (size_t k = 1; k < p.size(); ++k) {
    bool harmonic = false;
    for (double h = f0; h < kSr / 2; h += 2 * f0) harmonic |= std::fabs(double(k) * binHz - h) < 6 * binHz;
    if (!harmonic) total += p[k];
  }
  return 10.0 * std::log10(total);
}

TEST_F(CarrierOscillator, IncrementLimitsFadeBeforeNyquist) {
  alignas(16) float mod[kBlock], modFade[kBlock], car[kBlock], carFade[kBlock];
  const float mods[] = {0.2f, 1.f / 3.f, 0.37f, 0.4f, 0.5f, -0.5f, std::nanf(""), INFINITY};
  const float cars[] = {0.2f, 0.45f, 0.47f, 0.49f, 0.6f, -0.6f, std::nanf(""), -INFINITY};
  for (int i = 0; i < kBlock; ++i) mod[i] = mods[i % 8], car[i] = cars[i % 8];
  limitModulatorIncrement(mod, modFade);
  limitCarrierIncrement(car, carFade);
  const float modOut[] = {0.2f, 1.f / 3.f, 0.37f, 0.4f, 0.4f, -0.4f, 0.f, 0.f};
  const float modFadeOut[] = {1.f, 1.f, 1.f - (0.37f - 1.f / 3.f) * 15.f, 0.f, 0.f, 0.f, 0.f, 0.f};
  const float carOut[] = {0.2f, 0.45f, 0.47f, 0.49f, 0.49f, -0.49f, 0.f, 0.f};
  const float carFadeOut[] = {1.f, 1.f, 0.5f, 0.f, 0.f, 0.f, 0.f, 0.f};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(mod[i], modOut[i]) << i;
    EXPECT_NEAR(modFade[i], modFadeOut[i], 1e-5f) << i;
    EXPECT_EQ(car[i], carOut[i]) << i;
    EXPECT_NEAR(carFade[i], carFadeOut[i], 1e-5f) << i;
  }
}

// A row that stays below the limits passes unchanged under a fade of exactly 1; a single sample past them,
// or not finite, anywhere in an otherwise quiet row is still limited.
TEST_F(CarrierOscillator, IncrementLimitsCatchOneSampleInAQuietRow) {
  alignas(16) float mod[kBlock], modFade[kBlock], car[kBlock], carFade[kBlock];
  const float odd[] = {0.f, 0.5f, std::nanf("")};
  for (const int at : {-1, 0, 37, kBlock - 1}) {
    for (const float value : odd) {
      for (int i = 0; i < kBlock; ++i) mod[i] = car[i] = (i % 2 ? -1.f : 1.f) * 0.01f * float(i % 34);
      if (at >= 0) mod[at] = car[at] = value;
      limitModulatorIncrement(mod, modFade);
      limitCarrierIncrement(car, carFade);
      for (int i = 0; i < kBlock; ++i) {
        const float quiet = (i % 2 ? -1.f : 1.f) * 0.01f * float(i % 34);
        const bool past = i == at && value != 0.f;
        EXPECT_EQ(mod[i], past ? (value > 0.f ? 0.4f : 0.f) : (i == at ? 0.f : quiet)) << at << " " << i;
        EXPECT_EQ(modFade[i], past ? 0.f : 1.f) << at << " " << i;
        EXPECT_EQ(car[i], past ? (value > 0.f ? 0.49f : 0.f) : (i == at ? 0.f : quiet)) << at << " " << i;
        EXPECT_EQ(carFade[i], past ? 0.f : 1.f) << at << " " << i;
      }
    }
  }
}

TEST_F(CarrierOscillator, CarrierPastNyquistFallsSilentOnEveryPath) {
  OscRig rig(0.52 * kSr, 1.0, 0.f);  // octave, bend and pitch route pushed it past Nyquist
  for (auto block : {+[](OscRig&r, float*o) { r.plainBlock(o); }, +[](OscRig&r, float*o) { r.pmBlock(o); }}) {
    const std::vector<float> y = rig.run(8, [&](float* o) { block(rig, o); });
    for (float v : y) ASSERT_EQ(v, 0.f);
  }
}

TEST_F(CarrierOscillator, PathChoiceHasHysteresisAndReadsTheNewNote) {
  float hz[kBlock];
  struct Case {
    bool onPm;
    float hz;
    bool pm;
  };
  for (const Case c : {Case{false, 1000.01f, true}, Case{false, 1000.f, false}, Case{true, 940.01f, true},
                       Case{true, 940.f, false}, Case{true, std::nanf(""), false}}) {
    for (float& h : hz) h = c.hz;
    EXPECT_EQ(choosePmPath(c.onPm, hz, 0), c.pm) << c.onPm << " " << c.hz;
  }
  // A note starting at sample 40: samples before it still hold the previous note's frequency.
  for (int i = 0; i < kBlock; ++i) hz[i] = (i < 40) ? 2000.f : 500.f;
  EXPECT_FALSE(choosePmPath(false, hz, 40));
  EXPECT_TRUE(choosePmPath(false, hz, 10));
}

TEST_F(CarrierOscillator, NoteStartsKeepOrHandOverTheSoundingPhases) {
  PMOversampler pm;
  uint32_t plainCar = 111, plainMod = 222;
  startOscillatorNote(false, true, false, 777, plainCar, plainMod, pm);  // fresh note on the 4x path
  EXPECT_EQ(plainCar, 777u);
  EXPECT_EQ(pm.carrierPhase, 777u);
  EXPECT_EQ(pm.modulatorPhase, PMOversampler::kModulatorStartPhase);

  pm.seed(1000, 2000);
  startOscillatorNote(true, true, true, 0, plainCar, plainMod, pm);  // retrigger 4x to 4x: no reseed
  EXPECT_EQ(pm.carrierPhase, 1000u);
  EXPECT_EQ(pm.modulatorPhase, 2000u);

  startOscillatorNote(true, false, true, 0, plainCar, plainMod, pm);  // 4x to plain
  EXPECT_EQ(plainCar, 1000u);
  EXPECT_EQ(plainMod, 2000u);

  plainCar = 5, plainMod = 6;
  startOscillatorNote(false, true, true, 0, plainCar, plainMod, pm);  // plain to 4x
  EXPECT_EQ(pm.carrierPhase, 5u);
  EXPECT_EQ(pm.modulatorPhase, 6u);

  startOscillatorNote(false, false, true, 99, plainCar, plainMod, pm);  // plain retrigger: untouched
  EXPECT_EQ(plainCar, 5u);
}

// The 4x phases of moving increments (a falling one among them) and of held ones wrap and step once per
// sub-sample, as PMOversampler::phaseStep steps them, over blocks.
TEST_F(CarrierOscillator, FourTimesPhasesStepEverySubSample) {
  OscRig r(3000.0, 1.5, 0.f);
  r.in.feedbackOn = true;  // the plain sine with feedback leaves the phases for the chains
  r.pm.seed(0xFFFFF000u, 0x7FFFFF00u);
  uint32_t car = r.pm.carrierPhase, mod = r.pm.modulatorPhase;
  PmBlockRows rows;
  for (int block = 0; block < 3; ++block) {
    for (int i = 0; i < kBlock; ++i) {
      r.car[i] = block == 1 ? 0.02f : 0.01f + 0.3f * float(i + block * kBlock) / (3 * kBlock);
      r.mod[i] = block == 1 ? -0.07f : (i % 7 == 3) ? -0.2f : 0.05f * float(block + 1);
      r.index[i] = 0.5f * float(i % 5);
    }
    ASSERT_TRUE(beginPmOscillator(r.pm, r.in, r.history, rows));
    for (int k = 0; k < kPmSubSamples; ++k) {
      const float cp = PMOversampler::phaseStep(car, pmPhaseIncrement(r.car[k / 4]));
      const float mp = PMOversampler::phaseStep(mod, pmPhaseIncrement(r.mod[k / 4]));
      alignas(16) float sine[4];
      ml::simd::storeF(sine, phasorToSineLanes(ml::simd::splat(mp)));
      ASSERT_EQ(rows.subSamples()[k], cp + sine[0] * r.index[k / 4])
          << "block " << block << " sub-sample " << k;
    }
    EXPECT_EQ(r.pm.carrierPhase, car);
    EXPECT_EQ(r.pm.modulatorPhase, mod);
  }
}

TEST_F(CarrierOscillator, FourTimesPathAliasesLessThanThePlainPath) {
  // 48 kHz, carrier 3011 Hz, ratio 2, FM Amount 0.2 at velocity timbre 0, no feedback, Sine mode.
  OscRig plain(3011.0, 2.0, 0.2f), pm(3011.0, 2.0, 0.2f);
  pm.pm.seed(plain.carrier.phase, plain.modulator.phasor.phase);
  plain.run(4, [&](float* o) { plain.plainBlock(o); });
  pm.run(4, [&](float* o) { pm.pmBlock(o); });
  const std::vector<float> yPlain = plain.run(256, [&](float* o) { plain.plainBlock(o); });
  const std::vector<float> yPm = pm.run(256, [&](float* o) { pm.pmBlock(o); });
  const double plainDb = aliasPowerDb(yPlain, 3011.0);
  const double pmDb = aliasPowerDb(yPm, 3011.0);
  EXPECT_LT(pmDb, plainDb - 6.0) << plainDb << " " << pmDb;
  // Both carry the same fundamental.
  EXPECT_NEAR(kernel_test::toneAmplitude(yPm, 0, 3011.0, kSr),
              kernel_test::toneAmplitude(yPlain, 0, 3011.0, kSr), 0.02);
}

TEST_F(CarrierOscillator, OutputStaysBoundedAtTheHighestModulation) {
  // Highest FM Amount 0.2 with full velocity timbre (x 1.6), full feedback, Sine and Warp.
  for (int mode : {kShapeModeSine, kShapeModeWarp}) {
    for (bool feedbackOn : {false, true}) {
      OscRig plain(220.0, 3.5, 0.32f), pm(1500.0, 3.5, 0.32f);
      for (OscRig* r : {&plain, &pm}) {
        r->feedback = ml::DSPVector(1.f);
        r->shape = ml::DSPVector(1.f);
        r->in.feedbackOn = feedbackOn;
        r->in.render.renderMode = r->in.render.effectiveShape = r->in.render.fromShape = mode;
        r->in.render.warp = mode == kShapeModeWarp;
      }
      for (float v : plain.run(200, [&](float* o) { plain.plainBlock(o); })) ASSERT_LE(std::fabs(v), 1.f);
      for (float v : pm.run(200, [&](float* o) { pm.pmBlock(o); })) ASSERT_LE(std::fabs(v), 1.3f);
    }
  }
}

// Seventeen voices with feedback, each its own pitch and Feedback row, run their recursions side by side
// (five lane groups, the last with one voice) and give exactly what each gives alone.
TEST_F(CarrierOscillator, FeedbackChainsSideBySideMatchEachAlone) {
  constexpr int kVoices = 17;
  std::vector<OscRig> alone, together;
  for (int k = 0; k < kVoices; ++k) {
    for (auto* rigs : {&alone, &together}) {
      OscRig& r = rigs->emplace_back(1100.0 + 97.0 * k, 1.5 + 0.25 * k, 0.05f + 0.01f * k);
      for (int i = 0; i < kBlock; ++i) r.feedback[i] = float(k + 1) / kVoices * float(i + 1) / kBlock;
      r.in.feedbackOn = true;
    }
  }
  // The rigs' rows moved with them.
  for (auto* rigs : {&alone, &together}) {
    for (OscRig& r : *rigs) {
      r.in = {r.car.getConstBuffer(),
              r.carFade.getConstBuffer(),
              r.mod.getConstBuffer(),
              r.index.getConstBuffer(),
              r.feedback.getConstBuffer(),
              r.shape.getConstBuffer(),
              true,
              r.in.render};
    }
  }
  std::vector<PmBlockRows> rows(kVoices);
  for (int block = 0; block < 3; ++block) {
    std::vector<PmFeedbackChain> chains;
    for (int k = 0; k < kVoices; ++k) {
      OscRig& r = together[size_t(k)];
      ASSERT_TRUE(beginPmOscillator(r.pm, r.in, r.history, rows[size_t(k)]));
      chains.push_back({rows[size_t(k)].subSamples(), r.in.feedback, &r.history});
    }
    runPmFeedbackChains(chains.data(), kVoices);
    for (int k = 0; k < kVoices; ++k) {
      alignas(16) float a[kBlock], t[kBlock];
      alone[size_t(k)].pmBlock(a);
      OscRig& r = together[size_t(k)];
      finishPmOscillator(r.pm, rows[size_t(k)], r.in.carFade, t);
      for (int i = 0; i < kBlock; ++i)
        ASSERT_EQ(a[i], t[i]) << "voice " << k << " block " << block << " sample " << i;
    }
  }
}

TEST_F(CarrierOscillator, BankRendersOnlyPartialsBelowTheLimit) {
  CarrierBank bank;
  rebuildCarrierBank(bank, 1.f, 0, nullptr);
  glideCarrierBank(bank);
  for (int k = 0; k < kCarrierPartials; ++k) bank.seedPhases[k] = 0.1f * float(k);
  OscRig rig(0.07 * kSr, 1.0, 0.f);  // partials 1..6 lie below 0.45 cycles per sample, the 7th above
  const std::vector<float> y = rig.run(256, [&](float* o) { rig.bankBlock(bank, o); });
  const float a = bank.liveAmps[0];
  for (int h = 1; h <= 6; ++h)
    EXPECT_NEAR(kernel_test::toneAmplitude(y, 0, 0.07 * h * kSr, kSr), a, 0.01 * a) << h;
  EXPECT_LT(kernel_test::toneAmplitude(y, 0, 0.49 * kSr, kSr), 1e-4 * a);
  // The rotators keep unit length over long runs.
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(rig.rotors.re[k] * rig.rotors.re[k] + rig.rotors.im[k] * rig.rotors.im[k], 1.f, 1e-4f);
  }
}

TEST_F(CarrierOscillator, ShapeFadeToTheBankDipsToSilenceAtItsMiddle) {
  ModeTracker t;
  trackModeChange(t, kShapeModeSine, true);
  trackModeChange(t, kShapeModeCarrier, false);
  ShapeRender r = shapeRender(t, kShapeModeCarrier);
  EXPECT_TRUE(r.bankFade);
  EXPECT_EQ(r.renderMode, kShapeModeSine);
  float out[kBlock];
  int blocks = 0;
  std::vector<float> gains;
  while (t.fading) {
    r = shapeRender(t, kShapeModeCarrier);
    for (float& o : out) o = 1.f;
    finishShapeFade(t, r, out);
    gains.insert(gains.end(), out, out + kBlock);
    ++blocks;
    if (blocks == 2) {
      EXPECT_EQ(shapeRender(t, kShapeModeCarrier).renderMode, kShapeModeCarrier);
    }
  }
  EXPECT_EQ(blocks, 4);
  EXPECT_NEAR(gains[128], 0.f, 1e-6f);
  EXPECT_NEAR(gains[255], 1.f, 1e-3f);

  // Sine to Warp crossfades the two carriers without a dip.
  ModeTracker warp;
  trackModeChange(warp, kShapeModeSine, true);
  trackModeChange(warp, kShapeModeWarp, false);
  EXPECT_FALSE(shapeRender(warp, kShapeModeWarp).bankFade);
}

}  // namespace
