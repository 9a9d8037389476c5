#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "engine/voice/AnalogDrift.h"

namespace {

TEST(AnalogDrift, VoiceZeroDrawsAt48k) {
  const AnalogOffsets o = drawAnalogOffsets(0, 48000.f);
  EXPECT_NEAR(o.pitchCents, -0.985078f, 1e-5f);
  EXPECT_NEAR(o.cutoffCents, -7.330574f, 1e-5f);
  EXPECT_NEAR(o.timeOffset, 0.032827f, 1e-6f);
  EXPECT_NEAR(o.gainDb, 0.064922f, 1e-6f);
  EXPECT_NEAR(o.startDelay, 8.492861f, 1e-4f);
  // Voice 1 draws from the same hash inputs moved by 3.
  const AnalogOffsets v1 = drawAnalogOffsets(1, 48000.f);
  EXPECT_EQ(v1.pitchCents, analogSignedUnit(analogHash(3 + 4369)) * 1.4f);
  EXPECT_EQ(v1.gainDb, analogSignedUnit(analogHash(3 + 17476)) * 0.35f);
}

TEST(AnalogDrift, DrawsStayInTheirRanges) {
  for (int v = 0; v < 8; ++v) {
    const AnalogOffsets o = drawAnalogOffsets(v, 96000.f);
    EXPECT_LE(std::fabs(o.pitchCents), 1.4f);
    EXPECT_LE(std::fabs(o.cutoffCents), 18.f);
    EXPECT_LE(std::fabs(o.timeOffset), 0.04f);
    EXPECT_LE(std::fabs(o.gainDb), 0.35f);
    EXPECT_GE(o.startDelay, 0.f);
    EXPECT_LE(o.startDelay, 0.3f * 0.001f * 96000.f + 1e-3f);
  }
}

TEST(AnalogDrift, PitchWalkIsBoundedAndRepeatsAfterAReset) {
  uint32_t seed = 0;
  float walk = 0.f;
  float lo = 0.f;
  float hi = 0.f;
  float first[16];
  for (int b = 0; b < 200000; ++b) {
    walk = analogWalkStep(seed, walk, 3, analogWalkDecay(44100.f));
    if (b < 16) first[b] = walk;
    lo = std::min(lo, walk);
    hi = std::max(hi, walk);
  }
  EXPECT_GE(lo, -2.f);
  EXPECT_LE(hi, kAnalogDriftMaxCents);
  EXPECT_LT(lo, -1.f);  // the walk really moves
  EXPECT_GT(hi, 1.f);
  EXPECT_EQ(analogSeedForVoice(3) & 1u, 1u);
  // A cleared voice (seed 0, walk 0) walks the same way again.
  seed = 0;
  walk = 0.f;
  for (int b = 0; b < 16; ++b) {
    walk = analogWalkStep(seed, walk, 3, analogWalkDecay(44100.f));
    ASSERT_EQ(walk, first[b]);
  }
}

TEST(AnalogDrift, PickAmongHarmonicTargets) {
  const DriftTargets none;
  // Ratio 2 over one octave: 1.0, 1.333, 1.5, 2.0, 2.5, 3.0 and 4.0.
  EXPECT_EQ(pickDriftTarget(none, 0, 2.0, 1.0), 3.0);
  std::set<double> picked;
  for (int v = -1; v < 64; ++v) picked.insert(pickDriftTarget(none, v, 2.0, 1.0));
  EXPECT_EQ(picked, (std::set<double>{1.0, 1.333, 1.5, 2.0, 2.5, 3.0, 4.0}));
  // No candidate in range keeps the ratio.
  EXPECT_EQ(pickDriftTarget(none, 2, 13.0, 0.1), 13.0);
  // A tuning's table replaces the harmonic one.
  DriftTargets tuned;
  tuned.values[0] = 1.1;
  tuned.values[1] = 7.0;
  tuned.count = 2;
  EXPECT_EQ(pickDriftTarget(tuned, 5, 1.0, 0.5), 1.1);
}

TEST(AnalogDrift, DriftGlidesTowardPickedTargets) {
  const DriftTargets none;
  DriftClock clock;
  EXPECT_EQ(driftStep(clock, none, 0, 2.0, 0.0, 48000.f), 1.f);
  EXPECT_TRUE(clock.needsInit);
  float lo = 10.f;
  float hi = 0.f;
  for (int b = 0; b < 100000; ++b) {
    const float m = driftStep(clock, none, 0, 2.0, 1.0, 48000.f);
    lo = std::min(lo, m);
    hi = std::max(hi, m);
  }
  EXPECT_GE(lo, 0.5f);
  EXPECT_LE(hi, 2.f);
  EXPECT_NE(lo, hi);
  // A ratio outside every candidate range glides the multiplier back to 1.
  for (int b = 0; b < 200000; ++b) driftStep(clock, none, 0, 14.9, 0.01, 48000.f);
  EXPECT_NEAR(clock.ratio, 1.f, 1e-3f);  // float steps stall just short of 1
}

TEST(AnalogDrift, BadRatiosNeverPoisonTheDrift) {
  EXPECT_EQ(sanitizeDriftRatio(std::nan("")), 1.0);
  EXPECT_EQ(sanitizeDriftRatio(0.0), 0.5);
  EXPECT_EQ(sanitizeDriftRatio(1e300), 16.0);
  const DriftTargets none;
  for (double ratio : {0.0, -4.0, std::nan(""), 1e300}) {
    DriftClock clock;
    for (int b = 0; b < 50000; ++b) {
      const float m = driftStep(clock, none, 1, ratio, 1.0, 44100.f);
      ASSERT_TRUE(std::isfinite(m)) << ratio;
    }
  }
}

TEST(AnalogDrift, ClearKeepsRateAndStopsTheGlide) {
  const DriftTargets none;
  DriftClock clock;
  for (int b = 0; b < 50000; ++b) driftStep(clock, none, 2, 2.0, 1.0, 48000.f);
  const float rate = clock.rate;
  ASSERT_GT(clock.coeff, 0.f);
  clock.clear();
  EXPECT_TRUE(clock.needsInit);
  EXPECT_EQ(clock.ratio, 1.f);
  EXPECT_EQ(clock.rate, rate);
  EXPECT_EQ(clock.coeff, 0.f);
}

double equalTempered(int n) {
  return 440.0 * std::exp2((n - 69) / 12.0);
}

TEST(AnalogDrift, TargetsFromATuning) {
  DriftTargets t;
  int calls = 0;
  auto freq = [&calls](int n) {
    ++calls;
    return equalTempered(n);
  };
  recomputeDriftTargets(t, 7, true, freq);
  ASSERT_EQ(t.count, 32);  // notes 48 .. 79
  EXPECT_NEAR(t.values[0], 0.5, 1e-12);
  EXPECT_NEAR(t.values[31], std::exp2(19 / 12.0), 1e-12);
  for (int i = 1; i < t.count; ++i) EXPECT_LT(t.values[i - 1], t.values[i]);
  // The same generation builds nothing again.
  calls = 0;
  recomputeDriftTargets(t, 7, true, freq);
  EXPECT_EQ(calls, 0);
  // Without a tuning the harmonic targets apply.
  recomputeDriftTargets(t, 8, false, freq);
  EXPECT_EQ(t.count, 0);
  // Bad frequencies are skipped; duplicates of a ratio count once.
  recomputeDriftTargets(t, 9, true, [](int n) { return n == 61 ? std::nan("") : (n < 60 ? 0.0 : 100.0); });
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(t.values[0], 1.0);
}

TEST(AnalogDrift, CutoffSnap) {
  // Without ratio steps the cutoff passes, clamped to the audio range.
  EXPECT_EQ(snapCutoffToHarmonic(nullptr, 0, 100.f, 30000.f), 20000.f);
  EXPECT_EQ(snapCutoffToHarmonic(nullptr, 0, 100.f, 1234.f), 1234.f);
  EXPECT_EQ(snapCutoffToHarmonic(nullptr, 0, 100.f, std::nanf("")), 20.f);
  const double steps[] = {1.0, 1.5};
  EXPECT_NEAR(snapCutoffToHarmonic(steps, 2, 100.f, 290.f), 300.f, 1e-3f);
  EXPECT_NEAR(snapCutoffToHarmonic(steps, 2, 100.f, 70.f), 75.f, 1e-3f);
  EXPECT_EQ(snapCutoffToHarmonic(steps, 2, 1.f, 290.f), 290.f);
  const double high[] = {1.5};
  EXPECT_EQ(snapCutoffToHarmonic(high, 1, 15000.f, 19000.f), 20000.f);
}

}  // namespace
