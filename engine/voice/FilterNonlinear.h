// Nonlinear state-variable filter run at four times the rate, with saturating integrators.
#pragma once

#include <type_traits>

#include "engine/voice/FilterSaturation.h"
#include "engine/voice/FilterSvf.h"
#include "engine/voice/Oversampler2x.h"

// State of one nonlinear filter: two nested 2x half-band stages (outer and inner, each an up and a
// down ring) and the two integrators. Plain data without pointers; copies with the voice.
struct NLFilterOSState {
  HalfbandRing outerUp;
  HalfbandRing outerDown;
  HalfbandRing innerUp;
  HalfbandRing innerDown;
  float ic1eq{0.f};
  float ic2eq{0.f};

  void clear() { *this = NLFilterOSState{}; }
};

static_assert(std::is_trivially_copyable_v<NLFilterOSState>);

// Saturation set by Filter Saturation d (0..1), constant over a block.
struct NlSvfDrive {
  float bpGain{0.5f};     // s = 3.5 d + 0.5: band-pass saturation gain
  float invBpGain{2.f};   // 1 / s
  float stateGain{0.7f};  // q = 2.3 d + 0.7: integrator saturation gain
  float invStateGain{1.f / 0.7f};
  float colour{0.f};  // c = 0.12 d: even-order colour of the output
};

NlSvfDrive nlSvfDrive(float d);

// Coefficients of the 4x filter step for a base-rate cutoff f (cycles per sample) and damping k.
inline SvfCoeffs nlSvfCoeffs(float f, float k) {
  return svfCoeffs(f * 0.25f, k);
}

// One filter step at 4x on v. The integrators take only the odd saturator tanh(q u)/q, so the
// filter is silent at rest; the output gets its even-order colour y - c tanh^2(y) outside the loop.
inline float nlSvfStep(float v, const SvfCoeffs& c, const NlSvfDrive& d, int fromMode, int toMode, float t,
                       NLFilterOSState& s) {
  const float e = v - s.ic2eq;
  const float bp = c.a1 * s.ic1eq + c.a2 * e;
  const float lp = s.ic2eq + c.a2 * s.ic1eq + c.a3 * e;
  const float bpSat = tanhApprox(d.bpGain * bp) * d.invBpGain;
  s.ic1eq = tanhApprox(d.stateGain * ((2.f * bp - s.ic1eq) + (bpSat - bp))) * d.invStateGain;
  s.ic2eq = tanhApprox(d.stateGain * (2.f * lp - s.ic2eq)) * d.invStateGain;
  const float y = svfBlendOutput(fromMode, toMode, t, v, bp, lp, c.k);
  const float ty = tanhApprox(y);
  return y - d.colour * ty * ty;
}

// One base-rate sample: two nested 2x interpolations, four filter steps, two 2x decimations. The
// half-bands add 10.5 base-rate samples of delay (3.5 for each outer stage, 1.75 for each inner).
inline float nlSvf4xStep(float x, const SvfCoeffs& c, const NlSvfDrive& d, int fromMode, int toMode, float t,
                         NLFilterOSState& s) {
  const HalfbandPair u = halfbandInterpolate(s.outerUp, x);
  const float outer[2] = {u.first, u.second};
  for (const float u2x : outer) {
    const HalfbandPair v = halfbandInterpolate(s.innerUp, u2x);
    halfbandPush(s.innerDown, nlSvfStep(v.first, c, d, fromMode, toMode, t, s));
    halfbandPush(s.innerDown, nlSvfStep(v.second, c, d, fromMode, toMode, t, s));
    halfbandPush(s.outerDown, halfbandDot(s.innerDown));
  }
  return halfbandDot(s.outerDown);
}

// One sample of the nonlinear filter in one mode; drive is Filter Saturation 0..1.
inline float nlSvf4x(float x, float f, float k, int mode, float drive, NLFilterOSState& s) {
  return nlSvf4xStep(x, nlSvfCoeffs(f, k), nlSvfDrive(drive), mode, mode, 0.f, s);
}

// As nlSvf4x, the output crossfaded from fromMode to toMode by t (0..1).
inline float nlSvf4xBlend(float x, float f, float k, int fromMode, int toMode, float t, float drive,
                          NLFilterOSState& s) {
  return nlSvf4xStep(x, nlSvfCoeffs(f, k), nlSvfDrive(drive), fromMode, toMode, t, s);
}
