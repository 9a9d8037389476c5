// Branch-free approximations of library functions for whole rows: plain arithmetic that the compiler
// runs four lanes at a time. Each states its error against the exact function.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ml {

// asin(sin x), the angle in -pi/2..pi/2 with the sine of x: x = n pi + r with r in -pi/2..pi/2,
// reduced in three parts of pi, and (-1)^n r. Within 1e-6 relative of the exact angle for |x| up to
// 64, and of its exact arithmetic there is no ill-conditioned step (unlike asin of a rounded sine near
// +-1). Valid for |x| up to 2^22 pi; beyond, the reduction fails and the result leaves the range.
inline float foldedAngle(float x) {
  constexpr float kInvPi = 0.31830988618f;
  constexpr float kRound = 12582912.f;  // 1.5 x 2^23: adding it rounds to an integer in the low bits
  constexpr float kPi1 = 3.140625f;     // few mantissa bits: n kPi1 is exact
  constexpr float kPi2 = 9.67502593994140625e-4f;
  constexpr float kPi3 = 1.509957990978376432e-7f;
  const float t = x * kInvPi + kRound;
  const float n = t - kRound;
  const uint32_t odd = std::bit_cast<uint32_t>(t) << 31;
  const float r = ((x - n * kPi1) - n * kPi2) - n * kPi3;
  return std::bit_cast<float>(std::bit_cast<uint32_t>(r) ^ odd);
}

// sin a for a in -pi/2..pi/2: the odd Taylor polynomial to a^13 (truncation below 1e-9). T is float, or
// lanes of floats that take the same operations.
template <typename T>
inline T sinOfFoldedAngle(T a) {
  const T a2 = a * a;
  T p = 1.6059043836821613e-10f;
  p = p * a2 - 2.5052108385441720e-8f;
  p = p * a2 + 2.7557319223985893e-6f;
  p = p * a2 - 1.9841269841269841e-4f;
  p = p * a2 + 8.3333333333333333e-3f;
  p = p * a2 - 1.6666666666666667e-1f;
  return a + a * a2 * p;
}

// sin x within 3e-7 absolute and 1e-6 relative of the exact sine for |x| up to 64 (2e-6 absolute
// up to 1e5); the range limit of foldedAngle applies.
inline float sinApprox(float x) {
  return sinOfFoldedAngle(foldedAngle(x));
}

// sinApprox of each of the n values, in place.
inline void sinApprox(float* x, size_t n) {
  for (size_t i = 0; i < n; ++i) x[i] = sinApprox(x[i]);
}

// The raised-cosine fade 0.5 (1 - cos(pi x)) for x in 0..1: sin^2(pi x / 2) in the lower half and
// 1 - sin^2(pi (1 - x) / 2) in the upper one, so that it is 0 at 0 and 1 at 1 exactly and within 1e-6
// relative of the exact value everywhere between.
inline float raisedCosineFade(float x) {
  constexpr float kHalfPi = 1.57079632679f;
  const bool upper = x > 0.5f;
  const float s = sinOfFoldedAngle(kHalfPi * (upper ? 1.f - x : x));
  return upper ? 1.f - s * s : s * s;
}

// 2^n e^r for |r| up to ln 2 / 2 and n in -126..127: the degree-7 Taylor polynomial of e^r (truncation
// below 5e-9) with the exponent n put in directly.
inline float scaledExpOfReduced(float r, int32_t n) {
  float p = 1.9841269841269841e-4f;
  p = p * r + 1.3888888888888889e-3f;
  p = p * r + 8.3333333333333333e-3f;
  p = p * r + 4.1666666666666667e-2f;
  p = p * r + 1.6666666666666667e-1f;
  p = p * r + 0.5f;
  p = p * r + 1.f;
  p = p * r + 1.f;
  return p * std::bit_cast<float>(static_cast<uint32_t>(n + 127) << 23);
}

// Adding it rounds a float below 2^22 in magnitude to an integer held in the low mantissa bits.
inline constexpr float kRoundToWhole = 12582912.f;  // 1.5 x 2^23

// e^x within 2e-7 relative of the exact value for |x| up to 87 (beyond, the power of two leaves the
// float range and the result is wrong): x = n ln 2 + r, reduced in two parts of ln 2.
inline float expApprox(float x) {
  constexpr float kLog2e = 1.44269504089f;
  constexpr float kLn2Hi = 0.693145751953125f;  // few mantissa bits: n kLn2Hi is exact
  constexpr float kLn2Lo = 1.428606765330187e-6f;
  const float t = x * kLog2e + kRoundToWhole;
  const float n = t - kRoundToWhole;
  const float r = (x - n * kLn2Hi) - n * kLn2Lo;
  return scaledExpOfReduced(r, std::bit_cast<int32_t>(t) - std::bit_cast<int32_t>(kRoundToWhole));
}

// 2^x within 2e-7 relative of the exact value for |x| up to 126: x = n + f with f exact, e^(f ln 2).
inline float exp2Approx(float x) {
  constexpr float kLn2 = 0.69314718056f;
  const float t = x + kRoundToWhole;
  const float n = t - kRoundToWhole;
  return scaledExpOfReduced((x - n) * kLn2,
                            std::bit_cast<int32_t>(t) - std::bit_cast<int32_t>(kRoundToWhole));
}

// ln x within 5e-7 relative of the exact value for positive normal x (zero, negatives, denormals and
// infinities give wrong results): x = 2^e m with m in sqrt(1/2)..sqrt(2), and ln m = 2 atanh(s) with
// s = (m - 1) / (m + 1) by its odd series to s^9 (|s| below 0.172, truncation below 3e-9).
struct LogApprox {
  // Adding it to the bits of x moves sqrt(1/2) to the bits of 1: the exponent field then holds e + 127.
  static constexpr int32_t kExponentShift = 0x3f800000 - 0x3f3504f3;
  static constexpr float kLn2Hi = 0.693145751953125f;  // few mantissa bits: e kLn2Hi is exact
  static constexpr float kLn2Lo = 1.428606765330187e-6f;
  static constexpr float kC9 = 0.11111111111111111f;
  static constexpr float kC7 = 0.14285714285714286f;
  static constexpr float kC5 = 0.2f;
  static constexpr float kC3 = 0.33333333333333333f;
};

inline float logApprox(float x) {
  using L = LogApprox;
  const int32_t bits = std::bit_cast<int32_t>(x);
  const int32_t e = static_cast<int32_t>(static_cast<uint32_t>(bits + L::kExponentShift) >> 23) - 127;
  const float m = std::bit_cast<float>(bits - static_cast<int32_t>(static_cast<uint32_t>(e) << 23));
  const float s = (m - 1.f) / (m + 1.f);
  const float z = s * s;
  float p = L::kC9;
  p = p * z + L::kC7;
  p = p * z + L::kC5;
  p = p * z + L::kC3;
  const float twoS = 2.f * s;
  const float lnM = twoS + twoS * z * p;
  const float fe = static_cast<float>(e);
  return fe * L::kLn2Hi + (lnM + fe * L::kLn2Lo);
}

}  // namespace ml
