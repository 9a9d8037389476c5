#include <gtest/gtest.h>

#include <cmath>

#include "engine/voice/FilterCalibration.h"
#include "engine/voice/FilterSvf.h"

namespace {

TEST(FilterCalibration, FactorsInterpolateInLogFrequencyAndGiveUnityOutsideTheirModes) {
  // Between knots the factor is linear in ln(hz): the geometric middle of 1 and 2 kHz.
  EXPECT_NEAR(filterCalibCorrForMode(kFilterLowPass, std::sqrt(2.f) * 1000.f),
              0.5f * (filterCalibCorrForMode(kFilterLowPass, 1000.f) +
                      filterCalibCorrForMode(kFilterLowPass, 2000.f)),
              1e-6f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 20.f), filterCalibCorrForMode(kFilterLowPass, 100.f));
  EXPECT_EQ(filterCalibCorrForMode(kFilterLowPass, 19000.f), 1.f);
  EXPECT_EQ(filterCalibCorrForMode(kFilterHighPass, 22000.f), 1.f);
  for (int mode : {kFilterBandPass, kFilterNotch, 7}) EXPECT_EQ(filterCalibCorrForMode(mode, 1000.f), 1.f);
  for (int mode : {kFilterLowPass, kFilterHighPass})
    for (float hz : {std::nanf(""), INFINITY, -INFINITY}) EXPECT_EQ(filterCalibCorrForMode(mode, hz), 1.f);
}

TEST(FilterCalibration, BlendInterpolatesTheTwoModesFactors) {
  const float lp = filterCalibCorrForMode(kFilterLowPass, 1000.f);
  const float hp = filterCalibCorrForMode(kFilterHighPass, 1000.f);
  EXPECT_FLOAT_EQ(applyFilterCalibration(1000.f, kFilterLowPass, false, 0, 0, 0.f), 783.f);
  EXPECT_FLOAT_EQ(
      applyFilterCalibration(1000.f, kFilterBandPass, true, kFilterLowPass, kFilterHighPass, 0.5f),
      1000.f * 0.5f * (lp + hp));
  EXPECT_FLOAT_EQ(
      applyFilterCalibration(1000.f, kFilterLowPass, true, kFilterBandPass, kFilterLowPass, 0.25f),
      1000.f * (1.f + 0.25f * (lp - 1.f)));
}

}  // namespace
