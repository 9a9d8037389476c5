// Nonlinear state-variable filter run at four times the rate, with saturating integrators.
#pragma once

#include <type_traits>

#include "engine/voice/FilterSaturation.h"
#include "engine/voice/FilterSvf.h"
#include "engine/voice/Oversampler2x.h"

// State of one nonlinear filter: two nested 2x half-band stages (outer and inner, each an up and a
// down ring) and the two integrators. Plain data without pointers; copies with the voice. T is float,
// or ml::simd::Lanes for filters running side by side.
template <typename T>
struct NLFilterCoreOf {
  HalfbandRingOf<T> outerUp;
  HalfbandRingOf<T> outerDown;
  HalfbandRingOf<T> innerUp;
  HalfbandRingOf<T> innerDown;
  T ic1eq{0.f};
  T ic2eq{0.f};

  void clear() { *this = NLFilterCoreOf{}; }
};
using NLFilterOSState = NLFilterCoreOf<float>;

static_assert(std::is_trivially_copyable_v<NLFilterOSState>);

// A core's working form over a block of kSamples base-rate samples: its four half-band histories as
// lines (HalfbandLineOf) and its integrators. Loaded from the state before the block, stored back
// after it; working memory, not state.
template <typename T, int kSamples>
struct NlCoreLinesOf {
  HalfbandLineOf<T, 2 * kSamples> outerUp;
  HalfbandLineOf<T, 2 * kSamples> outerDown;
  HalfbandLineOf<T, 4 * kSamples> innerUp;
  HalfbandLineOf<T, 4 * kSamples> innerDown;
  T ic1eq{0.f};
  T ic2eq{0.f};
};

// f(line member, ring member) for each of the four histories of a core.
template <typename Lines, typename F>
void forEachCoreHistory(F f) {
  f(&Lines::outerUp, &NLFilterOSState::outerUp);
  f(&Lines::outerDown, &NLFilterOSState::outerDown);
  f(&Lines::innerUp, &NLFilterOSState::innerUp);
  f(&Lines::innerDown, &NLFilterOSState::innerDown);
}

template <int kSamples>
void loadCoreLines(NlCoreLinesOf<float, kSamples>& lines, const NLFilterOSState& s) {
  using Lines = NlCoreLinesOf<float, kSamples>;
  forEachCoreHistory<Lines>([&](auto line, auto ring) { startHalfbandLine(lines.*line, s.*ring); });
  lines.ic1eq = s.ic1eq;
  lines.ic2eq = s.ic2eq;
}

template <int kSamples>
void storeCoreLines(const NlCoreLinesOf<float, kSamples>& lines, NLFilterOSState& s) {
  using Lines = NlCoreLinesOf<float, kSamples>;
  forEachCoreHistory<Lines>([&](auto line, auto ring) { rollHalfband(s.*ring, (lines.*line).window()); });
  s.ic1eq = lines.ic1eq;
  s.ic2eq = lines.ic2eq;
}

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
// Core is NLFilterCoreOf<T> or NlCoreLinesOf<T, n>; layers(v, out) runs after it.
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

// One base-rate sample: two nested 2x interpolations, four filter steps, two 2x decimations. The
// half-bands add 10.5 base-rate samples of delay (3.5 for each outer stage, 1.75 for each inner).
template <typename T, typename Blend, typename Core, typename Layers = NoCoreLayers>
inline T nlSvf4xStep(T x, const SvfCoeffsOf<T>& c, const NlSvfDriveOf<T>& d, const Blend& blend, Core& s,
                     Layers&& layers = Layers{}) {
  const HalfbandPairOf<T> u = halfbandInterpolate(s.outerUp, x);
  const T outer[2] = {u.first, u.second};
  for (const T u2x : outer) {
    const HalfbandPairOf<T> v = halfbandInterpolate(s.innerUp, u2x);
    halfbandPush(s.innerDown, nlSvfStep(v.first, c, d, blend, s, layers));
    halfbandPush(s.innerDown, nlSvfStep(v.second, c, d, blend, s, layers));
    halfbandPush(s.outerDown, halfbandDot(s.innerDown));
  }
  return halfbandDot(s.outerDown);
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
