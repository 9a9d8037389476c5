// Lane approximations of tan and log for the filters' per-sample coefficients: four samples or four
// voices at a time, no library calls.
#pragma once

#include "foundation/MLSIMD.h"

// tan(x) for 0 <= x <= pi/4 by a polynomial in x^2 (odd in x), relative error below 1e-6: tanApprox's
// values there without its reduction, for arguments that cannot pass pi/4.
inline ml::simd::Lanes tanApproxToQuarterPi(ml::simd::Lanes x) {
  using ml::simd::Lanes;
  const Lanes z = x * x;
  return (((((9.38540185543e-3f * z + 3.11992232697e-3f) * z + 2.44301354525e-2f) * z + 5.34112807005e-2f) *
               z +
           1.33387994085e-1f) *
              z +
          3.33331568548e-1f) *
             z * x +
         x;
}

// tan(x) for 0 <= x < pi/2, relative error below 1e-6. Below pi/4 the polynomial above; above,
// 1 / tan(pi/2 - x), with pi/2 in two parts so that the reduction stays exact near pi/2.
inline ml::simd::Lanes tanApprox(ml::simd::Lanes x) {
  using ml::simd::Lanes;
  constexpr float kQuarterPi = 0.785398163f;
  constexpr float kHalfPiHigh = 1.57079637050628662f;   // pi/2 rounded to float
  constexpr float kHalfPiLow = -4.37113900018624e-08f;  // pi/2 - kHalfPiHigh
  const ml::simd::I4 upper = ml::simd::greaterThan(x.v, ml::simd::splat(kQuarterPi));
  const Lanes p = tanApproxToQuarterPi(select((Lanes(kHalfPiHigh) - x) + kHalfPiLow, x, upper));
  return select(1.f / p, p, upper);
}

// Natural log of a positive normal x, relative error below 1e-6 away from x = 1: the exponent from
// the bits, and a polynomial of the mantissa reduced to sqrt(1/2)..sqrt(2).
inline ml::simd::Lanes logApprox(ml::simd::Lanes x) {
  using namespace ml::simd;
  constexpr float kSqrt2 = 1.41421356f;
  const I4 bits = bitsOf(x.v);
  const Lanes exponent(toFloat(addI(shiftRightI<23>(bits), splatI(-127))));
  const Lanes mantissa(fromBits(orMask(andMask(bits, splatI(0x007fffff)), splatI(0x3f800000))));
  const I4 high = greaterThan(mantissa.v, splat(kSqrt2));
  const Lanes e = select(exponent + 1.f, exponent, high);
  const Lanes t = select(mantissa * 0.5f, mantissa, high) - 1.f;
  const Lanes z = t * t;
  Lanes y =
      ((((((((7.0376836292e-2f * t - 1.1514610310e-1f) * t + 1.1676998740e-1f) * t - 1.2420140846e-1f) * t +
           1.4249322787e-1f) *
              t -
          1.6668057665e-1f) *
             t +
         2.0000714765e-1f) *
            t -
        2.4999993993e-1f) *
           t +
       3.3333331174e-1f) *
      t * z;
  y = y + -2.12194440e-4f * e;
  y = y - 0.5f * z;
  return (t + y) + 0.693359375f * e;
}
