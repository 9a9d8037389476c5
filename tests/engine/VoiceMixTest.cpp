#include <gtest/gtest.h>

#include <cmath>

#include "engine/VoiceMix.h"

namespace {

TEST(PanLaw, CentreAndHardSides) {
  const StereoGains centre = panLaw(0.0f, 1.0f);
  EXPECT_EQ(centre.left, 1.0f);
  EXPECT_EQ(centre.right, 1.0f);
  const StereoGains right = panLaw(1.0f, 1.0f);
  EXPECT_LT(std::fabs(right.left), 1e-6f);
  EXPECT_NEAR(right.right, 1.18992f, 1e-5f);
  const StereoGains left = panLaw(-1.0f, 0.5f);
  EXPECT_NEAR(left.left, 0.5f * 1.18992f, 1e-5f);
  EXPECT_LT(std::fabs(left.right), 1e-6f);
  const StereoGains nan = panLaw(std::nanf(""), 1.0f);
  EXPECT_NEAR(nan.left, 1.18992f, 1e-5f);
  EXPECT_LT(std::fabs(nan.right), 1e-6f);
  const StereoGains beyond = panLaw(3.0f, 1.0f);
  EXPECT_EQ(beyond.right, right.right);
}

TEST(VoiceSumGain, FirstTargetAtOnceThenEightMillisecondRamp) {
  VoiceSumGain g;
  g.setVoiceCount(1, 48000.0);
  EXPECT_EQ(g.current, 1.0f);
  EXPECT_EQ(g.step, 0.0f);
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

  ml::DSPVector l(2.0f), r(2.0f);
  g.apply(l, r);
  EXPECT_EQ(l[0], 2.0f * target);
}

}  // namespace
