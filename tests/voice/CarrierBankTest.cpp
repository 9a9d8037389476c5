#include <gtest/gtest.h>

#include <cmath>

#include "engine/voice/CarrierBank.h"

namespace {

CarrierBank builtBank(float tilt, const float* keyHz = nullptr) {
  CarrierBank b;
  rebuildCarrierBank(b, tilt, 0, keyHz);
  glideCarrierBank(b);
  return b;
}

TEST(CarrierBank, TiltSetsThePowerLawOfTheHarmonics) {
  const CarrierBank flat = builtBank(1.f);
  ASSERT_EQ(flat.count, 48);
  for (int k = 0; k < 48; ++k) {
    EXPECT_NEAR(flat.targetAmps[k], 0.0623556f, 1e-7f) << k;
    EXPECT_EQ(flat.ratios[k], float(k + 1));
  }
  const CarrierBank steep = builtBank(0.f);
  EXPECT_NEAR(steep.targetAmps[1] / steep.targetAmps[0], std::pow(2.f, -2.5f), 1e-6f);
  // The first build takes the targets at once.
  for (int k = 0; k < 48; ++k) EXPECT_EQ(steep.liveAmps[k], steep.targetAmps[k]);
  EXPECT_EQ(steep.liveCount, 48);
}

TEST(CarrierBank, RebuildsOnlyForAMovedTiltOrANewTuning) {
  CarrierBank b = builtBank(0.5f);
  EXPECT_FALSE(carrierBankNeedsRebuild(b, 0.50009f, 0));
  EXPECT_TRUE(carrierBankNeedsRebuild(b, 0.5002f, 0));
  EXPECT_TRUE(carrierBankNeedsRebuild(b, 0.5f, 1));
  EXPECT_TRUE(carrierBankNeedsRebuild(CarrierBank{}, 0.5f, 0));

  // Later rebuilds glide the live amplitudes toward the new targets.
  const float before = b.liveAmps[3];
  rebuildCarrierBank(b, 1.f, 0, nullptr);
  glideCarrierBank(b);
  EXPECT_NEAR(b.liveAmps[3], before + (b.targetAmps[3] - before) * 0.235f, 1e-7f);
}

TEST(CarrierBank, TunedRatiosComeFromKeysUpTo127) {
  float keyHz[128];
  for (int k = 0; k < 128; ++k) keyHz[k] = 440.f * std::pow(2.f, float(k - 69) / 12.f);
  const CarrierBank tet = builtBank(1.f, keyHz);
  ASSERT_EQ(tet.count, 48);
  EXPECT_NEAR(tet.ratios[12], 2.f, 1e-5f);
  EXPECT_NEAR(tet.ratios[47], std::pow(2.f, 47.f / 12.f), 1e-4f);

  // A sparse tuning runs out of keys at 127 with fewer than 48 partials; unusable keys are skipped.
  for (int k = 61; k < 128; k += 2) keyHz[k] = (k % 4 == 1) ? 0.f : std::nanf("");
  CarrierBank sparse = builtBank(1.f, keyHz);
  EXPECT_EQ(sparse.count, 34);
  EXPECT_EQ(sparse.targetAmps[34], 0.f);
  EXPECT_NEAR(sparse.targetAmps[0], 0.85f / std::sqrt(34.f) / std::sqrt(std::log(34.f)), 1e-6f);

  // Partials dropped by a rebuild fade out before they stop being rendered, at their old pitch.
  CarrierBank b = builtBank(1.f);
  rebuildCarrierBank(b, 1.f, 1, keyHz);
  glideCarrierBank(b);
  EXPECT_EQ(b.liveCount, 48);
  EXPECT_EQ(b.ratios[47], 48.f);
  for (int i = 0; i < 80; ++i) glideCarrierBank(b);
  EXPECT_EQ(b.liveCount, 34);

  // Without a usable key 60 the bank falls back to the harmonics.
  keyHz[60] = -1.f;
  EXPECT_EQ(builtBank(1.f, keyHz).ratios[2], 3.f);
}

}  // namespace
