#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/Lfo.h"

namespace {

constexpr float kRate = 48000.f;
constexpr int kBlock = 64;

double bloomAt(double p) {
  return 0.5 + 0.5 * std::sin(2.0 * M_PI * p);
}

TEST(Lfo, RateConversionsAndParameterRounding) {
  EXPECT_FLOAT_EQ(LFO::rateToHz(0.5f), 1.f);
  EXPECT_EQ(LFO::rateToDivIndex(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(LFO::rateToDivIndex(7.f), 11);
  EXPECT_EQ(LfoSettings::fromParams(0, 12.0, 0, 0, 0).pattern, 9);
  EXPECT_EQ(LfoSettings::fromParams(0, std::nan(""), 0, 0, 0).pattern, 0);
  EXPECT_FALSE(LfoSettings::fromParams(0, 0, 0, 0, 1.5).tempoLocked);  // "Sync" mode 2 runs free
  EXPECT_FALSE(LfoSettings::fromParams(0, 0, 0, 0, std::nan("")).tempoLocked);
  const LfoSettings s = LfoSettings::fromParams(std::nan(""), 0, 0, 3.0, 0);
  EXPECT_EQ(s.rate, 0.f);
  EXPECT_EQ(s.phaseOffset, 1.f);
}

TEST(Lfo, FirstBlockOfBloomFreeAndLocked) {
  LFO free;
  EXPECT_NEAR(free.process(1.f, 0, false, kBlock, kRate, 0.f), bloomAt(64.0 / 48000.0), 1e-6);
  EXPECT_NEAR(free.process(1.f, 0, false, kBlock, kRate, 0.25f), bloomAt(128.0 / 48000.0 + 0.25), 1e-6);

  // Division 6 is half a beat; at 120 BPM one block moves 64/24000 of a beat.
  LFO locked;
  const double cycles = (64.0 / 48000.0) / 0.5 / 0.5;
  EXPECT_NEAR(locked.processSync(6, 120.f, 0, false, kBlock, kRate, 0.f, 0.0, true), bloomAt(cycles), 1e-6);
  EXPECT_NEAR(locked.processSync(6, 120.f, 0, false, kBlock, kRate, 0.f, 3.1, true),
              bloomAt(std::fmod(3.1 / 0.5 + cycles, 1.0)), 2e-6);
}

TEST(Lfo, FirstBlockOfScatter) {
  LFO lfo;
  const float v = lfo.process(LFO::rateToHz(0.5f), 3, false, kBlock, kRate, 0.f);
  EXPECT_NEAR(lfo.points[0], 0.175726f, 1e-6f);
  EXPECT_NEAR(lfo.points[1], 0.311502f, 1e-6f);
  EXPECT_NEAR(lfo.points[2], 0.220099f, 1e-6f);
  EXPECT_NEAR(lfo.points[3], 0.179357f, 1e-6f);
  EXPECT_NEAR(v, 0.311711f, 1e-6f);
  EXPECT_EQ(lfo.lastSegment, 0);
}

TEST(Lfo, ScatterRenewsPointsPerSegmentStep) {
  LFO lfo;
  lfo.shape(3, 0.01f);
  LFO expected = lfo;
  // One segment on draws one point.
  lfo.shape(3, 0.13f);
  const float next = expected.nextRandom();
  EXPECT_EQ(lfo.points[3], next);
  EXPECT_EQ(lfo.points[2], expected.points[3]);
  // A wrap from the last segment to the first renews all four points.
  lfo.shape(3, 0.9f);
  expected = lfo;
  lfo.shape(3, 0.05f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lfo.points[i], expected.nextRandom());
  // A NaN phase lands in segment 0 instead of reaching the integer conversion.
  lfo.shape(3, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(lfo.lastSegment, 0);
}

TEST(Lfo, EveryPatternStaysUnipolar) {
  for (int pattern = 0; pattern < 10; ++pattern) {
    LFO lfo;
    for (int i = 0; i < 4000; ++i) {
      const float p = static_cast<float>(i) / 4000.f;
      const float v = lfo.shape(pattern, lfo.syncWarp(pattern, p));
      ASSERT_GE(v, 0.f) << pattern << " " << p;
      ASSERT_LE(v, 1.f) << pattern << " " << p;
    }
  }
  LFO lfo;
  EXPECT_EQ(lfo.shape(10, 0.3f), 0.f);
  EXPECT_EQ(lfo.shape(-1, 0.3f), 0.f);
  // "spiral" and "tide" fade into 0.5 at the cycle end so the wrap has no step.
  EXPECT_NEAR(lfo.shape(1, 0.99999f), 0.5f, 1e-4f);
  EXPECT_NEAR(lfo.shape(7, 0.99999f), 0.5f, 1e-4f);
}

TEST(Lfo, SyncWarpInterpolatesBetweenBreakpoints) {
  const LFO lfo;
  EXPECT_FLOAT_EQ(lfo.syncWarp(1, 0.625f), 0.5f * (0.4636f + 0.7725f));
  EXPECT_FLOAT_EQ(lfo.syncWarp(0, 0.3f), 0.3f);
  EXPECT_FLOAT_EQ(LFO::pwlWarp(0.4f, nullptr, nullptr, 0), 0.4f);
}

TEST(Lfo, SlewUsesAtLeastEightPerSecond) {
  LFO lfo;
  lfo.phase = 0.25f - 64.f * 0.05f / kRate;  // lands on the bloom peak
  const float v = lfo.process(0.05f, 0, true, kBlock, kRate, 0.f);
  EXPECT_NEAR(v, 1.f - std::exp(-8.0 * 64.0 / 48000.0), 1e-6);
  LFO fast;
  fast.phase = 0.25f - 64.f * 20.f / kRate;
  EXPECT_NEAR(fast.process(20.f, 0, true, kBlock, kRate, 0.f), 1.f - std::exp(-80.0 * 64.0 / 48000.0), 1e-5);
}

TEST(Lfo, TempoFallbacks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  LFO a;
  LFO b;
  EXPECT_EQ(a.processSync(3, nan, 0, true, kBlock, kRate, 0.f, 1.5, true),
            b.processSync(3, 120.f, 0, true, kBlock, kRate, 0.f, 1.5, true));
  LFO c;
  LFO d;
  EXPECT_EQ(c.processSync(3, 10.f, 0, false, kBlock, kRate, 0.f, 1.5, true),
            d.processSync(3, 20.f, 0, false, kBlock, kRate, 0.f, 1.5, true));
  EXPECT_EQ(LFO::effectiveTempo(-3.0), 120.0);
  // A song position that is not finite leaves the locked LFO running free and bounded.
  LFO e;
  const float v = e.processSync(3, 120.f, 3, false, kBlock, kRate, 0.f, std::nan(""), true);
  EXPECT_GE(v, 0.f);
  EXPECT_LE(v, 1.f);
}

TEST(Lfo, StoppedLockedLfoRunsFreeAtTheDivisionRate) {
  // Division 5 is one beat: 2 Hz at 120 BPM.
  LFO locked;
  LFO free;
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(locked.processSync(5, 120.f, 4, false, kBlock, kRate, 0.1f, 0.0, false),
              free.process(2.f, 4, false, kBlock, kRate, 0.1f));
  }
}

// A free LFO keeps its rate's frequency between blocks: every rate change must still reach it.
TEST(Lfo, FreeBlocksFollowRateChanges) {
  LFO byBlock;
  LFO reference;
  for (const float rate : {0.5f, 0.5f, 0.9f, 0.9f, 0.f, 0.5f}) {
    const LfoSettings settings{rate, 0, false, 0.f, false};
    EXPECT_EQ(byBlock.runBlock(settings, LfoTransport{}, kBlock, kRate),
              reference.process(LFO::rateToHz(rate), 0, false, kBlock, kRate, 0.f));
    EXPECT_EQ(byBlock.phase, reference.phase);
  }
}

TEST(Lfo, FreeRunningPhaseWraps) {
  LFO lfo;
  for (int i = 0; i < 10000; ++i) {
    lfo.process(20.f, 0, false, kBlock, kRate, 0.99f);
    ASSERT_GE(lfo.phase, 0.f);
    ASSERT_LT(lfo.phase, 1.f);
  }
}

}  // namespace
