// Look-ahead true-peak limiter: latency, kernel, ceiling on hard material and measured true peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "engine/EngineFixture.h"
#include "engine/TruePeakLimiter.h"
#include "foundation/MLDSPGens.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kPlus12dB = 3.9810717f;

TruePeakLimiter makeLimiter(float sampleRate) {
  TruePeakLimiter limiter;
  limiter.setSampleRate(sampleRate, TruePeakLimiter::kDefaultReleaseMs);
  limiter.clear();
  return limiter;
}

// Runs a mono signal through both channels (right inverted, so the link is exercised) in 64-sample blocks.
std::vector<float> limit(TruePeakLimiter& limiter, const std::vector<float>& in) {
  std::vector<float> out(in.size());
  for (size_t start = 0; start < in.size(); start += ml::kFloatsPerDSPVector) {
    ml::DSPVector left, right;
    const size_t n = std::min<size_t>(ml::kFloatsPerDSPVector, in.size() - start);
    for (size_t i = 0; i < n; ++i) {
      left[i] = in[start + i];
      right[i] = -0.5f * in[start + i];
    }
    limiter.processBlock(left, right);
    for (size_t i = 0; i < n; ++i) out[start + i] = left[i];
  }
  return out;
}

std::vector<float> sine(float hz, float amplitude, float sampleRate, int length, int fadeIn) {
  std::vector<float> v(static_cast<size_t>(length));
  for (int n = 0; n < length; ++n) {
    const double fade = n < fadeIn ? static_cast<double>(n) / fadeIn : 1.0;
    v[static_cast<size_t>(n)] =
        static_cast<float>(amplitude * fade * std::sin(2.0 * kPi * hz * n / sampleRate));
  }
  return v;
}

// True peak of v[from, to): 16x oversampling by a Blackman-windowed sinc with 64 taps a side.
float truePeak16x(const std::vector<float>& v, size_t from, size_t to) {
  constexpr int kOver = 16;
  constexpr int kSide = 64;
  std::vector<double> kernel(static_cast<size_t>(kOver * 2 * kSide));
  for (int j = 0; j < kOver; ++j) {
    for (int k = -kSide; k < kSide; ++k) {
      const double t = k + static_cast<double>(j) / kOver;  // distance of tap from the interpolated point
      const double sinc = std::fabs(t) < 1e-12 ? 1.0 : std::sin(kPi * t) / (kPi * t);
      const double x = (t + kSide) / (2.0 * kSide);  // 0..1 across the window
      const double w = 0.42 - 0.5 * std::cos(2 * kPi * x) + 0.08 * std::cos(4 * kPi * x);
      kernel[static_cast<size_t>(j * 2 * kSide + k + kSide)] = sinc * w;
    }
  }
  double peak = 0.0;
  for (size_t n = std::max<size_t>(from, kSide); n < std::min(to, v.size() - kSide); ++n) {
    for (int j = 0; j < kOver; ++j) {
      double y = 0.0;
      for (int k = -kSide; k < kSide; ++k) {
        y += kernel[static_cast<size_t>(j * 2 * kSide + k + kSide)] * v[n - static_cast<size_t>(k)];
      }
      peak = std::max(peak, std::fabs(y));
    }
  }
  return static_cast<float>(peak);
}

TEST(TruePeakLimiterTest, DelaysByThirtyTwoSamplesAtEveryRate) {
  for (float sr : {44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
    TruePeakLimiter limiter = makeLimiter(sr);
    const std::vector<float> out = limit(limiter, std::vector<float>(256, 0.5f));
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i < 32 ? 0.0f : 0.5f) << sr << " at " << i;
  }
  // Silence after a clear is exact zero.
  TruePeakLimiter limiter = makeLimiter(48000.0f);
  limit(limiter, std::vector<float>(512, 3.0f));
  limiter.clear();
  EXPECT_EQ(peakOf(limit(limiter, std::vector<float>(128, 0.0f))), 0.0f);
  EXPECT_EQ(limiter.gain, 1.0f);
}

TEST(TruePeakLimiterTest, KernelTaps) {
  TruePeakLimiter::initKernel();
  const auto& taps = TruePeakLimiter::kernel();
  const double phase0[] = {-0.000141, 0.007255,  -0.050962, 0.248367,
                           0.900261,  -0.131027, 0.029731,  -0.003484};
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(taps[0][k], phase0[k], 5e-7) << k;
  for (int p = 0; p < 4; ++p) {
    double sum = 0.0;
    for (int k = 0; k < 8; ++k) sum += taps[p][k];
    EXPECT_NEAR(sum, 1.0, 1e-6) << p;
  }
}

TEST(TruePeakLimiterTest, KernelIsBuiltOnceAcrossThreads) {
  const float* seen[2] = {nullptr, nullptr};
  std::thread a([&] {
    TruePeakLimiter::initKernel();
    seen[0] = &TruePeakLimiter::kernel()[0][0];
  });
  std::thread b([&] {
    TruePeakLimiter::initKernel();
    seen[1] = &TruePeakLimiter::kernel()[0][0];
  });
  a.join();
  b.join();
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_NEAR(seen[0][4], 0.900261f, 5e-7f);
}

TEST(TruePeakLimiterTest, GainStepsDownBeforeALoudSampleAndRecoversWithTheRelease) {
  TruePeakLimiter limiter = makeLimiter(44100.0f);
  std::vector<float> in(2048, 0.25f);
  in[100] = 2.0f;
  const std::vector<float> out = limit(limiter, in);
  // Reduction starts as the loud sample enters, 32 samples before it leaves.
  EXPECT_EQ(out[99], 0.25f);
  for (size_t i = 100; i < 132; ++i) ASSERT_LE(out[i], 0.25f * TruePeakLimiter::kCeiling / 2.0f) << i;
  EXPECT_LE(out[132], TruePeakLimiter::kCeiling);
  // Release: 1 - exp(-1 / 2205) per sample at 44.1 kHz.
  EXPECT_FLOAT_EQ(limiter.release, static_cast<float>(1.0 - std::exp(-1.0 / 2205.0)));
  const float gainAfter = out[400] / 0.25f;
  const float gainLater = out[1400] / 0.25f;
  EXPECT_NEAR(1.0f - gainLater, (1.0f - gainAfter) * std::pow(1.0f - limiter.release, 1000.0f), 1e-4f);
}

TEST(TruePeakLimiterTest, CeilingHoldsOnImpulsesHighSinesAndNoise) {
  for (float sr : {44100.0f, 48000.0f, 96000.0f}) {
    const int length = static_cast<int>(sr / 4);
    std::vector<std::vector<float>> signals;
    std::vector<float> clicks(static_cast<size_t>(length), 0.0f);
    for (int i = 1000; i < length; i += 997) clicks[static_cast<size_t>(i)] = (i % 2 ? 1.0f : -kPlus12dB);
    signals.push_back(clicks);
    for (float hz : {18000.0f, 19000.0f, 20000.0f}) signals.push_back(sine(hz, kPlus12dB, sr, length, 0));
    ml::NoiseGen noise;
    std::vector<float> loudNoise;
    while (loudNoise.size() < static_cast<size_t>(length)) {
      const ml::DSPVector block = noise();
      for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) loudNoise.push_back(kPlus12dB * block[i]);
    }
    signals.push_back(loudNoise);
    // A lone sample whose gain and product round up by a float step each.
    std::vector<float> lone(256, 0.0f);
    lone[70] = 1.00041664f;
    signals.push_back(lone);
    for (size_t s = 0; s < signals.size(); ++s) {
      TruePeakLimiter limiter = makeLimiter(sr);
      EXPECT_LE(peakOf(limit(limiter, signals[s])), TruePeakLimiter::kCeiling) << sr << " signal " << s;
    }
  }
}

TEST(TruePeakLimiterTest, TruePeakOfLoudSinesStaysUnderTheCeiling) {
  for (float sr : {44100.0f, 48000.0f}) {
    for (float hz : {50.0f, 110.0f, 440.0f, 1000.0f, 2500.0f, 4000.0f, 5512.5f, 7000.0f, 8000.0f, 10000.0f}) {
      const int length = static_cast<int>(sr * 0.25f);
      TruePeakLimiter limiter = makeLimiter(sr);
      const std::vector<float> out =
          limit(limiter, sine(hz, kPlus12dB, sr, length, static_cast<int>(sr / 100)));
      const size_t from = static_cast<size_t>(sr / 20);
      const size_t to = out.size() - 200;
      const float truePeak = truePeak16x(out, from, to);
      EXPECT_LE(truePeak, 0.8775f) << sr << " Hz " << hz;
      EXPECT_GT(truePeak, 0.8f) << sr << " Hz " << hz;  // limited, not silenced
    }
  }
}

// The limiter one sample at a time, written plainly: the block kernel must match it bit for bit.
struct ReferenceLimiter {
  float history[2][8]{};
  float delay[2][32]{};
  float gains[32];
  float gain = 1.0f;
  float release;
  explicit ReferenceLimiter(float r) : release(r) { std::fill(std::begin(gains), std::end(gains), 1.0f); }

  float estimate(const float* h) const {
    float peak = 0.0f;
    for (int k = 0; k < 8; ++k) peak = std::max(peak, std::fabs(h[7 - k]));
    for (int p = 0; p < 4; ++p) {
      float y = 0.0f;
      for (int k = 0; k < 8; ++k) y += TruePeakLimiter::kernel()[p][k] * h[7 - k];
      peak = std::max(peak, std::fabs(y));
    }
    return peak;
  }
  void process(float& left, float& right) {
    const float in[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
      std::copy(history[c] + 1, history[c] + 8, history[c]);
      history[c][7] = in[c];
    }
    const float peak = std::max(estimate(history[0]), estimate(history[1]));
    std::copy(gains + 1, gains + 32, gains);
    gains[31] = peak > TruePeakLimiter::kCeiling ? TruePeakLimiter::kCeiling / peak : 1.0f;
    float m = 1.0f;
    for (float g : gains) m = std::min(m, g);
    gain = gain > m ? m : gain + release * (m - gain);
    left = std::clamp(delay[0][0] * gain, -TruePeakLimiter::kCeiling, TruePeakLimiter::kCeiling);
    right = std::clamp(delay[1][0] * gain, -TruePeakLimiter::kCeiling, TruePeakLimiter::kCeiling);
    for (int c = 0; c < 2; ++c) {
      std::copy(delay[c] + 1, delay[c] + 32, delay[c]);
      delay[c][31] = in[c];
    }
  }
};

TEST(TruePeakLimiterTest, BlockKernelMatchesASampleBySampleReference) {
  TruePeakLimiter limiter = makeLimiter(48000.0f);
  ReferenceLimiter reference(limiter.release);
  ml::NoiseGen noise;
  for (int block = 0; block < 200; ++block) {
    // Loud bursts between quiet stretches, with clicks, the channels differing.
    const float level = (block / 10) % 2 ? 3.0f : 0.2f;
    ml::DSPVector left = noise() * level, right = noise() * (0.5f * level);
    if (block % 7 == 3) right[block % 64] = -6.0f;
    ml::DSPVector expectL = left, expectR = right;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) reference.process(expectL[i], expectR[i]);
    limiter.processBlock(left, right);
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
      ASSERT_EQ(left[i], expectL[i]) << block << " " << i;
      ASSERT_EQ(right[i], expectR[i]) << block << " " << i;
    }
  }
}

}  // namespace
