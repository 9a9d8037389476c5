#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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
  Oversampler2x os;
  float row[kBlock];
  testSignal(row, 0);
  float before[kBlock];
  std::memcpy(before, row, sizeof(row));
  foldStage(row, os, rows.inputs);
  EXPECT_EQ(std::memcmp(row, before, sizeof(row)), 0);
  const Oversampler2x fresh;
  EXPECT_EQ(std::memcmp(&os, &fresh, sizeof os), 0);
  // A route that lifts the amount above 1.001 wakes the stage.
  rows.inputs.foldOffset = 0.01f;
  foldStage(row, os, rows.inputs);
  EXPECT_NE(std::memcmp(&os.up, &fresh.up, sizeof os.up), 0);
  EXPECT_NE(std::memcmp(&os.down, &fresh.down, sizeof os.down), 0);
}

// Runs the stage against a plain oversampled reference of the same shaper mixed by `wet`.
template <typename Shaper>
void expectMix(FoldRows& rows, float wet, Shaper shaper) {
  Oversampler2x os;
  Oversampler2x ref;
  for (int b = 0; b < 8; ++b) {
    float row[kBlock];
    testSignal(row, b);
    float dry[kBlock];
    std::memcpy(dry, row, sizeof(row));
    foldStage(row, os, rows.inputs);
    for (int i = 0; i < kBlock; ++i) {
      const float y = ref.process(dry[i], shaper);
      ASSERT_NEAR(row[i], dry[i] + (y - dry[i]) * wet, 1e-6f) << b << " " << i;
      ASSERT_LE(std::fabs(row[i]), 2.f);
    }
  }
}

TEST_F(FoldStage, FoldOnePointOneIsHalfWet) {
  FoldRows rows(1.1f, 0.f, 0.f);
  const float g = 1.5707964f * 1.1f;
  expectMix(rows, 0.5f, [g](float u) { return sinf(u * g); });
}

TEST_F(FoldStage, BiasAndCharacterShapeTheFold) {
  FoldRows rows(3.f, -1.f, 1.f);
  const float g = 1.5707964f * 3.f;
  expectMix(rows, 1.f, [g](float u) {
    const float v = (u - 0.5f) * g;
    return foldCharMorph(v, sinf(v), 1.f);
  });
  // Modulation adds to the rows and is clamped to each range.
  FoldRows modulated(2.f, 0.f, 0.f);
  modulated.inputs.foldOffset = 9.f;
  modulated.inputs.biasOffset = 0.25f;
  modulated.inputs.characterOffset = 0.75f;
  const float g8 = 1.5707964f * 8.f;
  expectMix(modulated, 1.f, [g8](float u) {
    const float v = (u + 0.125f) * g8;
    return foldCharMorph(v, sinf(v), 0.75f);
  });
}

}  // namespace
