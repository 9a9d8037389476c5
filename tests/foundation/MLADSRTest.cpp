#include <gtest/gtest.h>

#include <cmath>

#include "foundation/MLADSR.h"

namespace {

constexpr float kRate = 48000.f;

ml::ADSR makeAdsr(float attack, float decay, float sustain, float release) {
  ml::ADSR adsr;
  adsr.coeffs = ml::ADSR::calcCoeffs(attack, decay, sustain, release, kRate);
  return adsr;
}

// Runs the gate until the stage changes; returns the number of samples spent in the start stage.
int samplesInStage(ml::ADSR& adsr, float gate) {
  const int32_t start = adsr.stage;
  int n = 0;
  while (adsr.stage == start && n < 1000000) {
    adsr.processSample(gate);
    ++n;
  }
  return n - 1;
}

TEST(MLADSR, FirstAttackSamplesMatchKnownValues) {
  ml::ADSR adsr = makeAdsr(0.f, 0.1f, 0.5f, 0.1f);
  EXPECT_NEAR(adsr.coeffs.a, 0.654498f, 1e-6f);
  EXPECT_FLOAT_EQ(adsr.processSample(1.f), 0.71994841f);
  EXPECT_FLOAT_EQ(adsr.processSample(1.f), 0.96869165f);
  EXPECT_FLOAT_EQ(adsr.processSample(1.f), 1.05463278f);
  adsr.processSample(1.f);
  EXPECT_EQ(adsr.stage, ml::ADSR::kDecay);
}

TEST(MLADSR, SegmentsLastAFixedFractionOfTheirTime) {
  // Approaching 1.1 from 0 crosses 1 after ln(11) time constants: 0.382 of the nominal time.
  ml::ADSR adsr = makeAdsr(0.008f, 0.05f, 0.5f, 0.02f);
  adsr.processSample(1.f);
  const int attack = samplesInStage(adsr, 1.f) + 1;
  EXPECT_NEAR(attack, 0.008 * kRate * std::log(11.0) / (2 * M_PI), 2);
  const int decay = samplesInStage(adsr, 1.f);
  EXPECT_NEAR(decay, 0.05 * kRate * std::log(11.0) / (2 * M_PI), 3);
  EXPECT_EQ(adsr.stage, ml::ADSR::kSustain);
  for (int i = 0; i < 1000; ++i) ASSERT_FLOAT_EQ(adsr.processSample(1.f), 0.5f);
  adsr.processSample(0.f);
  EXPECT_EQ(adsr.stage, ml::ADSR::kRelease);
  const int release = samplesInStage(adsr, 0.f);
  EXPECT_NEAR(release, 0.02 * kRate * std::log(11.0) / (2 * M_PI), 3);
  EXPECT_EQ(adsr.stage, ml::ADSR::kOff);
  EXPECT_EQ(adsr.processSample(0.f), 0.f);
}

TEST(MLADSR, GateLevelIsLatchedAtTheNoteStart) {
  ml::ADSR adsr = makeAdsr(0.001f, 0.01f, 1.f, 0.01f);
  adsr.processSample(0.5f);
  for (int i = 0; i < 2000; ++i) adsr.processSample(0.9f);
  EXPECT_EQ(adsr.amplitude, 0.5f);
  EXPECT_NEAR(adsr.processSample(0.9f), 0.5f, 1e-5f);
  // Sustain 1 stays in the decay stage at level 1.
  EXPECT_EQ(adsr.stage, ml::ADSR::kDecay);
}

TEST(MLADSR, DecaySettlesAtFullSustain) {
  for (float sustain : {1.f, 0.9999995f, 0.99999f}) {
    ml::ADSR adsr = makeAdsr(0.001f, 0.01f, sustain, 0.01f);
    int n = 0;
    adsr.processSample(1.f);
    while (adsr.stage == ml::ADSR::kAttack) adsr.processSample(1.f);
    EXPECT_FALSE(adsr.decaySettled());
    while (!adsr.decaySettled() && adsr.stage == ml::ADSR::kDecay && n < 48000) {
      adsr.processSample(1.f);
      ++n;
    }
    // Either the decay settled or it crossed into sustain, in well under a second.
    EXPECT_LT(n, 48000) << sustain;
  }
  ml::ADSR adsr = makeAdsr(0.001f, 0.2f, 0.5f, 0.01f);
  for (int i = 0; i < 200; ++i) adsr.processSample(1.f);
  ASSERT_EQ(adsr.stage, ml::ADSR::kDecay);
  EXPECT_FALSE(adsr.decaySettled());
}

TEST(MLADSR, ReleaseDuringAttackAimsBelowZeroAndEnds) {
  ml::ADSR adsr = makeAdsr(0.05f, 0.05f, 0.6f, 0.01f);
  for (int i = 0; i < 100; ++i) adsr.processSample(1.f);
  adsr.processSample(0.f);
  EXPECT_FLOAT_EQ(adsr.overshootTarget, -0.06f);
  float out = 1.f;
  for (int i = 0; i < 1000 && adsr.stage != ml::ADSR::kOff; ++i) {
    out = adsr.processSample(0.f);
    EXPECT_GE(out, 0.f);
  }
  EXPECT_EQ(adsr.stage, ml::ADSR::kOff);
  EXPECT_EQ(out, 0.f);
}

TEST(MLADSR, ReleaseToSustainZeroReachesOff) {
  const float releaseTime = 0.1f;
  ml::ADSR adsr = makeAdsr(0.001f, 0.5f, 0.f, releaseTime);
  for (int i = 0; i < 200; ++i) adsr.processSample(1.f);
  ASSERT_EQ(adsr.stage, ml::ADSR::kDecay);
  // The release segment starts from sustain 0 and aims at 0, so only the end level stops it.
  int n = 0;
  while (adsr.stage != ml::ADSR::kOff && n < 3 * releaseTime * kRate) {
    adsr.processSample(0.f);
    ++n;
  }
  EXPECT_EQ(adsr.stage, ml::ADSR::kOff);
  EXPECT_EQ(adsr.y, 0.f);
}

TEST(MLADSR, ClearForgetsAnOpenGate) {
  ml::ADSR adsr = makeAdsr(0.001f, 0.01f, 0.5f, 0.01f);
  for (int i = 0; i < 300; ++i) adsr.processSample(1.f);
  const ml::ADSR::Coeffs kept = adsr.coeffs;
  adsr.clear();
  EXPECT_EQ(adsr.y, 0.f);
  EXPECT_EQ(adsr.coeffs.s, kept.s);
  // The next note starts with a full attack from 0.
  adsr.processSample(0.8f);
  EXPECT_EQ(adsr.stage, ml::ADSR::kAttack);
  EXPECT_EQ(adsr.amplitude, 0.8f);
  // In the off stage a zero gate changes nothing.
  adsr.clear();
  adsr.gatePrev = 0.25f;
  EXPECT_EQ(adsr.processSample(0.f), 0.f);
  EXPECT_EQ(adsr.gatePrev, 0.25f);
}

}  // namespace
