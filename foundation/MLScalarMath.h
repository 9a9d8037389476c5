// Scalar helpers of the signal library: max, clamp, sign, range test and sample-to-time conversion.
#pragma once

#include <cstdint>

namespace ml {

// a when a > b, else b.
template <typename T>
constexpr T max(T a, T b) {
  return a > b ? a : b;
}

// lo when x < lo, else hi when x > hi, else x. A NaN passes through: values from outside the engine go
// through safeClamp (MLSafeValue.h) instead.
template <typename T>
constexpr T clamp(T x, T lo, T hi) {
  return x < lo ? lo : (x > hi ? hi : x);
}

// 0 when x == 0, 1 when x > 0, else -1 (a NaN gives -1).
template <typename T>
constexpr int sign(T x) {
  return x == T(0) ? 0 : (x > T(0) ? 1 : -1);
}

// True when lo <= x < hi.
template <typename T>
constexpr bool within(T x, T lo, T hi) {
  return x >= lo && x < hi;
}

// Seconds for n samples at sample rate sr, divided in double precision.
inline float samplesToSeconds(uint32_t n, float sr) {
  return static_cast<float>(static_cast<double>(n) / static_cast<double>(sr));
}

}  // namespace ml
