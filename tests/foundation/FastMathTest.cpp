#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "foundation/MLFastMath.h"

namespace {

// Over the inputs the fold reaches (|x| below 64), the sine and the folded angle stay within 1e-6
// relative of the exact functions, including next to the zeros and the peaks of the sine.
TEST(FastMath, SineAndFoldedAngleWithinOneMillionth) {
  for (float x = -64.f; x < 64.f; x += 0.000731f) {
    const double exactSin = std::sin(double(x));
    ASSERT_LE(std::fabs(ml::sinApprox(x) - exactSin), 1e-6 * std::fabs(exactSin) + 1e-30) << x;
    const double exactAngle = std::asin(exactSin);
    ASSERT_LE(std::fabs(ml::foldedAngle(x) - exactAngle), 1e-6 * std::fabs(exactAngle) + 1e-30) << x;
  }
  float row[3] = {0.f, 1.f, -2.5f};
  ml::sinApprox(row, 3);
  EXPECT_EQ(row[0], 0.f);
  EXPECT_EQ(row[1], ml::sinApprox(1.f));
  EXPECT_NEAR(row[2], std::sin(-2.5), 1e-7);
}

// Over the whole range they claim, the exponentials stay within 2e-7 relative of the exact ones; the
// route rows use |x| below 10.
TEST(FastMath, ExponentialsWithinTwoTenMillionths) {
  double worst = 0.0;
  for (float x = -87.f; x < 87.f; x += 0.000917f) {
    const double exact = std::exp(double(x));
    worst = std::max(worst, std::fabs(ml::expApprox(x) - exact) / exact);
  }
  EXPECT_LE(worst, 2e-7);
  EXPECT_EQ(ml::expApprox(0.f), 1.f);
  // 2^x over the range the pitch route reaches (a few octaves) and beyond, exact at whole octaves.
  worst = 0.0;
  for (float x = -126.f; x < 126.f; x += 0.00131f) {
    const double exact = std::exp2(double(x));
    worst = std::max(worst, std::fabs(ml::exp2Approx(x) - exact) / exact);
  }
  EXPECT_LE(worst, 2e-7);
  for (int n = -126; n <= 126; ++n) EXPECT_EQ(ml::exp2Approx(float(n)), std::ldexp(1.f, n)) << n;
}

// Over the Lockhart fold's arguments (1..e + 1) and well beyond, the logarithm stays within 5e-7
// relative of the exact one, also next to 1 where it nears 0, and across the powers of two.
TEST(FastMath, LogarithmWithinFiveTenMillionths) {
  double worst = 0.0;
  for (float x = 1e-30f; x < 1e30f; x *= 1.0001731f) {
    const double exact = std::log(double(x));
    if (exact != 0.0) worst = std::max(worst, std::fabs(ml::logApprox(x) - exact) / std::fabs(exact));
  }
  for (float x = 1.f; x < 4.f; x = std::nextafter(x + 0.0000173f, 5.f)) {
    const double exact = std::log(double(x));
    if (exact != 0.0) worst = std::max(worst, std::fabs(ml::logApprox(x) - exact) / exact);
  }
  EXPECT_LE(worst, 5e-7);
  EXPECT_EQ(ml::logApprox(1.f), 0.f);
}

// The fade is exact at its ends and within 1e-6 relative of sin^2(pi x / 2) = 0.5 (1 - cos(pi x))
// between them, including the small gains at the start of a fade in.
TEST(FastMath, RaisedCosineFadeWithinOneMillionth) {
  EXPECT_EQ(ml::raisedCosineFade(0.f), 0.f);
  EXPECT_EQ(ml::raisedCosineFade(1.f), 1.f);
  for (float x = 1e-6f; x < 1.f; x += 0.0000731f) {
    const double s = std::sin(1.5707963267948966 * double(x));
    ASSERT_LE(std::fabs(ml::raisedCosineFade(x) - s * s), 1e-6 * s * s) << x;
  }
}

}  // namespace
