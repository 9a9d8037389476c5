#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/voice/NoiseClick.h"

namespace {

constexpr int kBlock = 64;
constexpr float kRate = 48000.f;

struct Row {
  float v[kBlock];
  explicit Row(float x = 0.f) {
    for (float& s : v) s = x;
  }
};

double rms(const float* x, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(sum / n);
}

// The gains the declick applies over blocks of a steady voice, with a note starting at `start`.
std::vector<float> declickGains(int blocks, int start, bool retrigger) {
  float fade = 1.f;
  int8_t state = 0;
  std::vector<float> gains;
  for (int b = 0; b < blocks; ++b) {
    Row row(1.f);
    declick(row.v, fade, state, b == 0 ? start : -1, retrigger);
    gains.insert(gains.end(), row.v, row.v + kBlock);
  }
  return gains;
}

TEST(NoiseClick, FreshNoteFadesInOver256Samples) {
  const std::vector<float> gains = declickGains(6, 10, false);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(gains[i], 1.f);
  EXPECT_EQ(gains[10], 0.f);
  for (int i = 11; i < 10 + 256; ++i) EXPECT_GT(gains[i], gains[i - 1]);
  // Done: the steady voice passes untouched.
  for (size_t i = 10 + 256; i < gains.size(); ++i) EXPECT_EQ(gains[i], 1.f) << i;
}

TEST(NoiseClick, RetriggerMutesWithin64AndRestoresOver256) {
  const std::vector<float> out = declickGains(6, 0, true);
  EXPECT_EQ(out[0], 1.f);
  for (int i = 1; i < 64; ++i) EXPECT_LT(out[i], out[i - 1]);
  EXPECT_NEAR(out[63], 0.f, 1e-3f);
  EXPECT_EQ(out[64], 0.f);
  for (int i = 65; i < 64 + 256; ++i) EXPECT_GT(out[i], out[i - 1]);
  EXPECT_EQ(out[64 + 256], 1.f);
  EXPECT_FLOAT_EQ(declickGain(0.5f), 0.5f);
}

// Fades running in from on and off their steps' grid, ending within a block or not: every gain is the
// raised cosine of the position reached one step at a time.
TEST(NoiseClick, FadeInGainsFollowEachStep) {
  for (const float start : {0.f, 0.5f, 0.3f, 255.f / 256.f, 0.75f + 1.f / 512.f}) {
    float fade = start;
    int8_t state = 1;
    float position = start;
    for (int b = 0; b < 5; ++b) {
      Row row(1.f);
      declick(row.v, fade, state, -1, false);
      for (int i = 0; i < kBlock; ++i) {
        ASSERT_EQ(row.v[i], declickGain(position)) << start << " block " << b << " sample " << i;
        position = std::fmin(position + 1.f / 256.f, 1.f);
      }
      EXPECT_EQ(fade, position);
      EXPECT_EQ(state, position < 1.f ? 1 : 0);
    }
  }
}

TEST(NoiseClick, DcBlockerRemovesOffsetAndPassesAudio) {
  float mem[2] = {0.f, 0.f};
  Row row;
  for (int b = 0; b < 2000; ++b) {
    row = Row(0.5f);
    dcBlock(row.v, mem, kRate);
  }
  EXPECT_LT(std::fabs(row.v[63]), 1e-4f);
  // A 750 Hz sine (one cycle per block) keeps its level.
  for (int b = 0; b < 200; ++b) {
    for (int i = 0; i < kBlock; ++i) row.v[i] = std::sin(2.0 * M_PI * 750.0 * (b * kBlock + i) / kRate);
    dcBlock(row.v, mem, kRate);
  }
  EXPECT_NEAR(rms(row.v, kBlock), std::sqrt(0.5), 0.001);
}

TEST(NoiseClick, PinkFloorFallsWithPitchAndRepeatsPerVoice) {
  auto floorRms = [](float note, int voice) {
    uint32_t seed = 0;
    float pink[3] = {0.f, 0.f, 0.f};
    double sum = 0.0;
    for (int b = 0; b < 2000; ++b) {
      Row row;
      addPinkNoiseFloor(row.v, seed, pink, voice, note, 1.f);
      const double r = rms(row.v, kBlock);
      sum += r * r;
    }
    return std::sqrt(sum / 2000.0);
  };
  const double low = floorRms(36.f, 2);
  const double high = floorRms(96.f, 2);
  EXPECT_NEAR(high / low, 0.25, 1e-9);
  EXPECT_LT(low, 0.001);
  EXPECT_GT(low, 0.00005);
  EXPECT_EQ(floorRms(20.f, 2), low);
  // Release tails use voice 0's sequence; a cleared voice restarts it.
  EXPECT_EQ(floorRms(50.f, -1), floorRms(50.f, 0));
  EXPECT_NE(floorRms(50.f, 1), floorRms(50.f, 0));
}

// Six voices' floors side by side (a full lane group and a part one) equal each voice's floor alone.
TEST(NoiseClick, PinkFloorsSideBySideMatchEachAlone) {
  constexpr int kVoices = 6;
  uint32_t seedAlone[kVoices]{}, seedTogether[kVoices]{};
  float pinkAlone[kVoices][3]{}, pinkTogether[kVoices][3]{};
  alignas(16) float floors[kVoices][kBlock];
  for (int b = 0; b < 3; ++b) {
    PinkFloorJob jobs[kVoices];
    for (int k = 0; k < kVoices; ++k)
      jobs[k] = {&seedTogether[k], pinkTogether[k], k - 1, 40.f + 9.f * k, 0.2f + 0.1f * k, floors[k]};
    pinkNoiseFloors(jobs, kVoices);
    for (int k = 0; k < kVoices; ++k) {
      Row row;
      addPinkNoiseFloor(row.v, seedAlone[k], pinkAlone[k], k - 1, 40.f + 9.f * k, 0.2f + 0.1f * k);
      for (int i = 0; i < kBlock; ++i) ASSERT_EQ(row.v[i], floors[k][i]) << k << " " << b << " " << i;
    }
  }
}

// Five rows through the DC blocker side by side equal each row blocked alone, block after block.
TEST(NoiseClick, DcBlockersSideBySideMatchEachAlone) {
  constexpr int kRows = 5;
  float memAlone[kRows][2]{}, memTogether[kRows][2]{};
  for (int b = 0; b < 3; ++b) {
    alignas(16) float together[kRows][kBlock];
    Row alone[kRows];
    DcBlockJob jobs[kRows];
    for (int k = 0; k < kRows; ++k) {
      for (int i = 0; i < kBlock; ++i)
        alone[k].v[i] = together[k][i] = std::sin(0.01f * (k + 1) * (i + 64 * b)) + k;
      jobs[k] = {together[k], memTogether[k]};
      dcBlock(alone[k].v, memAlone[k], kRate);
    }
    dcBlocks(jobs, kRows, kRate);
    for (int k = 0; k < kRows; ++k) {
      for (int i = 0; i < kBlock; ++i) ASSERT_EQ(alone[k].v[i], together[k][i]) << k << " " << b << " " << i;
    }
  }
}

TEST(NoiseClick, NoiseMixOneIsWhiteNoiseAtTheVelocity) {
  uint32_t seed = 0;
  float click = 0.f;
  const Row mix(1.f);
  double sum = 0.0;
  const int blocks = 4000;
  for (int b = 0; b < blocks; ++b) {
    Row row(0.7f);
    noiseMixAndClick(row.v, mix.v, seed, click, 0.f, 0.6f, -1, 3, kRate);
    const double r = rms(row.v, kBlock);
    sum += r * r;
  }
  EXPECT_NEAR(std::sqrt(sum / blocks), 0.6, 0.006);
  // Noise Mix 0 without a click leaves the signal alone.
  const Row off(0.f);
  Row row(0.7f);
  noiseMixAndClick(row.v, off.v, seed, click, 0.f, 0.6f, -1, 3, kRate);
  for (float s : row.v) EXPECT_EQ(s, 0.7f);
}

TEST(NoiseClick, ClickStartsAtItsSampleAndDecays) {
  uint32_t seed = 0;
  float click = 0.f;
  const Row off(0.f);
  Row row;
  noiseMixAndClick(row.v, off.v, seed, click, 1.f, 1.f, 20, 0, kRate);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(row.v[i], 0.f);
  EXPECT_NE(row.v[20], 0.f);
  EXPECT_LE(std::fabs(row.v[20]), 1.7320508f);
  EXPECT_LT(click, 1.f);
  // 1.5 ms time constant: gone below 1e-5 after about 17 ms.
  for (int b = 0; b < 20; ++b) {
    row = Row();
    noiseMixAndClick(row.v, off.v, seed, click, 1.f, 1.f, -1, 0, kRate);
  }
  for (float s : row.v) EXPECT_EQ(s, 0.f);
}

TEST(NoiseClick, ClickOnlyFromSilenceAndOnlyForLiveVoices) {
  EXPECT_TRUE(clickFires(0.5f, 0, 12, 0.005f));
  EXPECT_FALSE(clickFires(0.5f, 0, 12, 0.01f));
  EXPECT_FALSE(clickFires(0.5f, -1, 12, 0.f));
  EXPECT_FALSE(clickFires(0.5f, 0, -1, 0.f));
  EXPECT_FALSE(clickFires(0.0001f, 0, 12, 0.f));
}

}  // namespace
