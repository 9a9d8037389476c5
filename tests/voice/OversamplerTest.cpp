#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <thread>
#include <vector>

#include "KernelMeasure.h"
#include "engine/voice/FilterSaturation.h"
#include "engine/voice/Oversampler2x.h"
#include "engine/voice/PMOversampler.h"

namespace {

using Halfband = kernel_test::HalfbandTest;

// Magnitude of the shared half-band filter at f cycles per sample of its own rate.
double halfbandMagnitude(double f) {
  std::complex<double> h{0.0, 0.0};
  for (int n = 0; n < Oversampler2x::kTaps; ++n) {
    h += double(Oversampler2x::sTaps[n]) * std::polar(1.0, -6.283185307179586 * f * n);
  }
  return std::abs(h);
}

TEST_F(Halfband, ResponseHalvesAtAQuarterAndRejectsTheStopband) {
  EXPECT_NEAR(20.0 * std::log10(halfbandMagnitude(0.25)), -6.02, 0.01);
  for (double f = 0.425; f <= 0.5; f += 0.0025) {
    EXPECT_LE(20.0 * std::log10(halfbandMagnitude(f)), -73.0) << f;
  }
  EXPECT_NEAR(halfbandMagnitude(0.0), 1.0, 1e-6);
}

TEST_F(Halfband, ConcurrentBuildsAgreeAndLaterCallsChangeNothing) {
  float before[15];
  for (int n = 0; n < 15; ++n) before[n] = Oversampler2x::sTaps[n];
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([] { Oversampler2x::initHalfband(); });
  for (auto& t : threads) t.join();
  for (int n = 0; n < 15; ++n) EXPECT_EQ(Oversampler2x::sTaps[n], before[n]);
}

TEST_F(Halfband, Oversampler2xPassesDcAtUnityWithSixAndAHalfSamplesOfDelay) {
  Oversampler2x os;
  auto identity = [](float u) { return u; };
  float y = 0.f;
  for (int i = 0; i < 64; ++i) y = os.process(1.f, identity);
  EXPECT_NEAR(y, 1.f, 1e-6f);

  os.clear();
  double sum = 0.0, moment = 0.0;
  for (int i = 0; i < 32; ++i) {
    const double h = os.process(i == 0 ? 1.f : 0.f, identity);
    sum += h;
    moment += h * i;
  }
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_NEAR(moment / sum, 6.5, 1e-4);
}

// The 2x oversampler written out directly: zero-stuffed ring convolutions over all non-zero taps.
struct ReferenceOversampler {
  float up[15]{}, down[15]{};
  int upIdx = 0, downIdx = 0;

  static float convolve(const float* ring, int idx, float gain) {
    float acc = 0.f;
    for (int j : {0, 2, 4, 6, 7, 8, 10, 12, 14})
      acc += gain * Oversampler2x::sTaps[j] * ring[(idx - 1 - j + 15) % 15];
    return acc;
  }
  template <typename Shaper>
  float process(float x, Shaper shaper) {
    for (int k = 0; k < 2; ++k) {
      up[upIdx] = (k == 0) ? x : 0.f;
      upIdx = (upIdx + 1) % 15;
      down[downIdx] = shaper(convolve(up, upIdx, 2.f));
      downIdx = (downIdx + 1) % 15;
    }
    return convolve(down, downIdx, 1.f);
  }
};

TEST_F(Halfband, Oversampler2xMatchesTheDirectConvolutionExactly) {
  Oversampler2x os;
  ReferenceOversampler ref;
  const DriveShaper shaper{0.6f};
  uint32_t seed = 1;
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float x = float(int32_t(seed)) * 4.6566129e-10f * 1.5f;
    ASSERT_EQ(os.process(x, shaper), ref.process(x, shaper)) << i;
  }
}

TEST_F(Halfband, PMOversamplerPhaseStepWrapsAndDecimatesOnceInFour) {
  uint32_t phase = 0xC0000000u;
  EXPECT_EQ(PMOversampler::phaseStep(phase, 1u << 30), 0.f);
  EXPECT_EQ(phase, 0u);
  EXPECT_EQ(PMOversampler::phaseStep(phase, 1u << 30), 0.25f);

  PMOversampler pm;
  float out = -1.f;
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(pm.pushDecimate(1.f, k, out));
  EXPECT_EQ(out, -1.f);
  EXPECT_TRUE(pm.pushDecimate(1.f, 3, out));

  // DC through both decimators settles at unity.
  for (int i = 0; i < 64 * 4; ++i) pm.pushDecimate(1.f, i & 3, out);
  EXPECT_NEAR(out, 1.f, 1e-6f);
  pm.clear();
  EXPECT_EQ(pm.carrierPhase, 0u);
  pm.pushDecimate(0.f, 3, out);
  EXPECT_EQ(out, 0.f);
}

TEST_F(Halfband, PhaseIncrementRoundsAQuarterOfTheCycleFraction) {
  EXPECT_EQ(pmPhaseIncrement(0.25f), 1u << 28);
  EXPECT_EQ(pmPhaseIncrement(-0.25f), uint32_t(-(int64_t(1) << 28)));
  EXPECT_EQ(pmPhaseIncrement(std::nanf("")), 0u);
  // Four at a time, the same increments over a grid with ties, range limits, tiny values and NaN.
  const float grid[] = {0.25f,      -0.25f,      0.5f,        -0.5f,        1.f / 3.f,     0.49f,
                        0.4999999f, -0.4999999f, 1e-9f,       -1e-9f,       0.50000006f,   -0.50000006f,
                        2.f,        -2.f,        1.99999988f, -1.99999988f, 3.f,           NAN,
                        INFINITY,   -INFINITY,   0x1p-31f,    3 * 0x1p-31f, -3 * 0x1p-31f, -0x1p-31f};
  static_assert(std::size(grid) % 4 == 0);
  for (size_t i = 0; i < std::size(grid); i += 4) {
    alignas(16) int32_t lanes[4];
    ml::simd::storeI(lanes, pmPhaseIncrementLanes(ml::simd::loadU(grid + i)));
    for (size_t k = 0; k < 4; ++k)
      EXPECT_EQ(uint32_t(lanes[k]), pmPhaseIncrement(grid[i + k])) << grid[i + k];
  }
}

TEST_F(Halfband, BlockFormMatchesPerSampleCallsExactly) {
  Oversampler2x block, single;
  const DriveShaper shapers[3] = {{0.f}, {0.3f}, {0.6f}};
  int n = 0;
  // Blocks of several lengths, one of them processed sample by sample on both sides.
  for (const int length : {64, 1, 17, 64, 0, 40, 64}) {
    float in[Oversampler2x::kMaxBlock], out[Oversampler2x::kMaxBlock];
    for (int i = 0; i < length; ++i) in[i] = 1.3f * std::sin(0.37f * float(n + i)) + (n + i == 3 ? 2.f : 0.f);
    if (length == 1) {
      out[0] = block.process(in[0], shapers[n % 3]);
    } else {
      block.processBlock(in, out, length, [&](int i, float u) { return shapers[(n + i) % 3](u); });
    }
    for (int i = 0; i < length; ++i) {
      ASSERT_EQ(out[i], single.process(in[i], shapers[(n + i) % 3])) << "sample " << n + i;
    }
    n += length;
  }
}

}  // namespace
