#include <gtest/gtest.h>

#include <cmath>

#include "engine/voice/Envelopes.h"

namespace {

TEST(Envelopes, SyncedStageTime) {
  EXPECT_EQ(syncedStageTime(0.37f, false, 9, 90.0, 0.001f, 2.f), 0.37f);
  EXPECT_EQ(syncedStageTime(7.f, false, 9, 90.0, 0.001f, 2.f), 7.f);  // unsynced times are not clamped
  EXPECT_EQ(syncedStageTime(-1.f, true, 9, 120.0, 0.001f, 2.f), 0.f);
  EXPECT_FLOAT_EQ(syncedStageTime(0.3f, true, 9, 120.0, 0.001f, 2.f), 0.5f);        // "1/4"
  EXPECT_FLOAT_EQ(syncedStageTime(0.3f, true, 11, 120.0, 0.001f, 2.f), 0.333335f);  // "1/4T"
  // Tempo 0 (or anything not above 1, or not a number) counts as 120.
  EXPECT_FLOAT_EQ(syncedStageTime(0.3f, true, 9, 0.0, 0.001f, 2.f), 0.5f);
  EXPECT_FLOAT_EQ(syncedStageTime(0.3f, true, 9, std::nan(""), 0.001f, 2.f), 0.5f);
  // Clamps of the range and of the division index.
  EXPECT_EQ(syncedStageTime(0.3f, true, 40, 60.0, 0.001f, 2.f), 2.f);
  EXPECT_FLOAT_EQ(syncedStageTime(0.3f, true, -3, 60.0, 0.001f, 2.f), 0.125f);
  EXPECT_EQ(syncedStageTime(0.3f, true, 2, 1000.0, 0.01f, 2.f), 0.01f);
}

TEST(Envelopes, GammaAndShapeSample) {
  EXPECT_EQ(resolveEnvGamma(0.f), 1.f);
  EXPECT_FLOAT_EQ(resolveEnvGamma(-1.f), 0.09071795f);
  EXPECT_EQ(resolveEnvGamma(3.f), resolveEnvGamma(1.f));
  EXPECT_EQ(shapeEnvSample(0.3f, 0.f, 1.f, 1.f), 0.3f);
  EXPECT_FLOAT_EQ(shapeEnvSample(0.5f, 0.f, 1.f, 2.f), 0.25f);
  // Decay from 1 to 0.5: halfway along the segment with exponent 2 is a quarter of the way.
  EXPECT_FLOAT_EQ(shapeEnvSample(0.75f, 1.f, 0.5f, 2.f), 0.875f);
  // Outside the segment the position is clamped; an empty segment leaves y.
  EXPECT_EQ(shapeEnvSample(1.2f, 0.f, 1.f, 2.f), 1.f);
  EXPECT_EQ(shapeEnvSample(0.4f, 0.5f, 0.5f, 3.f), 0.4f);
  const float starts[] = {0.f, 1.f, 0.6f, 0.6f, 0.f};
  for (int stage = 0; stage < 5; ++stage) EXPECT_EQ(envSegmentStart(stage, 0.6f), starts[stage]) << stage;
}

TEST(Envelopes, WarpAndInverse) {
  EXPECT_EQ(envWarp(0.37f, 0.f), 0.37f);
  EXPECT_EQ(envWarpInv(1.4f, 0.f), 1.4f);  // linear: unclamped
  EXPECT_NEAR(envWarp(0.5f, 1.f), (std::exp(3.0) - 1.0) / (std::exp(6.0) - 1.0), 1e-6);
  EXPECT_NEAR(envWarp(0.5f, -1.f), (std::exp(-3.0) - 1.0) / (std::exp(-6.0) - 1.0), 1e-6);
  for (float c : {-1.f, -0.4f, 0.2f, 1.f}) {
    EXPECT_NEAR(envWarp(0.f, c), 0.f, 1e-7f);
    EXPECT_NEAR(envWarp(1.f, c), 1.f, 1e-6f);
    for (float x = 0.f; x <= 1.f; x += 0.05f) EXPECT_NEAR(envWarpInv(envWarp(x, c), c), x, 2e-5f) << c;
  }
  EXPECT_NEAR(envWarpInv(1.5f, 0.5f), 1.f, 1e-6f);
  EXPECT_NEAR(envWarpInv(-0.5f, 0.5f), 0.f, 1e-6f);
}

}  // namespace
