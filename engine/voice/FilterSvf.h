// Clean zero-delay-feedback state-variable filter (trapezoidal integrators) with four modes.
#pragma once

#include <cmath>
#include <numbers>

// Filter modes: 0 low-pass, 1 high-pass, 2 band-pass, 3 notch; any other value is low-pass.
inline constexpr int kFilterLowPass = 0;
inline constexpr int kFilterHighPass = 1;
inline constexpr int kFilterBandPass = 2;
inline constexpr int kFilterNotch = 3;

// Coefficients of one filter step: g = tan(pi f), damping k, and the solved gains a1..a3. T is float,
// or ml::simd::Lanes for filters running side by side.
template <typename T>
struct SvfCoeffsOf {
  T k{1.f};
  T a1{1.f};
  T a2{0.f};
  T a3{0.f};
};
using SvfCoeffs = SvfCoeffsOf<float>;

// f is the cutoff in cycles per sample of the rate the step runs at (0 < f < 0.5); k is the damping,
// 1 at resonance 0 and 0.05 at the highest resonance (near self-oscillation).
inline SvfCoeffs svfCoeffs(float f, float k) {
  const float g = std::tan(std::numbers::pi_v<float> * f);
  SvfCoeffs c;
  c.k = k;
  c.a1 = 1.f / (1.f + g * (g + k));
  c.a2 = g * c.a1;
  c.a3 = g * c.a2;
  return c;
}

// Output of a mode from one step's input x, band-pass bp and low-pass lp (floats or lanes).
template <typename T>
inline T svfModeOutput(int mode, T x, T bp, T lp, T k) {
  switch (mode) {
    case kFilterHighPass:
      return x - k * bp - lp;
    case kFilterBandPass:
      return bp;
    case kFilterNotch:
      return x - k * bp;
    default:
      return lp;
  }
}

// Crossfade of two mode outputs: out(to) when the modes are equal, else out(from) + t (out(to) - out(from)).
inline float svfBlendOutput(int fromMode, int toMode, float t, float x, float bp, float lp, float k) {
  const float to = svfModeOutput(toMode, x, bp, lp, k);
  if (fromMode == toMode) return to;
  const float from = svfModeOutput(fromMode, x, bp, lp, k);
  return from + t * (to - from);
}

// The mode crossfade of one step as a callable on (x, bp, lp, k).
struct SvfModeBlend {
  int fromMode;
  int toMode;
  float t;
  float operator()(float x, float bp, float lp, float k) const {
    return svfBlendOutput(fromMode, toMode, t, x, bp, lp, k);
  }
};

// One step of the clean filter with precomputed coefficients; both integrators advance once. blend
// maps the step's x, band-pass, low-pass and damping to the output.
template <typename T, typename Blend>
inline T svfStepOf(T x, const SvfCoeffsOf<T>& c, const Blend& blend, T& ic1eq, T& ic2eq) {
  const T e = x - ic2eq;
  const T bp = c.a1 * ic1eq + c.a2 * e;
  const T lp = ic2eq + c.a2 * ic1eq + c.a3 * e;
  ic1eq = 2.f * bp - ic1eq;
  ic2eq = 2.f * lp - ic2eq;
  return blend(x, bp, lp, c.k);
}

inline float svfStep(float x, const SvfCoeffs& c, int fromMode, int toMode, float t, float& ic1eq,
                     float& ic2eq) {
  return svfStepOf(x, c, SvfModeBlend{fromMode, toMode, t}, ic1eq, ic2eq);
}

// One sample of the clean filter in one mode.
inline float svfMultimode(float x, float f, float k, int mode, float& ic1eq, float& ic2eq) {
  return svfStep(x, svfCoeffs(f, k), mode, mode, 0.f, ic1eq, ic2eq);
}

// One sample of the clean filter, its output crossfaded from fromMode to toMode by t (0..1).
inline float svfMultimodeBlend(float x, float f, float k, int fromMode, int toMode, float t, float& ic1eq,
                               float& ic2eq) {
  return svfStep(x, svfCoeffs(f, k), fromMode, toMode, t, ic1eq, ic2eq);
}
