// Master chain: EQ responses, knee and colour, transparency, output gain and resets (the noise floor as
// the engine plays it is in EngineOutputTest).
#include <gtest/gtest.h>
#include <pmmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "engine/MasterChain.h"
#include "engine/ParamTable.h"

namespace {

// The default patch's settings.
MasterSettings defaults() {
  double values[kNumParams];
  for (uint32_t id = 0; id < kNumParams; ++id) values[id] = kParams[id].def;
  return MasterSettings::fromParams(values);
}

// Settings under which every stage passes samples of magnitude <= 0.9 unchanged.
MasterSettings transparent() {
  MasterSettings s = defaults();
  s.reverbMix = 0.0f;
  s.noiseLevel = 0.0f;
  s.outputGain = 1.0f;
  return s;
}

constexpr int kBlock = ml::kFloatsPerDSPVector;
constexpr float kSr = 48000.0f;
constexpr double kPi = 3.14159265358979323846;

class MasterChainTest : public ::testing::Test {
protected:
  void SetUp() override {
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
    chain = std::make_unique<MasterChain>();
  }

  // Gain in dB of the EQ stage for a steady sine at hz, measured by RMS after one second of settling.
  float eqGainDb(float low, float mid, float high, float hz) {
    MasterSettings settings = transparent();
    settings.eqLow = low;
    settings.eqMid = mid;
    settings.eqHigh = high;
    chain->setSampleRate(kSr, settings);
    const int settle = static_cast<int>(kSr) / kBlock;
    double inSum = 0.0, outSum = 0.0;
    for (int b = 0; b < 2 * settle; ++b) {
      ml::DSPVector left, right;
      for (int i = 0; i < kBlock; ++i) {
        left[i] = right[i] = static_cast<float>(0.1 * std::sin(2.0 * kPi * hz * (b * kBlock + i) / kSr));
      }
      const ml::DSPVector in = left;
      chain->process(settings, left, right);
      if (b < settle) continue;
      for (int i = 0; i < kBlock; ++i) {
        inSum += in[i] * in[i];
        outSum += left[i] * left[i];
        EXPECT_EQ(left[i], right[i]);
      }
    }
    return static_cast<float>(10.0 * std::log10(outSum / inSum));
  }

  std::unique_ptr<MasterChain> chain;  // holds the reverb: never on the stack
};

TEST_F(MasterChainTest, EqBandGains) {
  struct Point {
    float low, mid, high, hz, db;
  };
  const Point points[] = {
      {0, 1, 0, 1000, 12.0f},  {0, -1, 0, 1000, -12.0f}, {1, 0, 0, 50, 12.1f},     {1, 0, 0, 200, 9.95f},
      {1, 0, 0, 500, -4.7f},   {-1, 0, 0, 50, -9.8f},    {-1, 0, 0, 200, 1.93f},   {0, 0, 1, 6000, 9.95f},
      {0, 0, 1, 12000, 12.3f}, {0, 0, -1, 6000, 1.93f},  {0, 0, -1, 12000, -6.8f}, {0, 0, -1, 20000, -11.5f},
  };
  for (const Point& p : points) {
    EXPECT_NEAR(eqGainDb(p.low, p.mid, p.high, p.hz), p.db, 0.1f)
        << "low " << p.low << " mid " << p.mid << " high " << p.high << " at " << p.hz << " Hz";
  }
}

TEST_F(MasterChainTest, FlatEqIsBitExactAndFreezesItsStates) {
  MasterSettings settings = transparent();
  settings.eqLow = 0.001f;
  settings.eqMid = -0.0005f;
  chain->setSampleRate(kSr, settings);
  chain->eqIc1[0] = 0.25f;  // as left by an earlier boost
  ml::DSPVector left, right;
  for (int i = 0; i < kBlock; ++i) left[i] = right[i] = 0.01f * static_cast<float>(i) - 0.3f;
  const ml::DSPVector in = left;
  chain->process(settings, left, right);
  for (int i = 0; i < kBlock; ++i) ASSERT_EQ(left[i], in[i]) << i;
  EXPECT_EQ(chain->eqIc1[0], 0.25f);
  // A band leaving its rest for a boost shapes the very next block.
  settings.eqLow = 0.5f;
  left = in;
  chain->process(settings, left, right);
  EXPECT_NE(chain->eqIc1[0], 0.25f);
  EXPECT_NE(left[kBlock - 1], in[kBlock - 1]);
}

TEST_F(MasterChainTest, KneeAndColour) {
  EXPECT_NEAR(softKnee(1.0f), 0.9761594f, 1e-7f);
  EXPECT_LT(softKnee(1000.0f), 1.0f + 1e-7f);
  // A full-scale sample is mostly replaced by the shaped signal.
  ColourState state;
  EXPECT_NE(colour(softKnee(1.0f), colourCoeffs(kSr), state), softKnee(1.0f));
}

TEST_F(MasterChainTest, TransparentSettingsPassTheDrySignalBitExactly) {
  // Reverb mix 0, and up to 0.9 the knee and the colour pass samples unchanged.
  const MasterSettings settings = transparent();
  chain->setSampleRate(kSr, settings);
  for (int b = 0; b < 100; ++b) {
    ml::DSPVector left, right;
    for (int i = 0; i < kBlock; ++i) {
      left[i] = b == 0 ? -0.9f + 1.8f * static_cast<float>(i) / (kBlock - 1)
                       : 0.9f * std::sin(0.01f * static_cast<float>(b * kBlock + i));
      right[i] = 0.25f * std::cos(0.03f * static_cast<float>(b * kBlock + i));
    }
    const ml::DSPVector inL = left, inR = right;
    chain->process(settings, left, right);
    for (int i = 0; i < kBlock; ++i) {
      ASSERT_EQ(left[i], inL[i]);
      ASSERT_EQ(right[i], inR[i]);
    }
  }
  // The reverb kept running underneath.
  const float* line = chain->reverb.lines[0];
  EXPECT_TRUE(std::any_of(line, line + DattorroReverb::kLineSize, [](float x) { return x != 0.0f; }));
}

// Zero rows pass a sleeping reverb without its mix; its mix smoother moves on all the same: a chain fed -0
// rows, which take the whole mix, plays the burst that follows the silence identically.
TEST_F(MasterChainTest, SilenceIntoTheSleepingReverbKeepsTheMixMoving) {
  MasterSettings settings = defaults();
  auto minusZeroChain = std::make_unique<MasterChain>();
  for (MasterChain* c : {chain.get(), minusZeroChain.get()}) c->setSampleRate(kSr, settings);
  settings.reverbMix = 0.9f;
  for (int b = 0; b < 8; ++b) {
    const float silence[] = {0.0f, -0.0f};
    MasterChain* chains[] = {chain.get(), minusZeroChain.get()};
    ml::DSPVector out[2][2];
    for (int c = 0; c < 2; ++c) {
      ml::DSPVector& left = out[c][0];
      ml::DSPVector& right = out[c][1];
      for (int i = 0; i < kBlock; ++i) left[i] = right[i] = b < 4 ? silence[c] : 0.5f * std::sin(0.1f * i);
      chains[c]->processReverb(settings, left, right);
    }
    for (int i = 0; i < kBlock; ++i) {
      ASSERT_EQ(std::bit_cast<uint32_t>(out[0][0][i]), std::bit_cast<uint32_t>(out[1][0][i]))
          << b << " " << i;
      ASSERT_EQ(std::bit_cast<uint32_t>(out[0][1][i]), std::bit_cast<uint32_t>(out[1][1][i]))
          << b << " " << i;
    }
  }
  EXPECT_FALSE(chain->reverb.asleep);
}

TEST_F(MasterChainTest, OutputGainAndHotLevel) {
  MasterSettings settings = defaults();
  settings.reverbMix = 0.0f;
  settings.outputGain = 2.0f;
  chain->setSampleRate(kSr, settings);
  ml::DSPVector left(0.3f), right(0.3f);
  chain->process(settings, left, right);
  EXPECT_NEAR(left[10], 0.6f, 1e-4f);
  EXPECT_FALSE(chain->levelHot.load());
  left = ml::DSPVector(0.46f);
  chain->process(settings, left, right);
  EXPECT_TRUE(chain->levelHot.load());  // 0.92 after the gain, before the knee
}

TEST_F(MasterChainTest, ResetAndActivationClearANaN) {
  MasterSettings settings = defaults();
  settings.eqLow = 0.5f;
  settings.eqMid = -0.5f;
  settings.eqHigh = 0.5f;
  settings.noiseLevel = 1.0f;
  for (int pass = 0; pass < 2; ++pass) {
    chain->setSampleRate(kSr, settings);
    ml::DSPVector left(std::numeric_limits<float>::quiet_NaN()), right(1.5f);
    chain->process(settings, left, right);
    if (pass == 0) {
      chain->resetAll();
    } else {
      chain->setSampleRate(kSr, settings);
    }
    for (int b = 0; b < 10; ++b) {
      ml::DSPVector l2, r2;
      chain->process(settings, l2, r2);
      for (int i = 0; i < kBlock; ++i) ASSERT_TRUE(std::isfinite(l2[i]) && std::isfinite(r2[i])) << pass;
    }
  }
  // Non-finite settings are clamped rather than passed on.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  settings = MasterSettings{nan, nan, nan, nan, nan, nan, nan, nan, nan};
  ml::DSPVector left(0.5f), right(0.5f);
  chain->process(settings, left, right);
  for (int i = 0; i < kBlock; ++i) ASSERT_TRUE(std::isfinite(left[i]));
}

}  // namespace
