#include <gtest/gtest.h>

#include "foundation/MLProjections.h"
#include "foundation/MLWindows.h"

namespace {

namespace p = ml::projections;
namespace w = ml::dspwindows;

TEST(MLProjections, EndPointsOfTheEases) {
  for (auto f : {p::unity, p::squared, p::clip, p::smoothstep, p::easeOut, p::easeIn, p::easeInOut,
                 p::easeOutCubic, p::easeInCubic, p::easeInOutCubic, p::easeOutQuartic, p::easeInQuartic,
                 p::easeInOutQuartic, p::overshoot, p::bisquared, p::invBisquared}) {
    EXPECT_FLOAT_EQ(f(0.f), 0.f);
    EXPECT_FLOAT_EQ(f(1.f), 1.f);
  }
  EXPECT_FLOAT_EQ(p::flip(0.f), 1.f);
  EXPECT_FLOAT_EQ(p::zero(0.7f), 0.f);
}

TEST(MLProjections, KnownValues) {
  EXPECT_FLOAT_EQ(p::easeInOut(0.25f), 0.125f);
  EXPECT_FLOAT_EQ(p::easeInOutQuartic(0.75f), 1.f - 0.03125f);
  EXPECT_FLOAT_EQ(p::invBisquared(-0.25f), -0.5f);
  EXPECT_FLOAT_EQ(p::clip(-0.5f), 0.f);
  EXPECT_FLOAT_EQ(p::bell(0.f), 1.f / 1024.f);
  EXPECT_FLOAT_EQ(p::overshoot(0.75f), 1.125f);
}

TEST(MLWindows, KnownValues) {
  EXPECT_EQ(w::rectangle(0.25f), 1.f);
  EXPECT_EQ(w::rectangle(0.2f), 0.f);
  EXPECT_FLOAT_EQ(w::triangle(0.25f), 0.5f);
  EXPECT_FLOAT_EQ(w::hamming(0.f), 0.08f);
  for (auto f : {w::triangle, w::raisedCosine, w::hamming, w::blackman, w::flatTop})
    EXPECT_NEAR(f(0.5f), 1.f, 1e-6f);
  EXPECT_NEAR(w::blackman(0.f), 0.f, 1e-6f);
  EXPECT_NEAR(w::flatTop(0.f), -0.000421f, 1e-5f);
}

}  // namespace
