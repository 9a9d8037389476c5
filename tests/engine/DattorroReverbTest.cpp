// Reverb network: line lengths, tap positions, decay, stability and reset.
#include <gtest/gtest.h>
#include <pmmintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "engine/DattorroReverb.h"
#include "engine/Silence.h"
#include "foundation/MLDSPGens.h"

namespace {

constexpr int kBlock = ml::kFloatsPerDSPVector;

class DattorroReverbTest : public ::testing::Test {
protected:
  void SetUp() override {
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
    reverb = std::make_unique<DattorroReverb>();
  }

  // Runs `blocks` blocks of `input` (sample index -> value) and returns the wet left and right outputs.
  template <typename Input>
  void render(int blocks, float preDelayMs, float decay, float tone, Input input, std::vector<float>& left,
              std::vector<float>& right) {
    left.assign(static_cast<size_t>(blocks) * kBlock, 0.0f);
    right.assign(left.size(), 0.0f);
    for (int b = 0; b < blocks; ++b) {
      ml::DSPVector in, outL, outR;
      for (int i = 0; i < kBlock; ++i) in[i] = input(b * kBlock + i);
      reverb->process(in, preDelayMs, decay, tone, outL, outR);
      std::copy(outL.getConstBuffer(), outL.getConstBuffer() + kBlock, left.begin() + b * kBlock);
      std::copy(outR.getConstBuffer(), outR.getConstBuffer() + kBlock, right.begin() + b * kBlock);
    }
  }

  std::unique_ptr<DattorroReverb> reverb;  // about 750 KB: never on the stack
};

auto impulseAt(int at) {
  return [at](int n) { return n == at ? 1.0f : 0.0f; };
}

int firstAbove(const std::vector<float>& v, float threshold) {
  for (size_t i = 0; i < v.size(); ++i) {
    if (std::fabs(v[i]) > threshold) return static_cast<int>(i);
  }
  return -1;
}

TEST_F(DattorroReverbTest, LineLengthsScaleWithSampleRate) {
  reverb->setSampleRate(48000.0f);
  const auto at48 = std::make_unique<DattorroReverb>(*reverb);
  reverb->setSampleRate(96000.0f);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(reverb->lineLength[i], 2 * at48->lineLength[i], 1) << i;
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(reverb->tankDiffLength[i], 2 * at48->tankDiffLength[i], 1) << i;
  EXPECT_NEAR(reverb->modDepth, 2.0f * at48->modDepth, 1e-3f);

  // Very high rates cap every line inside its ring.
  reverb->setSampleRate(768000.0f);
  for (int i = 0; i < 8; ++i) EXPECT_LE(reverb->lineLength[i], 16382);
  for (int i = 0; i < 8; ++i) EXPECT_LE(reverb->tankDiffLength[i], 2047);
}

TEST_F(DattorroReverbTest, FirstWetOutputComesFromTheExtraTaps) {
  reverb->setSampleRate(48000.0f);
  std::vector<float> left, right;
  constexpr float kThreshold = 1e-6f;
  render(40, 0.0f, 2.0f, 0.45f, impulseAt(0), left, right);
  EXPECT_EQ(firstAbove(right, kThreshold), 285);
  EXPECT_EQ(firstAbove(left, kThreshold), 493);

  reverb->clear();
  render(40, 20.0f, 2.0f, 0.45f, impulseAt(0), left, right);
  EXPECT_EQ(firstAbove(right, kThreshold), 1245);
  EXPECT_EQ(firstAbove(left, kThreshold), 1453);
}

// Time for the 50 ms RMS envelope of an impulse response to fall 30 dB below its loudest window.
float fallTime(const std::vector<float>& left, const std::vector<float>& right) {
  constexpr int kWindow = 2400;  // 50 ms at 48 kHz
  std::vector<float> energy;
  for (size_t start = 0; start + kWindow <= left.size(); start += kWindow) {
    double sum = 0.0;
    for (size_t i = start; i < start + kWindow; ++i) sum += left[i] * left[i] + right[i] * right[i];
    energy.push_back(static_cast<float>(sum));
  }
  const auto loudest = std::max_element(energy.begin(), energy.end());
  const auto quiet = std::find_if(loudest, energy.end(), [&](float e) { return e < *loudest * 1e-3f; });
  return static_cast<float>(quiet - energy.begin()) * kWindow / 48000.0f;
}

TEST_F(DattorroReverbTest, DecayTimeRisesWithDecay) {
  reverb->setSampleRate(48000.0f);
  std::vector<float> left, right;
  float previous = 0.0f;
  for (float decay : {0.3f, 1.0f, 3.0f, 8.0f}) {
    reverb->clear();
    render(48000 * 8 / kBlock, 0.0f, decay, 0.45f, impulseAt(0), left, right);
    const float t = fallTime(left, right);
    EXPECT_GT(t, previous) << "decay " << decay;
    if (decay == 3.0f) {
      EXPECT_NEAR(t, 1.5f, 0.5f);  // an RT60 of 3 s falls 30 dB in about half of that
    }
    previous = t;
  }
}

TEST_F(DattorroReverbTest, FullScaleNoiseAtLongestDecayStaysBounded) {
  // Tone 0 removes all damping: the loudest tail.
  for (float sr : {48000.0f, 384000.0f}) {
    reverb->setSampleRate(sr);
    ml::NoiseGen noise;
    float peak = 0.0f;
    bool finite = true;
    const int blocks = static_cast<int>(20.0f * sr) / kBlock;
    for (int b = 0; b < blocks; ++b) {
      ml::DSPVector outL, outR;
      reverb->process(noise(), 100.0f, 30.0f, 0.0f, outL, outR);
      for (int i = 0; i < kBlock; ++i) {
        finite = finite && std::isfinite(outL[i]) && std::isfinite(outR[i]);
        peak = std::max({peak, std::fabs(outL[i]), std::fabs(outR[i])});
      }
    }
    EXPECT_TRUE(finite) << sr;
    EXPECT_LT(peak, 4.0f) << sr;
  }
}

TEST_F(DattorroReverbTest, CappedLinesNeverReadAShortDelayAtVeryHighRates) {
  // At 384 kHz four lines are capped at 16382 samples and their modulation swings them past the ring.
  constexpr float kSr = 384000.0f;
  reverb->setSampleRate(kSr);
  // Let the modulation of line 7 (phase 0.875 at clear) swing up past the ring's end.
  constexpr int kSettleBlocks = 1300;
  std::vector<float> left, right;
  render(kSettleBlocks + 80, 0.0f, 2.0f, 0.45f, impulseAt(kSettleBlocks * kBlock), left, right);
  ASSERT_GT(std::sin(6.2831855f * reverb->modPhase[7]) * reverb->modDepth, 2.0f);
  // The earliest legitimate wet output is line 0's extra tap, about 2285 samples after the impulse.
  const std::vector<float> afterL(left.begin() + kSettleBlocks * kBlock, left.end());
  const std::vector<float> afterR(right.begin() + kSettleBlocks * kBlock, right.end());
  EXPECT_GT(firstAbove(afterL, 1e-6f), 2000);
  EXPECT_GT(firstAbove(afterR, 1e-6f), 2000);
}

TEST_F(DattorroReverbTest, RunsGiveWhatSampleBySampleProcessingGives) {
  // Runs of 64 at 48 kHz, 34 (padded lanes) at 22.05 kHz and 12 at 8 kHz, against runs of one sample;
  // at 384 kHz the longest pre-delay reads back the whole ring, up to the slot written next.
  for (float sr : {48000.0f, 22050.0f, 8000.0f, 384000.0f}) {
    reverb->setSampleRate(sr);
    auto single = std::make_unique<DattorroReverb>();
    single->setSampleRate(sr);
    single->runLength = 1;
    ml::NoiseGen noise;
    for (int b = 0; b < 400; ++b) {
      const ml::DSPVector in = noise();
      const float preDelayMs = b < 200 ? 0.0f : b < 300 ? 7.3f : 100.0f;
      ml::DSPVector l1, r1, l2, r2;
      reverb->process(in, preDelayMs, 3.0f, 0.3f, l1, r1);
      single->process(in, preDelayMs, 3.0f, 0.3f, l2, r2);
      for (int i = 0; i < kBlock; ++i) {
        ASSERT_EQ(l1[i], l2[i]) << sr << " block " << b << " sample " << i;
        ASSERT_EQ(r1[i], r2[i]) << sr << " block " << b << " sample " << i;
      }
    }
  }
}

TEST_F(DattorroReverbTest, ClearSilencesANaNAndNonFiniteSettingsAreClamped) {
  reverb->setSampleRate(48000.0f);
  std::vector<float> left, right;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  render(
      20, 0.0f, 2.0f, 0.45f, [nan](int n) { return n == 3 ? nan : 0.0f; }, left, right);
  ASSERT_TRUE(std::isnan(left.back()));
  reverb->clear();
  render(
      200, 20.0f, 2.0f, 0.45f, [](int) { return 0.0f; }, left, right);
  EXPECT_EQ(firstAbove(left, 0.0f), -1);
  EXPECT_EQ(firstAbove(right, 0.0f), -1);

  render(200, std::numeric_limits<float>::infinity(), nan, nan, impulseAt(0), left, right);
  for (size_t i = 0; i < left.size(); ++i)
    ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << i;
  reverb->setSampleRate(nan);
  EXPECT_EQ(reverb->sampleRate, 48000.0f);
}

bool allZero(const float* v, size_t n) {
  return std::all_of(v, v + n, [](float x) { return x == 0.0f; });
}

TEST_F(DattorroReverbTest, FallsAsleepOnlyOnceItsTailIsSilentAndWakesForInput) {
  reverb->setSampleRate(48000.0f);
  // A quiet impulse: its tail stays above -140 dBFS for most of a second.
  constexpr float kImpulse = 1e-3f;
  int lastAudible = -1;
  int asleepAt = -1;
  for (int b = 0; b < 48000 * 20 / kBlock && asleepAt < 0; ++b) {
    ml::DSPVector in, outL, outR;
    if (b == 0) in[0] = kImpulse;
    reverb->process(in, 0.0f, 2.0f, 0.45f, outL, outR);
    if (!allQuieterThan(outL.getConstBuffer(), kBlock, kSilenceLevel) ||
        !allQuieterThan(outR.getConstBuffer(), kBlock, kSilenceLevel))
      lastAudible = b;
    if (reverb->asleep) asleepAt = b;
  }
  ASSERT_GT(asleepAt, 0);
  EXPECT_GT(lastAudible, 48000 / 2 / kBlock);
  // Asleep only after the tail stayed silent for a whole pre-delay ring.
  EXPECT_GE(asleepAt - lastAudible, DattorroReverb::kPreDelaySize / kBlock);
  EXPECT_TRUE(allZero(&reverb->lines[0][0], sizeof reverb->lines / sizeof(float)));
  EXPECT_TRUE(allZero(&reverb->tankDiff[0][0], sizeof reverb->tankDiff / sizeof(float)));
  EXPECT_TRUE(allZero(reverb->lowpass, 8) && allZero(reverb->dcState, 8) && allZero(reverb->prevTap, 8));

  // Asleep, silence gives silence and the modulation runs on as if the network ran.
  auto awake = std::make_unique<DattorroReverb>(*reverb);
  awake->asleep = false;
  std::vector<float> left, right;
  render(
      100, 0.0f, 2.0f, 0.45f, [](int) { return 0.0f; }, left, right);
  EXPECT_EQ(firstAbove(left, 0.0f), -1);
  EXPECT_EQ(firstAbove(right, 0.0f), -1);
  for (int b = 0; b < 100; ++b) {
    ml::DSPVector silent, l, r;
    awake->process(silent, 0.0f, 2.0f, 0.45f, l, r);
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(reverb->modPhase[i], awake->modPhase[i]) << i;
  EXPECT_EQ(reverb->lineWrite, awake->lineWrite);

  // An input at -140 dBFS wakes it.
  render(
      40, 0.0f, 2.0f, 0.45f, [](int n) { return n == 0 ? 2.0f * kSilenceLevel : 0.0f; }, left, right);
  EXPECT_FALSE(reverb->asleep);
  EXPECT_GT(firstAbove(right, 0.0f), 0);
}

// Transforms eight values, each in lane 0 of its own group of four lanes.
void hadamard8(float* v) {
  ml::simd::F4 lanes[8];
  for (int i = 0; i < 8; ++i) lanes[i] = ml::simd::splat(v[i]);
  DattorroReverb::hadamard8(lanes);
  alignas(16) float out[4];
  for (int i = 0; i < 8; ++i) {
    ml::simd::storeF(out, lanes[i]);
    v[i] = out[0];
  }
}

TEST_F(DattorroReverbTest, HadamardIsOrthonormal) {
  // Transforming twice gives the input back; a unit vector spreads evenly over all eight outputs.
  float v[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  hadamard8(v);
  for (float x : v) EXPECT_FLOAT_EQ(x, 0.35355338f);
  float w[8] = {0.3f, -1.0f, 2.0f, 0.5f, 0.0f, 4.0f, -2.5f, 1.0f};
  float copy[8];
  std::copy(w, w + 8, copy);
  hadamard8(w);
  hadamard8(w);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(w[i], copy[i], 1e-5f);
}

}  // namespace
