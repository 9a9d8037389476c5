// Saturation curves of the filters and output stages, inline so that per-sample loops stay call-free.
#pragma once

#include <cmath>

#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

// tanh as a rational function (odd degree-13 numerator over even degree-6 denominator), clamped
// where tanh is 1 to float precision. Absolute error below 5e-7 over the whole line; NaN gives -1.
// The polynomials are evaluated in Estrin's scheme: the filters chain these calls sample after
// sample, so latency matters more than the operation count. T is float or ml::simd::Lanes.
template <typename T>
inline T tanhApproxOf(T x) {
  using ml::simd::max;
  using ml::simd::min;
  constexpr float kClamp = 7.90531110763549805f;
  // The same limits as ml::safeClamp (NaN gives the low bound), written as max then min so that it
  // compiles to two branch-free instructions on this hot path.
  const T c = min(max(x, T(-kClamp)), T(kClamp));
  const T y = c * c;
  const T y2 = y * y;
  const T y4 = y2 * y2;
  const T p01 = 4.89352455891786e-03f + 6.37261928875436e-04f * y;
  const T p23 = 1.48572235717979e-05f + 5.12229709037114e-08f * y;
  const T p45 = -8.60467152213735e-11f + 2.00018790482477e-13f * y;
  const float p6 = -2.76076847742355e-16f;
  const T p = c * ((p01 + p23 * y2) + (p45 + p6 * y2) * y4);
  const T q01 = 4.89352518554385e-03f + 2.26843463243900e-03f * y;
  const T q23 = 1.18534705686654e-04f + 1.19825839466702e-06f * y;
  return p / (q01 + q23 * y2);
}

inline float tanhApprox(float x) {
  return tanhApproxOf(x);
}

// Asymmetric saturator: tanh(x) + amount * (1 - tanh(x)^2). The even term lifts both polarities, so
// analogSat(0, amount) = amount: use it on signals, never inside a feedback state.
inline float analogSat(float x, float amount) {
  const float t = tanhApprox(x);
  return t + amount * (1.f - t * t);
}

// Cubic soft clip: x clamped to -3..3 (NaN as -3), then x (27 + x^2) / (27 + 9 x^2); +-1 at +-3.
inline float analogSoftClip(float x) {
  const float c = ml::safeClamp(x, -3.f, 3.f);
  const float c2 = c * c;
  return c * (27.f + c2) / (27.f + 9.f * c2);
}

// Filter drive curve with k = 0.6 * drive: (k x |x| + x) / (1 + k), unity gain for small signals.
template <typename T>
struct DriveShaperOf {
  T k{0.f};
  T operator()(T x) const { return (k * x * ml::simd::abs(x) + x) / (1.f + k); }
};
using DriveShaper = DriveShaperOf<float>;

// The same curve with its divisor taken once, for shaping several samples at one drive.
template <typename T>
struct ScaledDriveShaperOf {
  T k;
  T scale;  // 1 / (1 + k)

  explicit ScaledDriveShaperOf(T drive) : k(drive), scale(1.f / (1.f + drive)) {}
  T operator()(T x) const { return (k * x * ml::simd::abs(x) + x) * scale; }
};
