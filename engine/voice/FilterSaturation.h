// Saturation curves of the filters and output stages, inline so that per-sample loops stay call-free.
#pragma once

#include <cmath>

#include "foundation/MLSafeValue.h"

// tanh as a rational function (odd degree-13 numerator over even degree-6 denominator), clamped
// where tanh is 1 to float precision. Absolute error below 5e-7 over the whole line; NaN gives -1.
inline float tanhApprox(float x) {
  constexpr float kClamp = 7.90531110763549805f;
  const float c = ml::safeClamp(x, -kClamp, kClamp);
  if (std::fabs(c) < 0.0004f) return c;
  const float x2 = c * c;
  float p = -2.76076847742355e-16f;
  p = p * x2 + 2.00018790482477e-13f;
  p = p * x2 + -8.60467152213735e-11f;
  p = p * x2 + 5.12229709037114e-08f;
  p = p * x2 + 1.48572235717979e-05f;
  p = p * x2 + 6.37261928875436e-04f;
  p = p * x2 + 4.89352455891786e-03f;
  p = c * p;
  float q = 1.19825839466702e-06f;
  q = q * x2 + 1.18534705686654e-04f;
  q = q * x2 + 2.26843463243900e-03f;
  q = q * x2 + 4.89352518554385e-03f;
  return p / q;
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
