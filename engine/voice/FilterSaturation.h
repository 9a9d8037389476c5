// Saturation curves of the filters and output stages, inline so that per-sample loops stay call-free.
#pragma once

#include <cmath>

#include "foundation/MLSafeValue.h"

// tanh as a rational function (odd degree-13 numerator over even degree-6 denominator), clamped
// where tanh is 1 to float precision. Absolute error below 5e-7 over the whole line; NaN gives -1.
// The polynomials are evaluated in Estrin's scheme: the filters chain these calls sample after
// sample, so latency matters more than the operation count.
inline float tanhApprox(float x) {
  constexpr float kClamp = 7.90531110763549805f;
  // The same limits as ml::safeClamp (NaN gives the low bound), written as max then min so that it
  // compiles to two branch-free instructions on this hot path.
  const float lo = (x > -kClamp) ? x : -kClamp;
  const float c = (lo < kClamp) ? lo : kClamp;
  const float y = c * c;
  const float y2 = y * y;
  const float y4 = y2 * y2;
  const float p01 = 4.89352455891786e-03f + 6.37261928875436e-04f * y;
  const float p23 = 1.48572235717979e-05f + 5.12229709037114e-08f * y;
  const float p45 = -8.60467152213735e-11f + 2.00018790482477e-13f * y;
  const float p6 = -2.76076847742355e-16f;
  const float p = c * ((p01 + p23 * y2) + (p45 + p6 * y2) * y4);
  const float q01 = 4.89352518554385e-03f + 2.26843463243900e-03f * y;
  const float q23 = 1.18534705686654e-04f + 1.19825839466702e-06f * y;
  return p / (q01 + q23 * y2);
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
struct DriveShaper {
  float k{0.f};
  float operator()(float x) const { return (k * x * std::fabs(x) + x) / (1.f + k); }
};
