#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "foundation/MLDSPGens.h"

namespace {

using ml::DSPVector;

TEST(PhasorGen, QuarterCycleSequenceWrapsExactly) {
  ml::PhasorGen p;
  const DSPVector out = p(DSPVector(0.25f));
  const float expected[] = {0.25f, 0.5f, 0.75f, 0.0f};
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(out[i], expected[i % 4]) << i;
  EXPECT_EQ(p.phase, 0u);
}

TEST(PhasorGen, NegativeFrequencyFallsAndNyquistJumpsHalfACycle) {
  ml::PhasorGen p;
  const DSPVector down = p(DSPVector(-0.25f));
  EXPECT_TRUE(down[0] == 0.75f && down[1] == 0.5f);
  p.clear();
  const DSPVector nyq = p(DSPVector(0.5f));  // overflows to 0x80000000 per sample
  EXPECT_TRUE(nyq[0] == 0.5f && nyq[1] == 0.0f);
}

TEST(PhasorToSine, KnownValuesAreExactFloats) {
  DSPVector ph;
  const float phases[] = {0.0f, 0.25f, 0.5f, 0.75f, 0.5f + 1.0f / 1024.0f};
  for (size_t i = 0; i < 5; ++i) ph[i] = phases[i];
  const DSPVector y = ml::phasorToSine(ph);
  EXPECT_EQ(std::bit_cast<uint32_t>(y[0]), 0xBF7FFFFFu);
  EXPECT_EQ(y[1], 0.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(y[2]), 0x3F7FFFFFu);
  EXPECT_EQ(std::bit_cast<uint32_t>(y[3]), 0xB487C3B6u);
  EXPECT_LT(y[4], y[2]);
  EXPECT_GT(y[4], 0.9999f);
}

TEST(PhasorToSine, StaysCloseToNegativeCosine) {
  DSPVector ph;
  for (size_t i = 0; i < 64; ++i) ph[i] = float(i) / 64.0f;
  const DSPVector y = ml::phasorToSine(ph);
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_NEAR(y[i], -std::cos(2.0 * M_PI * ph[i]), 0.03) << i;
    EXPECT_LE(std::fabs(y[i]), 1.0f);
  }
}

// The four-lane kernels against a plain one-sample-at-a-time form of the same arithmetic.
TEST(DSPGens, VectorKernelsMatchPlainReference) {
  const float s = std::bit_cast<float>(0x3FB50505u);
  const float c = std::bit_cast<float>(0x3F87C3B6u);
  const float sixth = std::bit_cast<float>(0x3E2AAAABu);
  for (int block = 0; block < 16; ++block) {
    DSPVector ph;
    for (size_t i = 0; i < 64; ++i) ph[i] = float(block * 64 + int(i)) / 1024.0f;
    const DSPVector y = ml::phasorToSine(ph);
    for (size_t i = 0; i < 64; ++i) {
      const float x = ph[i] * std::bit_cast<float>(0x40B50505u) + -s;
      const float t = x > s ? std::bit_cast<float>(0x40350505u) - x : x;
      EXPECT_EQ(std::bit_cast<uint32_t>(y[i]), std::bit_cast<uint32_t>((c * t) * (1.0f - (t * t) * sixth)));
    }
  }
  ml::PhasorGen p;
  uint32_t phase = 0;
  DSPVector freq;
  for (size_t i = 0; i < 64; ++i) freq[i] = (float(i) - 32.0f) * 0.0151f;
  for (int block = 0; block < 4; ++block) {
    const DSPVector out = p(freq);
    for (size_t i = 0; i < 64; ++i) {
      phase += static_cast<uint32_t>(ml::simd::lane::roundToInt(freq[i] * 4294967296.0f));
      EXPECT_EQ(out[i], ml::simd::lane::unsignedToFloat(int32_t(phase)) * 2.3283064e-10f);
    }
  }
}

TEST(SineGen, StartsAtZeroAndFallsAfterClear) {
  ml::SineGen s;
  s.clear();
  const DSPVector y = s(DSPVector(0.001f));
  EXPECT_LT(y[0], 0.0f);
  EXPECT_GT(y[0], -0.01f);
  EXPECT_LT(y[1], y[0]);
}

TEST(NoiseGen, SeedSequenceAndRange) {
  ml::NoiseGen n;
  n.step();
  n.step();
  EXPECT_EQ(n.seed, 1013904223u * 1664525u + 1013904223u);
  n.reset();
  const DSPVector a = n();
  double sum = 0.0;
  for (size_t i = 0; i < 64; ++i) {
    ASSERT_TRUE(a[i] >= -1.0f && a[i] < 1.0f) << i;
    sum += a[i];
  }
  // First sample: b = 1 + (1013904223 >> 9) / 2^23.
  const float b0 = std::bit_cast<float>(0x3F800000u | (1013904223u >> 9));
  EXPECT_EQ(a[0], b0 + b0 - 3.0f);
  EXPECT_LT(std::fabs(sum / 64.0), 0.25);
  // Every sample of two blocks is the one a single step per sample gives, and the seed follows.
  ml::NoiseGen single;
  n.reset();
  for (int block = 0; block < 2; ++block) {
    const DSPVector row = n();
    for (size_t i = 0; i < 64; ++i) {
      single.step();
      const float b = std::bit_cast<float>(0x3F800000u | (single.seed >> 9));
      ASSERT_EQ(row[i], b + b - 3.0f) << block << " " << i;
    }
    EXPECT_EQ(n.seed, single.seed);
  }
}

TEST(OnePole, CoefficientsAndStep) {
  const auto hold = ml::OnePole::makeCoeffs(0.0f);
  ml::OnePole lp;
  lp.setCoeffs(ml::OnePole::makeCoeffs(0.01f));
  EXPECT_EQ(lp.b1, std::exp(0.01f * -6.2831855f));
  EXPECT_EQ(lp(DSPVector(1.0f))[0], lp.a0);
  DSPVector out;
  for (int block = 0; block < 20; ++block) out = lp(DSPVector(1.0f));
  EXPECT_NEAR(out[63], 1.0f, 1e-5f);  // settles on a step
  lp.setCoeffs(hold);
  const DSPVector held = lp(DSPVector(5.0f));
  EXPECT_EQ(held[63], out[63]);
}

TEST(PitchToFrequency, EqualTemperament) {
  EXPECT_EQ(ml::pitchToFrequency(69.0f), 440.0f);
  EXPECT_NEAR(ml::pitchToFrequency(60.0f), 261.6256f, 1e-3f);
}

}  // namespace
