#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "KernelMeasure.h"
#include "engine/voice/Wavefolder.h"

namespace {

constexpr float kHalfPi = 1.5707964f;

TEST(Wavefolder, LockhartCurve) {
  EXPECT_NEAR(kLockRaw0, 0.0191534f, 1e-7f);
  EXPECT_EQ(lockhartFold(0.f), 0.f);
  EXPECT_NEAR(lockhartFold(kHalfPi), 0.980847f, 1e-6f);
  for (float x = -20.f; x < 20.f; x += 0.01f) {
    ASSERT_LE(std::fabs(lockhartFold(x)), 0.98085f);
    ASSERT_NEAR(lockhartFold(x), -lockhartFold(-x), 1e-6f);
  }
  EXPECT_NEAR(lambertW0pos(0.f), 0.f, 1e-9f);
  EXPECT_NEAR(lambertW0pos(2.7182817f), 0.980847f, 1e-6f);
}

// The table's integral against a plain one (the trapezoid rule on steps of 1e-4 of the curve itself).
TEST(Wavefolder, LockhartIntegral) {
  constexpr double kStep = 1e-4;
  double plain = 0.0;
  for (int k = 0; k < 200000; ++k) {
    const double x = k * kStep;
    if (k % 1000 == 0) {
      ASSERT_NEAR(lockhartFoldIntegral(x), plain, 1e-7) << x;
      ASSERT_NEAR(lockhartFoldIntegral(-x), plain, 1e-7) << x;
    }
    plain += 0.5 * kStep * (lockhartFold(float(x)) + lockhartFold(float(x + kStep)));
  }
}

// The fold's mean over three inputs as a plain sum: the first-order means of its integral over the two
// spans (Simpson's rule on lockhartFoldIntegral), differenced and divided by half the whole span.
double plainSecondMean(double x0, double x1, double x2) {
  const auto integralMean = [](double a, double b) {
    constexpr int kSteps = 2000;
    double sum = lockhartFoldIntegral(a) + lockhartFoldIntegral(b);
    for (int k = 1; k < kSteps; ++k)
      sum += (k % 2 ? 4.0 : 2.0) * lockhartFoldIntegral(a + (b - a) * k / kSteps);
    return sum / (3.0 * kSteps);
  };
  constexpr double kApart = 2e-3;  // where the third input returns to the first, the mean of two beside it
  if (std::fabs(x2 - x0) < kApart / 2)
    return 0.5 * (plainSecondMean(x0, x1, x0 + kApart) + plainSecondMean(x0, x1, x0 - kApart));
  return 2.0 * (integralMean(x1, x2) - integralMean(x0, x1)) / (x2 - x0);
}

TEST(Wavefolder, LockhartMeans) {
  const float triples[][3] = {{0.f, 0.3f, 0.7f},   {1.2f, 1.9f, 2.4f},    {-5.f, -3.f, -1.f},
                              {4.f, 4.f, 4.f},     {2.f, 2.000001f, 2.f}, {-7.f, -6.5f, -7.f},
                              {10.f, 12.f, 14.5f}, {1.57f, 1.58f, 1.59f}};
  for (const auto& t : triples) {
    LockhartMeans m = lockhartMeansFrom(t[0], t[1]);
    float y;
    lockhartMeans(m, &t[2], 1, &y);
    EXPECT_NEAR(y, plainSecondMean(t[0], t[1], t[2]), 2e-5) << t[0] << " " << t[1] << " " << t[2];
  }
  // A held input gives the curve itself, and leaves the state as the means of a moving one would.
  LockhartMeans held = lockhartMeansFrom(0.9f, 0.9f);
  const float x = 0.9f;
  float y;
  lockhartMeans(held, &x, 1, &y);
  EXPECT_NEAR(y, lockhartFold(0.9f), 1e-6f);
  const LockhartMeans fresh = lockhartMeansFrom(0.9f, 0.9f);
  EXPECT_EQ(held.lastSecond, fresh.lastSecond);
  EXPECT_EQ(held.lastMean, fresh.lastMean);
  // A row, with its inputs meeting and returning, as input by input (the row's lanes against the single one).
  float row[kMaxLockhartMeans];
  for (int k = 0; k < kMaxLockhartMeans; ++k) row[k] = 9.f * sinf(0.07f * float(k));
  row[40] = row[39];
  row[61] = row[59];
  // Signed zeros and the ends of the quarter period and the half turn, in both lanes of a pair.
  const float edges[] = {-0.f, 0.f, 1.5707964f, -1.5707964f, 3.1415927f, -3.1415927f, 4.712389f, 1.5707963f};
  std::copy(std::begin(edges), std::end(edges), row + 90);
  LockhartMeans whole = lockhartMeansFrom(0.3f, -0.2f);
  LockhartMeans single = whole;
  float rowMeans[kMaxLockhartMeans];
  lockhartMeans(whole, row, kMaxLockhartMeans, rowMeans);
  for (int k = 0; k < kMaxLockhartMeans; ++k) {
    lockhartMeans(single, row + k, 1, &y);
    ASSERT_EQ(rowMeans[k], y) << k;
  }
}

// A NaN reaching the curve's tables gives NaN, and neither it nor an infinity reads them out of range.
TEST(Wavefolder, LockhartMeansOfNonFiniteInputsAreNaN) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(std::isnan(lockhartFoldIntegral(nan)));
  EXPECT_TRUE(std::isnan(lockhartFoldIntegral(inf)));
  float row[kMaxLockhartMeans];
  for (int k = 0; k < kMaxLockhartMeans; ++k) row[k] = 0.01f * float(k);
  row[3] = nan;
  row[8] = inf;
  row[9] = -inf;
  LockhartMeans m = lockhartMeansFrom(nan, 0.f);
  float out[kMaxLockhartMeans];
  lockhartMeans(m, row, kMaxLockhartMeans, out);
  for (int k : {3, 4, 5}) EXPECT_TRUE(std::isnan(out[k])) << k;
}

TEST(Wavefolder, SergeCurve) {
  EXPECT_EQ(sergeFold(0.f), 0.f);
  EXPECT_FLOAT_EQ(sergeFold(1.f), sinf(1.6f * tanhf(1.f / 1.6f)));
  // The rational tanh inside keeps the curve within 1e-6 of the exact one over the fold's inputs.
  for (float x = -19.f; x < 19.f; x += 0.0037f) {
    const double exact = std::sin(1.6 * std::tanh(double(x) / 1.6));
    ASSERT_LE(std::fabs(sergeFold(x) - exact), 1e-6 * std::fabs(exact)) << x;
  }
  for (float x = -50.f; x < 50.f; x += 0.05f) ASSERT_LE(std::fabs(sergeFold(x)), 1.f);
}

TEST(Wavefolder, CharacterMorph) {
  for (float x : {-2.3f, -0.4f, 0.7f, 3.1f}) {
    const float s = sinf(x);
    const float serge = 0.697744f * sergeFold(x);
    const float lock = 1.612524f * lockhartFold(x);
    EXPECT_EQ(foldCharMorph(x, s, -1.f), s);
    EXPECT_FLOAT_EQ(foldCharMorph(x, s, 0.25f), 0.5f * (s + serge));
    EXPECT_FLOAT_EQ(foldCharMorph(x, s, 0.75f), 0.5f * (serge + lock));
  }
}

constexpr int kBlock = 64;

// Constant rows of one block and the stage inputs built from them.
struct FoldRows {
  float fold[kBlock];
  float bias[kBlock];
  float character[kBlock];
  float zero[kBlock]{};
  FoldInputs inputs;

  FoldRows(float f, float b, float c) {
    for (int i = 0; i < kBlock; ++i) {
      fold[i] = f;
      bias[i] = b;
      character[i] = c;
    }
    inputs.fold = fold;
    inputs.foldRoute = zero;
    inputs.bias = bias;
    inputs.biasRoute = zero;
    inputs.character = character;
    inputs.characterRoute = zero;
  }
};

void testSignal(float* row, int block) {
  for (int i = 0; i < kBlock; ++i) row[i] = 0.8f * sinf(0.05f * static_cast<float>(block * kBlock + i));
}

using FoldStage = kernel_test::HalfbandTest;

TEST_F(FoldStage, UnityFoldPassesUntouched) {
  FoldRows rows(1.f, 0.3f, 0.7f);
  FoldState fold;
  float row[kBlock];
  testSignal(row, 0);
  float before[kBlock];
  std::memcpy(before, row, sizeof(row));
  foldStage(row, fold, rows.inputs);
  EXPECT_EQ(std::memcmp(row, before, sizeof(row)), 0);
  const FoldState fresh;
  EXPECT_EQ(std::memcmp(&fold, &fresh, sizeof fold), 0);
  // A route that lifts the amount above 1.001 wakes the stage.
  rows.inputs.foldOffset = 0.01f;
  foldStage(row, fold, rows.inputs);
  EXPECT_NE(std::memcmp(&fold.oversampler.up, &fresh.oversampler.up, sizeof fresh.oversampler.up), 0);
  EXPECT_NE(std::memcmp(&fold.oversampler.down, &fresh.oversampler.down, sizeof fresh.oversampler.down), 0);
}

// The stage's shaper of one 2x sample u, sample by sample: the sine and Serge folds at the shaper input
// before, the Lockhart fold as its means.
struct StageShaper {
  float character, gain, bias;
  mutable float last{0.f};
  mutable LockhartMeans means{lockhartMeansFrom(0.f, 0.f)};

  float operator()(float u) const {
    const float v = (u + bias) * gain;
    float mean;
    lockhartMeans(means, &v, 1, &mean);
    const float lockhart = 1.612524f * mean;
    const float s = sinf(last);
    const float serge = 0.697744f * sergeFold(last);
    last = v;
    if (character <= 0.f) return s;
    if (character < 0.5f) return s + (serge - s) * 2.f * character;
    return serge + (lockhart - serge) * 2.f * (character - 0.5f);
  }
};

// Runs the stage for `blocks` blocks against a plain oversampled reference: before sample i of a block,
// follow(i, shaper) sets the reference's shaper for it and gives the wet share it is mixed by.
template <typename Shaper, typename Follow>
void expectMixFollowing(FoldRows& rows, int blocks, Shaper& shaper, Follow follow) {
  FoldState fold;
  Oversampler2x ref;
  for (int b = 0; b < blocks; ++b) {
    float row[kBlock];
    testSignal(row, b);
    float dry[kBlock];
    std::memcpy(dry, row, sizeof(row));
    foldStage(row, fold, rows.inputs);
    for (int i = 0; i < kBlock; ++i) {
      const float wet = follow(i, shaper);
      const float y = ref.process(dry[i], shaper);
      ASSERT_NEAR(row[i], dry[i] + (y - dry[i]) * wet, 1e-6f) << b << " " << i;
      ASSERT_LE(std::fabs(row[i]), 2.f);
    }
  }
}

// The same with one shaper mixed by `wet` throughout.
template <typename Shaper>
void expectMix(FoldRows& rows, float wet, Shaper shaper) {
  expectMixFollowing(rows, 8, shaper, [wet](int, Shaper&) { return wet; });
}

TEST_F(FoldStage, FoldOnePointOneIsHalfWet) {
  FoldRows rows(1.1f, 0.f, 0.f);
  const float g = 1.5707964f * 1.1f;
  expectMix(rows, 0.5f, StageShaper{0.f, g, 0.f});
}

TEST_F(FoldStage, BiasAndCharacterShapeTheFold) {
  FoldRows rows(3.f, -1.f, 1.f);
  const float g = 1.5707964f * 3.f;
  expectMix(rows, 1.f, StageShaper{1.f, g, -0.5f});
  // Modulation adds to the rows and is clamped to each range.
  FoldRows modulated(2.f, 0.f, 0.f);
  modulated.inputs.foldOffset = 9.f;
  modulated.inputs.biasOffset = 0.25f;
  modulated.inputs.characterOffset = 0.75f;
  const float g8 = 1.5707964f * 8.f;
  expectMix(modulated, 1.f, StageShaper{0.75f, g8, 0.125f});
}

// Rows that move within a block: the amount (through the fade-in of the wet share) and the bias follow
// them sample by sample.
TEST_F(FoldStage, MovingRowsAreFollowedSampleBySample) {
  FoldRows rows(1.f, 0.f, 0.f);
  for (int i = 0; i < kBlock; ++i) {
    rows.fold[i] = 1.f + 0.004f * float(i);
    rows.bias[i] = -0.4f + 0.01f * float(i);
  }
  StageShaper shaper{0.f, 0.f, 0.f};
  expectMixFollowing(rows, 4, shaper, [&rows](int i, StageShaper& s) {
    s.gain = 1.5707964f * rows.fold[i];
    s.bias = 0.5f * rows.bias[i];
    return std::min(1.f, (rows.fold[i] - 1.f) * 5.f);
  });
  // A character crossing 0.5 within the block: the sine fold below it, the Lockhart fold above.
  FoldRows crossing(3.f, 0.f, 0.f);
  for (int i = 0; i < kBlock; ++i) crossing.character[i] = 0.2f + 0.01f * float(i);
  StageShaper morph{0.f, 1.5707964f * 3.f, 0.f};
  expectMixFollowing(crossing, 4, morph, [&crossing](int i, StageShaper& s) {
    s.character = crossing.character[i];
    return 1.f;
  });
}

}  // namespace
