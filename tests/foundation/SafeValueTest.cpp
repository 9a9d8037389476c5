#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/MLSafeValue.h"

namespace {

TEST(SafeValue, ClampMapsNonFiniteToBounds) {
  EXPECT_EQ(ml::safeClamp(std::nanf(""), 0.5f, 16.0f), 0.5f);
  EXPECT_EQ(ml::safeClamp(std::nan(""), -1.0, 1.0), -1.0);
  EXPECT_EQ(ml::safeClamp(INFINITY, 0.0f, 1.0f), 1.0f);
  EXPECT_EQ(ml::safeClamp(-INFINITY, 0.0f, 1.0f), 0.0f);
  EXPECT_EQ(ml::safeClamp(0.25, 0.0, 1.0), 0.25);
  EXPECT_EQ(ml::safeClamp(2.0, 0.0, 1.0), 1.0);
}

TEST(SafeValue, FiniteOr) {
  EXPECT_EQ(ml::finiteOr(std::nanf(""), 1.0f), 1.0f);
  EXPECT_EQ(ml::finiteOr(-INFINITY, 2.0), 2.0);
  EXPECT_EQ(ml::finiteOr(3.5, 2.0), 3.5);
}

TEST(SafeValue, IntegerConversionsSaturate) {
  EXPECT_EQ(ml::saturateToInt32(std::nan("")), 0);
  EXPECT_EQ(ml::saturateToInt32(1e300), INT32_MAX);
  EXPECT_EQ(ml::saturateToInt32(-1e300), INT32_MIN);
  EXPECT_EQ(ml::saturateToInt32(2147483647.5), INT32_MAX);
  EXPECT_EQ(ml::saturateToInt32(-2.9), -2);
  EXPECT_EQ(ml::saturateToInt64(std::nan("")), 0);
  EXPECT_EQ(ml::saturateToInt64(INFINITY), INT64_MAX);
  EXPECT_EQ(ml::saturateToInt64(-INFINITY), INT64_MIN);
  EXPECT_EQ(ml::saturateToInt64(9.3e18), INT64_MAX);
  EXPECT_EQ(ml::saturateToInt64(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(ml::saturateToInt64(123456789012.7), 123456789012);
}

}  // namespace
