#include "engine/voice/Wavefolder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kHalfPi = 1.5707964f;

TEST(Wavefolder, LockhartCurve) {
  EXPECT_NEAR(kLockRaw0, 0.0191534f, 1e-7f);
  EXPECT_EQ(lockhartFold(0.f), 0.f);
  EXPECT_NEAR(lockhartFold(kHalfPi), 0.980847f, 1e-6f);
  EXPECT_NEAR(lockhartFold(-kHalfPi), -0.980847f, 1e-6f);
  for (float x = -20.f; x < 20.f; x += 0.01f) {
    ASSERT_LE(std::fabs(lockhartFold(x)), 0.98085f);
    ASSERT_NEAR(lockhartFold(x), -lockhartFold(-x), 1e-6f);
  }
  EXPECT_NEAR(lambertW0pos(0.f), 0.f, 1e-9f);
  EXPECT_NEAR(lambertW0pos(2.7182817f), 0.980847f, 1e-6f);
}

TEST(Wavefolder, SergeCurve) {
  EXPECT_EQ(sergeFold(0.f), 0.f);
  EXPECT_FLOAT_EQ(sergeFold(1.f), sinf(1.6f * tanhf(1.f / 1.6f)));
  for (float x = -50.f; x < 50.f; x += 0.05f) ASSERT_LE(std::fabs(sergeFold(x)), 1.f);
}

TEST(Wavefolder, CharacterMorph) {
  for (float x : {-2.3f, -0.4f, 0.7f, 3.1f}) {
    const float s = sinf(x);
    const float serge = 0.697744f * sergeFold(x);
    const float lock = 1.612524f * lockhartFold(x);
    EXPECT_EQ(foldCharMorph(x, s, 0.f), s);
    EXPECT_EQ(foldCharMorph(x, s, -1.f), s);
    EXPECT_FLOAT_EQ(foldCharMorph(x, s, 0.25f), 0.5f * (s + serge));
    EXPECT_FLOAT_EQ(foldCharMorph(x, s, 0.5f), serge);
    EXPECT_FLOAT_EQ(foldCharMorph(x, s, 0.75f), 0.5f * (serge + lock));
    EXPECT_NEAR(foldCharMorph(x, s, 1.f), lock, 1e-6f);
  }
}

}  // namespace
