#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "engine/voice/FilterApprox.h"

namespace {

using ml::simd::Lanes;

// The largest relative error of approx against the double reference over x = lo .. hi, geometrically
// spaced, four arguments per call.
template <typename Approx, typename Reference>
double worstRelativeError(float lo, float hi, Approx approx, Reference reference) {
  constexpr int kSteps = 40000;
  double worst = 0.0;
  const double ratio = std::pow(double(hi) / double(lo), 1.0 / kSteps);
  for (int n = 0; n <= kSteps; n += 4) {
    alignas(16) float x[4], y[4];
    for (int l = 0; l < 4; ++l) x[l] = std::fmin(hi, float(double(lo) * std::pow(ratio, n + l)));
    ml::simd::storeF(y, approx(Lanes(ml::simd::loadF(x))).v);
    for (int l = 0; l < 4; ++l) {
      const double ref = reference(double(x[l]));
      worst = std::fmax(worst, std::fabs((double(y[l]) - ref) / ref));
    }
  }
  return worst;
}

TEST(FilterApprox, TanAndLogStayWithinOnePartPerMillionOverTheFilterRanges) {
  constexpr float kPi = std::numbers::pi_v<float>;
  const auto tan = [](Lanes x) { return tanApprox(x); };
  const auto tanRef = [](double x) { return std::tan(x); };
  // pi f over the clean core's range, a quarter of it on the 4x core, and the ladder's (the same).
  EXPECT_LT(worstRelativeError(kPi * 0.0001f, kPi * 0.49f, tan, tanRef), 1e-6);
  const auto tanToQuarterPi = [](Lanes x) { return tanApproxToQuarterPi(x); };
  EXPECT_LT(worstRelativeError(kPi * 0.000025f, kPi * 0.1225f, tanToQuarterPi, tanRef), 1e-6);
  // Cutoffs reach the calibration's log only clamped to 100 Hz .. 19 kHz.
  const auto log = [](Lanes x) { return logApprox(x); };
  EXPECT_LT(worstRelativeError(100.f, 19000.f, log, [](double x) { return std::log(x); }), 1e-6);
}

// Below pi/4 the polynomial alone gives tanApprox's values exactly, so the 4x filters keep their sound.
TEST(FilterApprox, TanToQuarterPiIsTanBelowQuarterPi) {
  constexpr int kSteps = 4096;
  for (int n = 0; n <= kSteps; n += 4) {
    alignas(16) float x[4], full[4], quarter[4];
    for (int l = 0; l < 4; ++l) x[l] = std::fmin(0.785398163f, 0.785398163f * float(n + l) / kSteps);
    ml::simd::storeF(full, tanApprox(Lanes(ml::simd::loadF(x))).v);
    ml::simd::storeF(quarter, tanApproxToQuarterPi(Lanes(ml::simd::loadF(x))).v);
    for (int l = 0; l < 4; ++l) ASSERT_EQ(full[l], quarter[l]) << x[l];
  }
}

}  // namespace
