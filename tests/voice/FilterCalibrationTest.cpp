#include <gtest/gtest.h>

#include <cmath>

#include "engine/voice/FilterCalibration.h"
#include "engine/voice/FilterSvf.h"

namespace {

TEST(FilterCalibration, FactorsFollowTheTablesAndTheirEnds) {
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 1000.f), 0.783f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterHighPass, 1000.f), 1.236f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 100.f), 0.74f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 20.f), 0.74f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 12000.f), 0.852f);
  EXPECT_NEAR(filterCalibCorrForMode(kFilterLowPass, 15000.f), 0.923867f, 1e-6f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 19000.f), 1.f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterHighPass, 22000.f), 1.f);
  // Between knots the factor is linear in ln(hz): the geometric middle of 1 and 2 kHz.
  EXPECT_NEAR(filterCalibCorrForMode(kFilterLowPass, std::sqrt(2.f) * 1000.f), 0.5f * (0.783f + 0.786f),
              1e-6f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterBandPass, 1000.f), 1.f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterNotch, 1000.f), 1.f);
  EXPECT_EQ(filterCalibCorrForMode(7, 1000.f), 1.f);
}

TEST(FilterCalibration, NonFiniteCutoffsGiveUnity) {
  for (int mode : {kFilterLowPass, kFilterHighPass}) {
    EXPECT_EQ(filterCalibCorrForMode(mode, std::nanf("")), 1.f);
    EXPECT_EQ(filterCalibCorrForMode(mode, INFINITY), 1.f);
    EXPECT_EQ(filterCalibCorrForMode(mode, -INFINITY), 1.f);
  }
}

TEST(FilterCalibration, BlendInterpolatesTheTwoModesFactors) {
  EXPECT_FLOAT_EQ(applyFilterCalibration(1000.f, kFilterLowPass, false, 0, 0, 0.f), 783.f);
  EXPECT_FLOAT_EQ(applyFilterCalibration(1000.f, kFilterBandPass, false, 0, 0, 0.f), 1000.f);
  EXPECT_FLOAT_EQ(
      applyFilterCalibration(1000.f, kFilterBandPass, true, kFilterLowPass, kFilterHighPass, 0.5f),
      1000.f * 0.5f * (0.783f + 1.236f));
  EXPECT_FLOAT_EQ(
      applyFilterCalibration(1000.f, kFilterLowPass, true, kFilterBandPass, kFilterLowPass, 0.25f),
      1000.f * (1.f + 0.25f * (0.783f - 1.f)));
}

}  // namespace
