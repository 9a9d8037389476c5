#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>

#include "foundation/MLDSPVector.h"
#include "foundation/MLSafeValue.h"

namespace {

using ml::DSPVector;
using ml::DSPVectorArrayInt;

uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

TEST(DSPVector, LayoutAndRows) {
  static_assert(alignof(DSPVector) == 16);
  static_assert(sizeof(ml::DSPVectorArray<8>) == 512 * sizeof(float));
  ml::DSPVectorArray<8> rows;
  rows.row(3)[5] = 2.0f;
  EXPECT_EQ(rows.getConstBuffer()[64 * 3 + 5], 2.0f);
  EXPECT_EQ(rows.constRow(3), rows.getConstBuffer() + 192);
}

TEST(DSPVector, ArithmeticIsElementWise) {
  DSPVector a, b;
  for (size_t i = 0; i < 64; ++i) {
    a[i] = float(i);
    b[i] = 0.5f * float(i) - 3.0f;
  }
  const DSPVector s = ml::add(a, b), d = ml::subtract(a, b), p = ml::multiply(a, b);
  DSPVector acc = a;
  acc += b;
  for (size_t i = 0; i < 64; ++i)
    ASSERT_TRUE(s[i] == a[i] + b[i] && d[i] == a[i] - b[i] && p[i] == a[i] * b[i] && acc[i] == s[i]) << i;
  const DSPVector c = 2.0f - a;
  EXPECT_EQ(c[10], -8.0f);
}

TEST(DSPVector, CompareAndSelect) {
  DSPVector a, b(1.0f);
  a[0] = 2.0f;
  a[1] = 1.0f;
  a[2] = std::numeric_limits<float>::quiet_NaN();
  a[3] = -5.0f;
  const auto mask = ml::greaterThan(a, b);  // NaN compares false
  EXPECT_TRUE(mask[0] == -1 && mask[1] == 0 && mask[2] == 0 && mask[3] == 0);
  const DSPVector picked = ml::select(DSPVector(10.0f), DSPVector(20.0f), mask);
  EXPECT_TRUE(picked[0] == 10.0f && picked[2] == 20.0f);
}

// The vector backend against the plain one-lane reference over a grid that includes ties, the int32
// limits, infinities and NaN, under every rounding mode.
TEST(DSPVector, RoundFloatToIntMatchesPlainReference) {
  const float specials[] = {0.5f,        1.5f,          2.5f,          -0.5f,          -1.5f,
                            -2.5f,       2147483520.0f, 2147483648.0f, -2147483648.0f, -2147483904.0f,
                            1e20f,       -1e20f,        INFINITY,      -INFINITY,      NAN,
                            0.49999997f, -0.0f,         8388609.0f,    3.0e9f,         -3.0e9f};
  DSPVector v;
  for (size_t i = 0; i < 64; ++i) v[i] = i < std::size(specials) ? specials[i] : (float(i) - 40.0f) * 0.37f;
  const int modes[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  const int saved = std::fegetround();
  for (int mode : modes) {
    std::fesetround(mode);
    // The optimiser knows nothing of the rounding mode: keep it from computing the rounding once for
    // every mode.
    asm volatile("" : : "g"(&v) : "memory");
    const auto r = ml::roundFloatToInt(v);
    for (size_t i = 0; i < 64; ++i)
      EXPECT_EQ(r[i], ml::simd::lane::roundToInt(v[i])) << i << " mode " << mode;
  }
  std::fesetround(saved);
  const auto r = ml::roundFloatToInt(v);  // ties to even; out of range and NaN give INT32_MIN
  EXPECT_TRUE(r[0] == 0 && r[1] == 2 && r[5] == -2 && r[7] == INT32_MIN && r[14] == INT32_MIN);
}

TEST(DSPVector, UnsignedIntToFloatDropsLowestBit) {
  DSPVectorArrayInt<1> u;
  u[0] = -1;  // 0xFFFFFFFF
  u[1] = 1;
  u[2] = 3;
  u[3] = INT32_MIN;  // 0x80000000
  const DSPVector f = ml::unsignedIntToFloat(u);
  EXPECT_TRUE(f[0] == 4294967296.0f && f[1] == 0.0f && f[2] == 2.0f && f[3] == 2147483648.0f);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(bitsOf(f[i]), bitsOf(ml::simd::lane::unsignedToFloat(u[i])));
}

// The lane operations the kernels rely on to match their scalar forms bit for bit, over values with NaN,
// signed zeros, int32 limits and conversion ties.
TEST(DSPVector, LaneOperationsMatchScalarCode) {
  using namespace ml::simd;
  alignas(16) const float a[] = {1.0f, -2.0f, NAN, -0.0f, 3.5f, 2147483648.0f, -2147483648.0f, 0.0f};
  alignas(16) const float b[] = {0.5f, NAN, 4.0f, 0.0f, 3.5f, -1.0f, 1e20f, -0.0f};
  alignas(16) float hi[4], lo[4], mag[4], asFloat[4], sign[4], clamped[4], low[4], high[4], lowPair[4],
      highPair[4];
  alignas(16) int32_t truncated[4], less[4], atLeast[4];
  for (int half = 0; half < 8; half += 4) {
    const F4 x = loadF(a + half), y = loadF(b + half);
    storeF(hi, max(x, y));
    storeF(lo, min(loadUnalignedF(a + half), y));
    storeF(mag, abs(x));
    storeI(truncated, truncToInt(x));
    storeF(asFloat, toFloat(truncToInt(y)));
    storeI(less, lessThan(x, y));
    storeI(atLeast, greaterEqual(x, y));
    storeF(sign, copySign(x, y));
    storeF(clamped, clampLanes(x, splat(-1.f), splat(2.f)));
    storeF(low, interleaveLow(x, y));
    storeF(high, interleaveHigh(x, y));
    storeF(lowPair, lowHalves(x, y));
    storeF(highPair, highHalves(x, y));
    int bits = 0;
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(half + i);
      const float u = a[half + i], v = b[half + i];
      EXPECT_EQ(bitsOf(hi[i]), bitsOf(u > v ? u : v));
      EXPECT_EQ(bitsOf(lo[i]), bitsOf(u < v ? u : v));
      EXPECT_EQ(bitsOf(mag[i]), bitsOf(std::fabs(u)));
      EXPECT_EQ(truncated[i], lane::truncToInt(u));
      EXPECT_EQ(asFloat[i], static_cast<float>(lane::truncToInt(v)));
      EXPECT_EQ(less[i], u < v ? -1 : 0);
      EXPECT_EQ(atLeast[i], u >= v ? -1 : 0);
      EXPECT_EQ(bitsOf(sign[i]), bitsOf(std::copysign(u, v)));
      EXPECT_EQ(bitsOf(clamped[i]), bitsOf(ml::safeClamp(u, -1.f, 2.f)));
      EXPECT_EQ(bitsOf(low[i]), bitsOf(i % 2 ? b[half + i / 2] : a[half + i / 2]));
      EXPECT_EQ(bitsOf(high[i]), bitsOf(i % 2 ? b[half + 2 + i / 2] : a[half + 2 + i / 2]));
      EXPECT_EQ(bitsOf(lowPair[i]), bitsOf(i < 2 ? a[half + i] : b[half + i - 2]));
      EXPECT_EQ(bitsOf(highPair[i]), bitsOf(i < 2 ? a[half + 2 + i] : b[half + i]));
      bits |= (u < v ? 1 : 0) << i;
    }
    EXPECT_EQ(laneBits(lessThan(x, y)), bits);
  }
  F4 rows[4];
  for (int r = 0; r < 4; ++r) rows[r] = fromLanes(a[r], b[r], a[r + 4], b[r + 4]);
  transpose4(rows[0], rows[1], rows[2], rows[3]);
  storeF(hi, rows[2]);  // lane 2 of each row
  for (int r = 0; r < 4; ++r) EXPECT_EQ(bitsOf(hi[r]), bitsOf(a[r + 4])) << r;
  EXPECT_TRUE(lane::truncToInt(-7.75f) == -7 && lane::truncToInt(2147483648.0f) == INT32_MIN);
  EXPECT_EQ(lane::truncToInt(NAN), INT32_MIN);
  alignas(16) const int32_t u[] = {0, 1, -1, INT32_MIN, 0x01000001, 0x01000003, 0x7FFFFFC0, -129};
  alignas(16) float f[4];
  for (int half = 0; half < 8; half += 4) {
    storeF(f, unsignedToFloatExact(loadI(u + half)));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f[i], static_cast<float>(static_cast<uint32_t>(u[half + i])));
  }
  storeI(less, subI(splatI(3), splatI(5)));
  EXPECT_EQ(less[0], -2);
  // The low 32 bits of each product, in every lane (the even and odd lanes take apart paths on SSE2).
  alignas(16) const int32_t factors[] = {3, -7, 1664525, INT32_MIN};
  alignas(16) int32_t products[4];
  storeI(products, mulI(loadI(factors), splatI(-1013904223)));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(products[i], static_cast<int32_t>(static_cast<uint32_t>(factors[i]) * uint32_t{3281063073u}));
}

}  // namespace
