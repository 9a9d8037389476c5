// 2x half-bands of two allpass chains (polyphase IIR) for the filters' stages above the rate: a steep one
// between the base rate and twice it, which interpolates and decimates without letting the image of a
// 20 kHz tone (at 24.1 kHz for 44.1 kHz) or the harmonics of a high self-oscillation fold back, and a
// wide one between twice and four times the rate, where the band in use is a quarter of the rate.
#pragma once

#include "engine/voice/Oversampler2x.h"

// Elliptic half-bands as first-order allpass sections in z^-2, alternating between the two chains; each
// section costs one multiply per base-rate sample. Pass bands are flat to 1e-6 dB.
// Steep: order 13, pass band to 0.23 of the doubled rate (20.3 kHz at 44.1 kHz), at least 74 dB of
// stop band from 0.27 on.
struct SteepAllpassDesign {
  static constexpr int kSections = 6;
  static constexpr float kCoeffs[kSections] = {0.068204076f, 0.240270358f, 0.448676236f,
                                               0.641122367f, 0.799997564f, 0.934482236f};
};
// Wide: order 5, pass band to 0.125 of the doubled rate, at least 62 dB of stop band from 0.375 on.
struct WideAllpassDesign {
  static constexpr int kSections = 2;
  static constexpr float kCoeffs[kSections] = {0.138024994f, 0.584683257f};
};

// State of one direction (up or down) of a half-band: each section's last input and output. Plain data;
// T is float or SIMD lanes.
template <typename T, typename Design = SteepAllpassDesign>
struct AllpassHalfbandOf {
  using DesignType = Design;
  static constexpr int kSections = Design::kSections;
  T x[kSections]{};
  T y[kSections]{};
};
using AllpassHalfband = AllpassHalfbandOf<float>;
using WideAllpassHalfband = AllpassHalfbandOf<float, WideAllpassDesign>;

// Runs the base-rate samples a and b through the even and the odd sections.
template <typename T, typename Design>
inline void allpassChains(AllpassHalfbandOf<T, Design>& s, T& a, T& b) {
#pragma GCC unroll 3
  for (int c = 0; c < Design::kSections; c += 2) {
    const T ta = (a - s.y[c]) * T(Design::kCoeffs[c]) + s.x[c];
    const T tb = (b - s.y[c + 1]) * T(Design::kCoeffs[c + 1]) + s.x[c + 1];
    s.x[c] = a;
    s.x[c + 1] = b;
    s.y[c] = a = ta;
    s.y[c + 1] = b = tb;
  }
}

// The two 2x-rate samples interpolated from one input sample.
template <typename T, typename Design>
inline HalfbandPairOf<T> allpassInterpolate(AllpassHalfbandOf<T, Design>& s, T x) {
  T a = x, b = x;
  allpassChains(s, a, b);
  return {a, b};
}

// One base-rate sample decimated from two 2x-rate samples (first the earlier).
template <typename T, typename Design>
inline T allpassDecimate(AllpassHalfbandOf<T, Design>& s, T first, T second) {
  T a = second, b = first;
  allpassChains(s, a, b);
  return 0.5f * (a + b);
}

// A half-band of SIMD lanes from the half-bands stateOf(lane) of the first `lanes` lanes (the others
// silent)...
template <typename Design, typename StateOf>
void gatherAllpassLanes(AllpassHalfbandOf<ml::simd::Lanes, Design>& st, int lanes, StateOf stateOf) {
  for (int c = 0; c < Design::kSections; ++c) {
    alignas(16) float x[4] = {};
    alignas(16) float y[4] = {};
    for (int l = 0; l < lanes; ++l) {
      x[l] = stateOf(l).x[c];
      y[l] = stateOf(l).y[c];
    }
    st.x[c] = ml::simd::Lanes(ml::simd::loadF(x));
    st.y[c] = ml::simd::Lanes(ml::simd::loadF(y));
  }
}

// ... and back into the half-bands of the lanes where keep(lane).
template <typename Design, typename StateOf, typename Keep>
void scatterAllpassLanes(const AllpassHalfbandOf<ml::simd::Lanes, Design>& st, int lanes, StateOf stateOf,
                         Keep keep) {
  for (int c = 0; c < Design::kSections; ++c) {
    alignas(16) float x[4];
    alignas(16) float y[4];
    ml::simd::storeF(x, st.x[c].v);
    ml::simd::storeF(y, st.y[c].v);
    for (int l = 0; l < lanes; ++l) {
      if (!keep(l)) continue;
      stateOf(l).x[c] = x[l];
      stateOf(l).y[c] = y[l];
    }
  }
}
