// The clean core's layer stage: the ladder and drive layers run at four times the rate on the filter's
// input and the core's output, both taken up by the same half-bands, and come back down through one pair.
// The core stays at the base rate (its response is the clean filter's); the layers' harmonics meet the
// half-bands before the base rate, and the ladder and the core's output meet in time, as inside the
// nonlinear core.
#pragma once

#include <type_traits>

#include "engine/voice/Oversampler2xAllpass.h"

// The stage's half-bands: steep between the rate and twice it, wide between twice and four times it, for
// the filter's input, the core's output and the way down. Plain data; T is float or SIMD lanes.
template <typename T>
struct CleanLayersOf {
  AllpassHalfbandOf<T, SteepAllpassDesign> inputUp, coreUp, down;
  AllpassHalfbandOf<T, WideAllpassDesign> inputUp2x, coreUp2x, down2x;

  void clear() { *this = CleanLayersOf{}; }
};
using CleanLayers = CleanLayersOf<float>;

static_assert(std::is_trivially_copyable_v<CleanLayers>);

// One base-rate sample of the stage on input x and core output y: layers(v, y) takes each 4x sample of
// the input and of the core's output and returns the layered output at that step.
template <typename T, typename Layers>
inline T cleanLayersStep(CleanLayersOf<T>& s, T x, T y, Layers&& layers) {
  const HalfbandPairOf<T> x2 = allpassInterpolate(s.inputUp, x);
  const HalfbandPairOf<T> y2 = allpassInterpolate(s.coreUp, y);
  const T in2x[2] = {x2.first, x2.second};
  const T core2x[2] = {y2.first, y2.second};
  T out2x[2];
  for (int k = 0; k < 2; ++k) {
    const HalfbandPairOf<T> x4 = allpassInterpolate(s.inputUp2x, in2x[k]);
    const HalfbandPairOf<T> y4 = allpassInterpolate(s.coreUp2x, core2x[k]);
    const T first = layers(x4.first, y4.first);
    const T second = layers(x4.second, y4.second);
    out2x[k] = allpassDecimate(s.down2x, first, second);
  }
  return allpassDecimate(s.down, out2x[0], out2x[1]);
}
