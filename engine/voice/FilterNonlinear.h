// Nonlinear state-variable filter run at four times the rate, with saturating integrators.
#pragma once

#include <type_traits>

#include "engine/voice/FilterSaturation.h"
#include "engine/voice/FilterSvf.h"
#include "engine/voice/Oversampler2x.h"
#include "engine/voice/Oversampler2xAllpass.h"

// State of one nonlinear filter: two nested 2x half-band stages, each an up and a down half-band of
// allpass chains, and the two integrators. The outer stage (base rate to 2x) is steep, so that a loud
// tone near the top of the band leaves no image for the saturating core to mix with and the core's
// harmonics do not fold back; the inner one (2x to 4x) only has to keep a quarter of its rate. Plain
// data without pointers; copies with the voice. T is float, or SIMD lanes for filters running side by
// side.
template <typename T>
struct NLFilterCoreOf {
  AllpassHalfbandOf<T, SteepAllpassDesign> outerUp;
  AllpassHalfbandOf<T, SteepAllpassDesign> outerDown;
  AllpassHalfbandOf<T, WideAllpassDesign> innerUp;
  AllpassHalfbandOf<T, WideAllpassDesign> innerDown;
  T ic1eq{0.f};
  T ic2eq{0.f};

  void clear() { *this = NLFilterCoreOf{}; }
};
using NLFilterOSState = NLFilterCoreOf<float>;

static_assert(std::is_trivially_copyable_v<NLFilterOSState>);

// Saturation set by Filter Saturation d (0..1), constant over a block.
template <typename T>
struct NlSvfDriveOf {
  T bpGain{0.5f};     // s = 3.5 d + 0.5: band-pass saturation gain
  T invBpGain{2.f};   // 1 / s
  T stateGain{0.7f};  // q = 2.3 d + 0.7: integrator saturation gain
  T invStateGain{1.f / 0.7f};
  T colour{0.f};  // c = 0.12 d: even-order colour of the output
};
using NlSvfDrive = NlSvfDriveOf<float>;

NlSvfDrive nlSvfDrive(float d);

// Coefficients of the 4x filter step for a base-rate cutoff f (cycles per sample) and damping k.
inline SvfCoeffs nlSvfCoeffs(float f, float k) {
  return svfCoeffs(f * 0.25f, k);
}

// What runs after the core inside each 4x step, on the step's input v and output y: nothing by default.
struct NoCoreLayers {
  template <typename T>
  T operator()(T, T y) const {
    return y;
  }
};

// One filter step at 4x on v. The integrators take only the odd saturator tanh(q u)/q, so the
// filter is silent at rest; the output gets its even-order colour y - c tanh^2(y) outside the loop.
// Core holds the integrators (NLFilterCoreOf<T>); layers(v, out) runs after it.
template <typename T, typename Blend, typename Core, typename Layers>
inline T nlSvfStep(T v, const SvfCoeffsOf<T>& c, const NlSvfDriveOf<T>& d, const Blend& blend, Core& s,
                   Layers& layers) {
  const T e = v - s.ic2eq;
  const T bp = c.a1 * s.ic1eq + c.a2 * e;
  const T lp = s.ic2eq + c.a2 * s.ic1eq + c.a3 * e;
  const T bpSat = tanhApproxOf(d.bpGain * bp) * d.invBpGain;
  s.ic1eq = tanhApproxOf(d.stateGain * ((2.f * bp - s.ic1eq) + (bpSat - bp))) * d.invStateGain;
  s.ic2eq = tanhApproxOf(d.stateGain * (2.f * lp - s.ic2eq)) * d.invStateGain;
  const T y = blend(v, bp, lp, c.k);
  const T ty = tanhApproxOf(y);
  return layers(v, y - d.colour * ty * ty);
}

// One base-rate sample: two nested 2x interpolations, four filter steps, two 2x decimations.
template <typename T, typename Blend, typename Core, typename Layers = NoCoreLayers>
inline T nlSvf4xStep(T x, const SvfCoeffsOf<T>& c, const NlSvfDriveOf<T>& d, const Blend& blend, Core& s,
                     Layers&& layers = Layers{}) {
  const HalfbandPairOf<T> u = allpassInterpolate(s.outerUp, x);
  const T in2x[2] = {u.first, u.second};
  T out2x[2];
  for (int k = 0; k < 2; ++k) {
    const HalfbandPairOf<T> v = allpassInterpolate(s.innerUp, in2x[k]);
    const T first = nlSvfStep(v.first, c, d, blend, s, layers);
    const T second = nlSvfStep(v.second, c, d, blend, s, layers);
    out2x[k] = allpassDecimate(s.innerDown, first, second);
  }
  return allpassDecimate(s.outerDown, out2x[0], out2x[1]);
}

// One sample of the nonlinear filter in one mode; drive is Filter Saturation 0..1.
inline float nlSvf4x(float x, float f, float k, int mode, float drive, NLFilterOSState& s) {
  return nlSvf4xStep(x, nlSvfCoeffs(f, k), nlSvfDrive(drive), SvfModeBlend{mode, mode, 0.f}, s);
}

// As nlSvf4x, the output crossfaded from fromMode to toMode by t (0..1).
inline float nlSvf4xBlend(float x, float f, float k, int fromMode, int toMode, float t, float drive,
                          NLFilterOSState& s) {
  return nlSvf4xStep(x, nlSvfCoeffs(f, k), nlSvfDrive(drive), SvfModeBlend{fromMode, toMode, t}, s);
}
