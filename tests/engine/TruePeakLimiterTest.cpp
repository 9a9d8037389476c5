// Look-ahead true-peak limiter: latency, kernel, ceiling on hard material and measured true peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "bench/EdgeMeasure.h"
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

TEST(TruePeakLimiterTest, KernelsHaveUnityGainAtDcAndAreBuiltOnceAcrossThreads) {
  const TruePeakLimiter::Kernel* seen[2] = {nullptr, nullptr};
  std::thread a([&] { seen[0] = &TruePeakLimiter::kernel(); });
  std::thread b([&] { seen[1] = &TruePeakLimiter::kernel(); });
  a.join();
  b.join();
  EXPECT_EQ(seen[0], seen[1]);
  const TruePeakLimiter::Kernel& k = *seen[0];
  double sum = 0.0;
  for (float tap : k.midpoint) sum += 2.0 * tap;
  EXPECT_NEAR(sum, 1.0, 1e-6);
  for (const auto& phase : k.quarter) {
    sum = 0.0;
    for (float tap : phase) sum += tap;
    EXPECT_NEAR(sum, 1.0, 1e-6);
  }
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

TEST(TruePeakLimiterTest, FullScaleNoiseBurstsAndImpulsesStayUnderMinusOneDbTruePeak) {
  for (double sr : {44100.0, 48000.0}) {
    const std::vector<float> noise = edge_measure::limiterNoiseBursts(sr);
    for (const std::vector<float>& in :
         {noise, edge_measure::scaled(noise, kPlus12dB), edge_measure::limiterImpulses(sr)}) {
      const std::vector<float> out = edge_measure::limitMono(sr, in);
      EXPECT_LE(peakOf(out), TruePeakLimiter::kCeiling);
      EXPECT_LE(edge_measure::decibels(edge_measure::truePeak(out)), -1.0) << sr;
    }
  }
}

// The limiter written plainly over a whole signal: each output's gain follows the targets known by the
// end of the 64-sample block in which it is output. The block kernel must match it bit for bit.
struct ReferenceLimiter {
  static constexpr int kHistory = TruePeakLimiter::kHistory;
  std::vector<float> x[2];  // kHistory zeros, then the input
  std::vector<float> instant, interval;

  ReferenceLimiter(const std::vector<float>& left, const std::vector<float>& right) {
    for (int c = 0; c < 2; ++c) {
      x[c].assign(kHistory, 0.0f);
      x[c].insert(x[c].end(), (c == 0 ? left : right).begin(), (c == 0 ? left : right).end());
    }
    const auto target = [](float peak) {
      return peak > TruePeakLimiter::kCeiling ? TruePeakLimiter::kCeiling / peak : 1.0f;
    };
    for (size_t i = 0; i < left.size(); ++i) {
      instant.push_back(target(std::max(std::fabs(left[i]), std::fabs(right[i]))));
      interval.push_back(target(std::max(intervalPeak(0, int(i)), intervalPeak(1, int(i)))));
    }
  }
  float at(int c, int i) const { return x[c][size_t(i + kHistory)]; }  // i >= -kHistory
  float midpoint(int c, int r) const {
    float y = 0.0f;
    for (int j = 0; j < TruePeakLimiter::kMidpointTaps; ++j) {
      y += TruePeakLimiter::kernel().midpoint[j] * (at(c, r - j) + at(c, r + 1 + j));
    }
    return y;
  }
  // The peak of the interval from x[q] to x[q + 1], q = n - kEstimateDelay.
  float intervalPeak(int c, int n) const {
    const int q = n - TruePeakLimiter::kEstimateDelay;
    float twoX[10];  // the 2x signal from x[q - 2] on: samples and midpoints
    for (int k = 0; k < 5; ++k) {
      twoX[2 * k] = at(c, q - 2 + k);
      twoX[2 * k + 1] = midpoint(c, q - 2 + k);
    }
    float peak = std::max({std::fabs(twoX[4]), std::fabs(twoX[5]), std::fabs(twoX[6])});
    for (int half = 0; half < 2; ++half) {
      for (const auto& phase : TruePeakLimiter::kernel().quarter) {
        float y = 0.0f;
        for (int k = 0; k < TruePeakLimiter::kQuarterTaps; ++k) y += phase[k] * twoX[1 + half + k];
        peak = std::max(peak, std::fabs(y));
      }
    }
    return peak;
  }
  // Target of sample j as known after input `known`: its own, and those of the intervals ending at it.
  float target(int j, int known) const {
    float g = instant[size_t(j)];
    for (int q = j - 2; q < j; ++q) {
      const int n = q + TruePeakLimiter::kEstimateDelay;
      if (n >= 0 && n <= known) g = std::min(g, interval[size_t(n)]);
    }
    return g;
  }
  std::vector<float> run(int c, float release) const {
    std::vector<float> out;
    float gain = 1.0f;
    for (int t = 0; t < int(instant.size()); ++t) {
      const int known = t / 64 * 64 + 63;
      float m = 1.0f;
      for (int j = std::max(0, t - 31); j <= t; ++j) m = std::min(m, target(j, known));
      gain = gain > m ? m : gain + release * (m - gain);
      out.push_back(std::clamp(at(c, t - 32) * gain, -TruePeakLimiter::kCeiling, TruePeakLimiter::kCeiling));
    }
    return out;
  }
};

TEST(TruePeakLimiterTest, BlockKernelMatchesAPlainReference) {
  TruePeakLimiter limiter = makeLimiter(48000.0f);
  ml::NoiseGen noise;
  std::vector<float> in[2], out[2];
  for (int block = 0; block < 60; ++block) {
    // Loud bursts between quiet stretches, with clicks, the channels differing.
    const float level = (block / 10) % 2 ? 3.0f : 0.2f;
    ml::DSPVector left = noise() * level, right = noise() * (0.5f * level);
    if (block % 7 == 3) right[block % 64] = -6.0f;
    in[0].insert(in[0].end(), left.getConstBuffer(), left.getConstBuffer() + 64);
    in[1].insert(in[1].end(), right.getConstBuffer(), right.getConstBuffer() + 64);
    limiter.processBlock(left, right);
    out[0].insert(out[0].end(), left.getConstBuffer(), left.getConstBuffer() + 64);
    out[1].insert(out[1].end(), right.getConstBuffer(), right.getConstBuffer() + 64);
  }
  const ReferenceLimiter reference(in[0], in[1]);
  for (int c = 0; c < 2; ++c) {
    const std::vector<float> expected = reference.run(c, limiter.release);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(out[c][i], expected[i]) << c << " " << i;
  }
}

}  // namespace
