#include <gtest/gtest.h>

#include <cmath>

#include "engine/VoiceMix.h"

namespace {

TEST(PanLaw, CentreAndHardSides) {
  EXPECT_EQ(panLaw(0.0f, 1.0f).right, 1.0f);
  const StereoGains left = panLaw(-1.0f, 0.5f);
  EXPECT_NEAR(left.left, 0.5f * 1.18992f, 1e-5f);
  EXPECT_LT(std::fabs(left.right), 1e-6f);
  EXPECT_NEAR(panLaw(std::nanf(""), 1.0f).left, 1.18992f, 1e-5f);  // NaN is hard left
  EXPECT_EQ(panLaw(3.0f, 1.0f).right, panLaw(1.0f, 1.0f).right);
}

TEST(VoiceSumGain, FirstTargetAtOnceThenEightMillisecondRamp) {
  VoiceSumGain g;
  g.setVoiceCount(1, 48000.0);
  g.setVoiceCount(0, 48000.0);  // 0 counts as 1: unchanged
  EXPECT_EQ(g.step, 0.0f);

  g.setVoiceCount(8, 48000.0);
  const float target = 1.0f / std::pow(8.0f, 0.35f);
  EXPECT_NEAR(g.step, (target - 1.0f) / 384.0f, 1e-9f);
  int samples = 0;
  float previous = 1.0f;
  while (g.step != 0.0f && samples < 1000) {
    ml::DSPVector l(1.0f), r(1.0f);
    g.apply(l, r);
    for (size_t i = 0; i < 64; ++i) {
      EXPECT_LE(l[i], previous);
      EXPECT_GE(l[i], target);
      EXPECT_EQ(l[i], r[i]);
      previous = l[i];
    }
    samples += 64;
  }
  // 384 steps, give or take one for float accumulation: done in the sixth or seventh block.
  EXPECT_GE(samples, 384);
  EXPECT_LE(samples, 448);
  EXPECT_EQ(g.current, target);
}

}  // namespace
