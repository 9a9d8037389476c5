// Output meters: block peak and RMS ballistics.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/Meters.h"

namespace {

TEST(MetersTest, BallisticsAt48kHz) {
  OutputMeters meters;
  meters.setSampleRate(48000.0f);
  const float attack = static_cast<float>(1.0 - std::exp(-1.0 / 3.75));   // 5 ms at 750 blocks a second
  const float release = static_cast<float>(1.0 - std::exp(-1.0 / 75.0));  // 100 ms

  ml::DSPVector full(1.0f), half, silence;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) half[i] = (i % 2) ? 0.5f : -0.5f;
  meters.process(full, half);
  EXPECT_EQ(meters.getPeakL(), 1.0f);
  EXPECT_EQ(meters.getPeakR(), 0.5f);
  EXPECT_FLOAT_EQ(meters.getRmsL(), attack);
  EXPECT_FLOAT_EQ(meters.getRmsR(), 0.5f * attack);

  // Rising: 5 ms attack; a steady full-scale signal reads 1 after 40 ms within 0.1 %.
  for (int b = 1; b < 30; ++b) meters.process(full, full);
  EXPECT_NEAR(meters.getRmsL(), 1.0f, 1e-3f);

  // Falling: 100 ms release, one block and then one second.
  meters.process(silence, silence);
  const float afterOne = meters.getRmsL();
  EXPECT_EQ(meters.getPeakL(), 0.0f);
  EXPECT_NEAR(afterOne, 1.0f - release, 1e-3f);
  for (int b = 0; b < 75; ++b) meters.process(silence, silence);
  EXPECT_NEAR(meters.getRmsL(), afterOne * std::exp(-1.0f), 1e-3f);
  meters.clear();
  EXPECT_EQ(meters.getRmsL(), 0.0f);
}

// Each channel's squares are summed on their own and in sample order: the first reading is exactly the
// attack share of a plain scalar sum's RMS.
TEST(MetersTest, RmsOfEachChannelMatchesAPlainSum) {
  OutputMeters meters;
  meters.setSampleRate(48000.0f);
  ml::DSPVector left, right;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    left[i] = std::sin(0.37f * static_cast<float>(i)) * (1.0f + 1e-3f * static_cast<float>(i));
    right[i] = 1e-4f * static_cast<float>(i * i % 7) - 3e-4f;
  }
  meters.process(left, right);
  const auto expected = [&](const ml::DSPVector& x) {
    float sum = 0.0f;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) sum += x[i] * x[i];
    return meters.attack * std::sqrt(sum / ml::kFloatsPerDSPVector);
  };
  EXPECT_EQ(meters.getRmsL(), expected(left));
  EXPECT_EQ(meters.getRmsR(), expected(right));
}

}  // namespace
