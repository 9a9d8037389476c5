// Checks for values that come from outside (host, files, editor) and for every clamp on the audio path.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <type_traits>

namespace ml {

// x limited to lo..hi (the bounds take x's type); a NaN gives lo, -inf lo, +inf hi.
template <std::floating_point T>
constexpr T safeClamp(T x, std::type_identity_t<T> lo, std::type_identity_t<T> hi) {
  if (!(x >= lo)) return lo;
  return x > hi ? hi : x;
}

// x when it is finite, else fallback.
template <std::floating_point T>
inline T finiteOr(T x, std::type_identity_t<T> fallback) {
  return std::isfinite(x) ? x : fallback;
}

// x truncated toward zero into int32; NaN gives 0 and out-of-range values saturate.
inline int32_t saturateToInt32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return INT32_MAX;
  if (x <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(x);
}

// x truncated toward zero into int64; NaN gives 0 and out-of-range values saturate.
inline int64_t saturateToInt64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return INT64_MAX;
  if (x < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(x);
}

}  // namespace ml
