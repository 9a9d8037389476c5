#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <vector>

#include "engine/voice/CarrierKernels.h"

namespace {

TEST(CarrierKernels, PolynomialSineHitsItsQuarterPoints) {
  for (int q = 0; q < 4; ++q)
    EXPECT_NEAR(phasorToSineScalar(0.25f * q), (q == 0) ? -1.f : (q == 2), 1e-6f) << q;
  EXPECT_EQ(phasorToSineWrapped(1.25f), phasorToSineScalar(0.25f));
  for (float p = 0.f; p < 1.f; p += 0.001f) {
    EXPECT_NEAR(phasorToSineScalar(p), -std::cos(6.2831853f * p), 0.03f) << p;
  }
}

TEST(CarrierKernels, WrappedSineStaysWithinUnityForAnyPhase) {
  // Unwrapped phases as the FM index pushes them: the bare polynomial leaves -1..1 there.
  EXPECT_GT(std::fabs(phasorToSineScalar(-0.3f)), 1.2f);
  for (float p = -40.f; p < 40.f; p += 0.00731f) {
    const float y = phasorToSineWrapped(p);
    EXPECT_LE(std::fabs(y), 1.f) << p;
    EXPECT_NEAR(y, phasorToSineScalar(p - std::floor(p)), 1e-5f) << p;
  }
  EXPECT_EQ(wrapPhase(-0.25f), 0.75f);
  for (float bad : {1e9f, std::nanf(""), -INFINITY}) EXPECT_EQ(wrapPhase(bad), 0.f) << bad;
}

// The four-lane wrap gives the scalar wrap exactly, whole phases and those out of range included.
TEST(CarrierKernels, LaneWrapMatchesTheScalarWrap) {
  using namespace ml::simd;
  const float edges[] = {-3.f,       -1.f,      -0.f,       0.f,           1.f,
                         8388607.5f, 8388608.f, -8388608.f, std::nanf(""), INFINITY};
  std::vector<float> phases(std::begin(edges), std::end(edges));
  for (float p = -40.f; p < 40.f; p += 0.00731f) phases.push_back(p);
  while (phases.size() % 4) phases.push_back(0.5f);
  for (size_t i = 0; i < phases.size(); i += 4) {
    alignas(16) float wrapped[4];
    storeF(wrapped, wrapPhaseLanes(loadU(phases.data() + i)));
    for (size_t k = 0; k < 4; ++k) ASSERT_EQ(wrapped[k], wrapPhase(phases[i + k])) << phases[i + k];
  }
}

TEST(CarrierKernels, WarpCarrierBendsThePhaseAtItsKnee) {
  for (float p = -1.f; p < 2.f; p += 0.0137f) {
    EXPECT_EQ(shapeCarrier(p, 0.f, kShapeModeWarp), phasorToSineWrapped(p)) << p;
    EXPECT_EQ(shapeCarrier(p, 0.7f, kShapeModeCarrier), phasorToSineWrapped(p)) << p;
    EXPECT_EQ(shapeCarrier(p, 0.7f, kShapeModeSine), shapeCarrier(p, 0.f, kShapeModeSine)) << p;
    EXPECT_LE(std::fabs(shapeCarrier(p, 1.f, kShapeModeWarp)), 1.f);
  }
  // Shape 1: the first half cycle (the rise to the peak) is squeezed into the first 6 % of the phase.
  EXPECT_NEAR(shapeCarrier(0.06f, 1.f, kShapeModeWarp), 1.f, 1e-5f);
  EXPECT_NEAR(shapeCarrier(0.53f, 1.f, kShapeModeWarp), phasorToSineScalar(0.75f), 1e-5f);
  // Out-of-range shapes are clamped, never divide by a non-positive knee.
  EXPECT_EQ(shapeCarrier(0.3f, 5.f, kShapeModeWarp), shapeCarrier(0.3f, 1.f, kShapeModeWarp));
  EXPECT_EQ(shapeCarrier(0.3f, std::nanf(""), kShapeModeWarp), shapeCarrier(0.3f, 0.f, kShapeModeWarp));
  EXPECT_EQ(carrierSample(0.3f, 1.f, kShapeModeWarp), shapeCarrier(0.3f, 1.f, kShapeModeWarp));
  EXPECT_EQ(carrierSample(0.3f, 1.f, kShapeModeCarrier), phasorToSineWrapped(0.3f));
}

}  // namespace
