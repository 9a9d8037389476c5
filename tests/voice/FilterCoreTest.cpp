#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "KernelMeasure.h"
#include "engine/voice/FilterLadder.h"
#include "engine/voice/FilterNonlinear.h"
#include "engine/voice/FilterSaturation.h"
#include "engine/voice/FilterSvf.h"

namespace {

using kernel_test::sineGain;
using kernel_test::toDb;

constexpr double kSr = 48000.0;

using FilterCore = kernel_test::FlushedHalfbandTest;

// Gain of the clean core at hz for a set cutoff (calibrated to the value the voice would use).
double cleanGain(float cutoffHz, float resonance, int mode, double hz) {
  float ic1 = 0.f, ic2 = 0.f;
  const float f = cutoffHz / float(kSr);
  const float k = std::max(1.f - resonance, 0.05f);
  return sineGain([&](float x) { return svfMultimode(x, f, k, mode, ic1, ic2); }, hz, kSr, 0.5f, 0.5);
}

TEST_F(FilterCore, TanhApproximationIsCloseEverywhere) {
  for (float x = -12.f; x <= 12.f; x += 0.000913f) EXPECT_NEAR(tanhApprox(x), std::tanh(x), 5e-7f) << x;
  // Relative error within 1e-6 from the smallest normal inputs up to 12 (the fold reaches 11.8).
  for (float x = 1e-20f; x <= 12.f; x *= 1.0009f) {
    for (const float sx : {x, -x}) {
      const double t = std::tanh(double(sx));
      ASSERT_LE(std::fabs(double(tanhApprox(sx)) - t), 1e-6 * std::fabs(t)) << sx;
    }
  }
  EXPECT_NEAR(tanhApprox(1e30f), 1.f, 5e-7f);
  EXPECT_NEAR(tanhApprox(std::nanf("")), -1.f, 5e-7f);
}

TEST_F(FilterCore, SaturationCurves) {
  EXPECT_NEAR(analogSat(0.f, 0.3f), 0.3f, 1e-7f);
  EXPECT_NEAR(analogSat(0.5f, 0.2f), std::tanh(0.5f) + 0.2f * (1.f - std::tanh(0.5f) * std::tanh(0.5f)),
              1e-6f);
  EXPECT_EQ(analogSoftClip(3.f), 1.f);
  EXPECT_EQ(analogSoftClip(-10.f), -1.f);
  EXPECT_FLOAT_EQ(analogSoftClip(1.f), 28.f / 36.f);
  const DriveShaper shaper{0.6f};
  EXPECT_FLOAT_EQ(shaper(-0.5f), -(0.6f * 0.25f + 0.5f) / 1.6f);
}

TEST_F(FilterCore, CleanLowPassMinus3dBNearTheCalibratedCutoff) {
  // A set cutoff of 1 kHz reaches the core as 783 Hz; with resonance 0 (k = 1) the -3 dB point
  // lies 1.272 times higher, at about 996 Hz.
  double lo = 800.0, hi = 1300.0;
  for (int it = 0; it < 14; ++it) {
    const double mid = 0.5 * (lo + hi);
    (toDb(cleanGain(783.f, 0.f, kFilterLowPass, mid)) > -3.0103 ? lo : hi) = mid;
  }
  EXPECT_NEAR(lo, 996.0, 8.0);
  EXPECT_NEAR(toDb(cleanGain(783.f, 0.f, kFilterLowPass, 50.0)), 0.0, 0.05);
  EXPECT_NEAR(toDb(cleanGain(783.f, 0.f, kFilterHighPass, 15000.0)), 0.0, 0.2);
  EXPECT_LT(toDb(cleanGain(783.f, 0.f, kFilterNotch, 783.0)), -40.0);
  EXPECT_NEAR(toDb(cleanGain(783.f, 0.f, kFilterBandPass, 783.0)), 0.0, 0.1);
}

TEST_F(FilterCore, CleanResonantPeakAtResonanceSevenTenths) {
  // k = 0.3: a peak of about 1/k (10.5 dB) just below the core's cutoff.
  double bestHz = 0.0, bestDb = -100.0;
  for (double hz = 600.0; hz <= 900.0; hz += 5.0) {
    const double db = toDb(cleanGain(783.f, 0.7f, kFilterLowPass, hz));
    if (db > bestDb) bestDb = db, bestHz = hz;
  }
  EXPECT_NEAR(bestDb, 10.5, 0.6);
  EXPECT_NEAR(bestHz, 765.0, 20.0);
}

TEST_F(FilterCore, BlendMatchesTheModesAtItsEnds) {
  float a1 = 0.f, a2 = 0.f, b1 = 0.f, b2 = 0.f, c1 = 0.f, c2 = 0.f;
  for (int i = 0; i < 500; ++i) {
    const float x = std::sin(0.05f * float(i));
    const float lp = svfMultimode(x, 0.02f, 0.5f, kFilterLowPass, a1, a2);
    const float hp = svfMultimodeBlend(x, 0.02f, 0.5f, kFilterLowPass, kFilterHighPass, 1.f, b1, b2);
    const float half = svfMultimodeBlend(x, 0.02f, 0.5f, kFilterLowPass, kFilterHighPass, 0.5f, c1, c2);
    EXPECT_EQ(a1, b1);
    EXPECT_NEAR(half, 0.5f * (lp + hp), 1e-5f);
  }
}

// Gain in dB of the nonlinear core (low-pass, k = 1) at a quarter of its cutoff for a sine of amplitude amp.
double nonlinearGainDb(float cutoff, float drive, float amp) {
  NLFilterOSState s;
  const float f = cutoff / float(kSr);
  return toDb(sineGain([&](float x) { return nlSvf4x(x, f, 1.f, kFilterLowPass, drive, s); }, cutoff / 4.0,
                       kSr, amp, 0.5));
}

TEST_F(FilterCore, NonlinearCorePassesSmallSignalsAndCompressesFullScale) {
  for (float cutoff : {200.f, 1000.f, 5000.f, 15000.f}) {
    for (float drive : {0.0002f, 0.01f, 0.25f, 0.5f, 1.f})
      EXPECT_NEAR(nonlinearGainDb(cutoff, drive, 0.05f), 0.0, 5.0) << cutoff << " Hz, drive " << drive;
  }
  const double large = nonlinearGainDb(200.f, 1.f, 1.f);
  EXPECT_LT(large, nonlinearGainDb(200.f, 1.f, 0.05f) - 6.0);
  EXPECT_GT(large, -40.0);
}

TEST_F(FilterCore, NonlinearCoreStaysFiniteAtHighestResonanceInEveryMode) {
  for (int mode = 0; mode < 4; ++mode) {
    for (float f : {0.0001f, 0.01f, 0.2f, 0.49f}) {
      NLFilterOSState s;
      float peak = 0.f;
      for (int i = 0; i < 20000; ++i) {
        const float x = (i % 97 < 48) ? 1.f : -1.f;
        const float y = nlSvf4x(x, f, 0.05f, mode, 1.f, s);
        ASSERT_TRUE(std::isfinite(y)) << mode << " " << f;
        peak = std::max(peak, std::fabs(y));
      }
      EXPECT_LT(peak, 20.f) << mode << " " << f;
    }
  }
}

TEST_F(FilterCore, LadderIsSilentAtRestAndBounded) {
  LadderSelfOsc l;
  const float g = std::tan(3.1415927f * 1000.f / float(kSr));
  for (int i = 0; i < 4800; ++i) ASSERT_EQ(ladderSample(0.f, g, 4.37f, l), 0.f);
  for (int i = 0; i < 48000; ++i) {
    const float y = ladderSample(i == 0 ? 1.f : 0.f, g, 4.37f, l);
    ASSERT_TRUE(std::isfinite(y));
    for (float st : l.stage) ASSERT_LE(std::fabs(st), 6.f);
  }
}

}  // namespace
