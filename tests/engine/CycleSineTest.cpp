// The reverb's four-lane polynomial sine against the exact sine of the same phase.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/CycleSine.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

float sineOfCycles(float phase) {
  alignas(16) float lanes[4];
  ml::simd::storeF(lanes, sineOfCycles4(ml::simd::splat(phase)));
  return lanes[0];
}

// Largest error of sineOfCycles against sin(2 pi p) in double, relative to max(|sin|, the float step of p
// in radians): near the zeros the phase itself is only known to a float step.
double worstError(float from, float to, int steps) {
  double worst = 0.0;
  for (int i = 0; i <= steps; ++i) {
    const float p = from + (to - from) * static_cast<float>(i) / static_cast<float>(steps);
    if (!(p >= 0.0f && p < 1.0f)) continue;
    const double exact = std::sin(kTwoPi * double(p));
    const double step = kTwoPi * double(std::nextafter(p, 2.0f) - p);
    worst = std::max(worst, std::fabs(double(sineOfCycles(p)) - exact) / std::max(std::fabs(exact), step));
  }
  return worst;
}

TEST(CycleSineTest, WithinAMillionthOfTheExactSineOverTheCycle) {
  EXPECT_LT(worstError(0.0f, 1.0f, 1 << 21), 1e-6);
  // Every float around the fold points and near the cycle's ends, where r reaches its extremes (near 0
  // from a tiny normal phase: below it the product leaves the normal floats, which the engine flushes).
  for (const float at : {1e-30f, 0.25f, 0.5f, 0.75f}) {
    float p = at;
    for (int i = 0; i < 4096; ++i) p = std::nextafter(p, -1.0f);
    for (int i = 0; i < 8192; ++i, p = std::nextafter(p, 2.0f)) {
      if (p < 1e-30f) continue;
      const double exact = std::sin(kTwoPi * double(p));
      const double step = kTwoPi * double(std::nextafter(p, 2.0f) - p);
      EXPECT_LE(std::fabs(double(sineOfCycles(p)) - exact), 1e-6 * std::max(std::fabs(exact), step)) << p;
    }
  }
  EXPECT_LT(worstError(0.999f, std::nextafter(1.0f, 0.0f), 1 << 16), 1e-6);
}

TEST(CycleSineTest, LanesAreIndependent) {
  alignas(16) const float phases[4] = {0.1f, 0.6f, 0.3f, 0.95f};
  alignas(16) float lanes[4];
  ml::simd::storeF(lanes, sineOfCycles4(ml::simd::loadF(phases)));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lanes[i], sineOfCycles(phases[i])) << i;
}

TEST(CycleSineTest, ZerosAndPeaksAreExact) {
  EXPECT_EQ(sineOfCycles(0.0f), 0.0f);
  EXPECT_EQ(sineOfCycles(0.5f), 0.0f);
  EXPECT_NEAR(sineOfCycles(0.25f), 1.0f, 1e-7f);
  EXPECT_NEAR(sineOfCycles(0.75f), -1.0f, 1e-7f);
}

}  // namespace
