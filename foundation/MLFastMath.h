// Branch-free approximations of library functions for whole rows: plain arithmetic that the compiler
// runs four lanes at a time. Each states its error against the exact function.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ml {

// sin x within 2e-7 absolute and 1e-6 relative of the exact sine for |x| up to 1e5; valid only there
// (beyond 2^22 pi the reduction fails and the result leaves -1..1). x = n pi + r with r in
// -pi/2..pi/2, reduced in three parts of pi, then sin r by its odd Taylor polynomial to r^13, negated
// for odd n.
inline float sinApprox(float x) {
  constexpr float kInvPi = 0.31830988618f;
  constexpr float kRound = 12582912.f;  // 1.5 x 2^23: adding it rounds to an integer in the low bits
  constexpr float kPi1 = 3.140625f;     // few mantissa bits: n kPi1 is exact
  constexpr float kPi2 = 9.67502593994140625e-4f;
  constexpr float kPi3 = 1.509957990978376432e-7f;
  const float t = x * kInvPi + kRound;
  const float n = t - kRound;
  const uint32_t odd = std::bit_cast<uint32_t>(t) << 31;
  const float r = ((x - n * kPi1) - n * kPi2) - n * kPi3;
  const float r2 = r * r;
  float p = 1.6059043836821613e-10f;
  p = p * r2 - 2.5052108385441720e-8f;
  p = p * r2 + 2.7557319223985893e-6f;
  p = p * r2 - 1.9841269841269841e-4f;
  p = p * r2 + 8.3333333333333333e-3f;
  p = p * r2 - 1.6666666666666667e-1f;
  const float s = r + r * r2 * p;
  return std::bit_cast<float>(std::bit_cast<uint32_t>(s) ^ odd);
}

// sinApprox of each of the n values, in place.
inline void sinApprox(float* x, size_t n) {
  for (size_t i = 0; i < n; ++i) x[i] = sinApprox(x[i]);
}

}  // namespace ml
