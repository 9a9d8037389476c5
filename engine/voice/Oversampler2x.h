// Shared 15-tap half-band filter and the 2x oversampler that runs a shaper above the base rate.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "foundation/MLSIMD.h"

// Half-band history: the newest 15 samples with the index of the next write. Each sample is stored
// twice, at index and index + 15, so that the 15 newest always lie contiguous at ring + index (oldest
// first) and a convolution reads them without wrapping. T is float, or SIMD lanes of several
// histories advancing together.
template <typename T>
struct HalfbandRingOf {
  static constexpr int32_t kLength = 15;
  T ring[2 * kLength]{};
  int32_t index{0};

  void clear() { *this = HalfbandRingOf{}; }
  // The window of the newest 15 samples: window()[14] is the newest, window()[14 - j] j steps before.
  const T* window() const { return ring + index; }
};

using HalfbandRing = HalfbandRingOf<float>;

// 2x oversampler of a memoryless shaper: zero-stuffs the input, interpolates and decimates with the
// shared half-band filter. State is two rings (no pointers), so it copies with the voice.
// Latency: 6.5 base-rate samples (7 taps of delay at 2x in each of the two filters).
struct Oversampler2x {
  static constexpr int kTaps = 15;

  // Shared taps, zero until initHalfband has run. Read-only afterwards.
  static inline float sTaps[kTaps]{};
  // The taps a half-band filter can have non-zero: the centre and every even index. The others are
  // exact zeros and are never multiplied.
  static constexpr int kNumNz = 9;
  static constexpr int32_t kNzIdx[kNumNz] = {0, 2, 4, 6, 7, 8, 10, 12, 14};

  HalfbandRing up;
  HalfbandRing down;

  // Builds the shared taps exactly once per process; later and concurrent calls wait for the first
  // and then return. Must run before any oversampler is used (the engine constructor calls it).
  static void initHalfband();

  void clear() {
    up.clear();
    down.clear();
  }

  // One base-rate sample of shaper(x) run at twice the rate.
  template <typename Shaper>
  float process(float x, Shaper&& shaper);

  // The same as n calls of process (n at most kMaxBlock), shaperAt(i, u) shaping both 2x samples of
  // input i: each convolution runs over one contiguous history, and every output keeps its order of
  // sums, so the samples are exactly those of the per-sample calls.
  static constexpr int kMaxBlock = 64;
  template <typename ShaperAt>
  void processBlock(const float* in, float* out, int n, ShaperAt&& shaperAt);

  // The same with a shaper of whole rows: shapeRow(u) shapes the 2n interpolated samples u[0..2n-1]
  // in place (u[2i] and u[2i + 1] come from input i).
  template <typename ShapeRow>
  void processBlockRows(const float* in, float* out, int n, ShapeRow&& shapeRow);
};

static_assert(std::is_trivially_copyable_v<Oversampler2x>);

// Writes x into the ring and advances its index.
template <typename T>
inline void halfbandPush(HalfbandRingOf<T>& r, T x) {
  r.ring[r.index] = x;
  r.ring[r.index + HalfbandRing::kLength] = x;
  r.index = (r.index == HalfbandRing::kLength - 1) ? 0 : r.index + 1;
}

// The shared taps as values of T (float or lanes), plain and doubled (the interpolation gain), so that
// a convolution term is one multiply by a stored value. The gains 1 and 2 scale a tap exactly, so
// each term is the same as gain x tap x sample. Filled with the taps by initHalfband.
template <typename T>
struct HalfbandTapsOf {
  static inline T plain[Oversampler2x::kTaps]{};
  static inline T doubled[Oversampler2x::kTaps]{};
};

// taps[j] x the window sample j steps before the newest.
template <typename T>
inline T halfbandTerm(const T* window, int32_t j, const T* taps) {
  return taps[j] * window[HalfbandRing::kLength - 1 - j];
}

// The half-band convolution over a window of 15 samples, oldest first (newest at tap 0): one
// decimated sample.
template <typename T>
inline T halfbandDot(const T* w) {
  T acc = 0.f;
#pragma GCC unroll 9
  for (int t = 0; t < Oversampler2x::kNumNz; ++t)
    acc = acc + halfbandTerm(w, Oversampler2x::kNzIdx[t], HalfbandTapsOf<T>::plain);
  return acc;
}

// The same over the ring's newest 15 samples.
template <typename T>
inline T halfbandDot(const HalfbandRingOf<T>& r) {
  return halfbandDot(r.window());
}

// The two 2x-rate samples interpolated from one input sample.
template <typename T>
struct HalfbandPairOf {
  T first;
  T second;
};
using HalfbandPair = HalfbandPairOf<float>;

// Both interpolation passes of one input: pushes x, convolves, pushes 0, convolves, with the gain 2
// that restores the level lost by zero stuffing. The ring holds the zero-stuffed input, so after x
// only the even taps meet input samples and after the 0 only the centre tap does; the zero terms of
// the full convolution are skipped, which leaves every sum exactly as it was.
template <typename T>
inline HalfbandPairOf<T> halfbandInterpolate(HalfbandRingOf<T>& r, T x) {
  const T* taps = HalfbandTapsOf<T>::doubled;
  HalfbandPairOf<T> out{0.f, 0.f};
  halfbandPush(r, x);
  const T* w = r.window();
#pragma GCC unroll 8
  for (int32_t j = 0; j < Oversampler2x::kTaps; j += 2) out.first = out.first + halfbandTerm(w, j, taps);
  halfbandPush(r, T(0.f));
  out.second = halfbandTerm(r.window(), Oversampler2x::kTaps / 2, taps);
  return out;
}

// One base-rate sample of shaper(x) run at twice the rate through an up and a down ring.
template <typename T, typename Up, typename Down, typename Shaper>
inline T oversample2x(Up& up, Down& down, T x, const Shaper& shaper) {
  const HalfbandPairOf<T> u = halfbandInterpolate(up, x);
  halfbandPush(down, shaper(u.first));
  halfbandPush(down, shaper(u.second));
  return halfbandDot(down);
}

template <typename Shaper>
float Oversampler2x::process(float x, Shaper&& shaper) {
  return oversample2x(up, down, x, shaper);
}

// A ring's history laid out oldest first into dst[0..14].
inline void unrollHalfband(const HalfbandRing& r, float* dst) {
  const float* w = r.window();
  for (int32_t k = 0; k < HalfbandRing::kLength; ++k) dst[k] = w[k];
}

// The ring holding the last 15 samples of src (oldest first), as if they had been pushed in order.
inline void rollHalfband(HalfbandRing& r, const float* src) {
  for (int32_t k = 0; k < HalfbandRing::kLength; ++k) r.ring[k] = r.ring[k + HalfbandRing::kLength] = src[k];
  r.index = 0;
}

// The inputs of the zero-stuffed signal in an up ring: its window's odd places (the even ones hold the
// stuffed zeros, which the interpolation never meets).
inline constexpr int kHalfbandInputHistory = Oversampler2x::kTaps / 2;

// out[2i] and out[2i + 1] for i < n (n a multiple of 4, at most kMaxBlock) as halfbandInterpolate gives
// them for input i, from the inputs whose first kHalfbandInputHistory are the up ring's and whose input i
// sits at kHalfbandInputHistory + i. The even tap j of an input's first output meets the input j / 2 steps
// before it and the centre tap of its second the input 3 steps before, so each tap reads four neighbouring
// inputs at once; every output keeps halfbandInterpolate's order of sums.
inline void halfbandInterpolateRow(const float* inputs, float* out, int n) {
  using namespace ml::simd;
  constexpr int kCentre = Oversampler2x::kTaps / 2;
  const float* taps = HalfbandTapsOf<float>::doubled;
  for (int i = 0; i < n; i += 4) {
    F4 first = splat(0.f);
#pragma GCC unroll 8
    for (int j = 0; j < Oversampler2x::kTaps; j += 2)
      first = add(first, mul(splat(taps[j]), loadU(inputs + i + kCentre - j / 2)));
    const F4 second = mul(splat(taps[kCentre]), loadU(inputs + i + 4));
    storeU(out + 2 * i, interleaveLow(first, second));
    storeU(out + 2 * i + 4, interleaveHigh(first, second));
  }
}

// out[k] = halfbandDot(in + 2k + 2) for k < n (n a multiple of 4, at most 128): one
// decimator over a contiguous signal whose first 15 samples are its history. The even and odd input samples
// are split first so that each tap reads four neighbouring outputs' samples at once; every output keeps
// halfbandDot's order of sums.
inline void halfbandDecimate(const float* in, float* out, int n) {
  using namespace ml::simd;
  constexpr int kMaxOut = 128;
  // even[m] = in[2m + 2], odd[m] = in[2m + 3]: the window of output k holds even[k + 7 - j / 2] at
  // the even taps j and odd[k + 3] at the centre tap 7.
  float even[kMaxOut + 7];
  float odd[kMaxOut + 3];
  // Four of each from eight samples at a time, the rest one by one.
  for (int m = 0; m < n; m += 4) {
    const F4 a = loadU(in + 2 * m + 2);
    const F4 b = loadU(in + 2 * m + 6);
    const F4 low = interleaveLow(a, b);
    const F4 high = interleaveHigh(a, b);
    storeU(even + m, interleaveLow(low, high));
    storeU(odd + m, interleaveHigh(low, high));
  }
  for (int m = n; m < n + 7; ++m) even[m] = in[2 * m + 2];
  for (int m = n; m < n + 3; ++m) odd[m] = in[2 * m + 3];
  const float* src[Oversampler2x::kNumNz];
  F4 taps[Oversampler2x::kNumNz];
  for (int t = 0; t < Oversampler2x::kNumNz; ++t) {
    const int32_t j = Oversampler2x::kNzIdx[t];
    src[t] = (j == Oversampler2x::kTaps / 2) ? odd + 3 : even + 7 - j / 2;
    taps[t] = splat(Oversampler2x::sTaps[j]);
  }
  for (int k = 0; k < n; k += 4) {
    F4 acc = splat(0.f);
#pragma GCC unroll 9
    for (int t = 0; t < Oversampler2x::kNumNz; ++t) acc = add(acc, mul(taps[t], loadU(src[t] + k)));
    storeU(out + k, acc);
  }
}

template <typename ShapeRow>
void Oversampler2x::processBlockRows(const float* in, float* out, int n, ShapeRow&& shapeRow) {
  constexpr int kHistory = HalfbandRing::kLength;
  // The inputs after the up ring's: x_i sits at kHalfbandInputHistory + i.
  float inputs[kHalfbandInputHistory + kMaxBlock];
  for (int m = 0; m < kHalfbandInputHistory; ++m) inputs[m] = up.window()[2 * m + 1];
  std::copy_n(in, n, inputs + kHalfbandInputHistory);
  // The shaped 2x signal after the down ring's history.
  float shaped[kHistory + 2 * kMaxBlock];
  unrollHalfband(down, shaped);
  // Whole groups of four samples side by side, the rest one at a time.
  const int whole = n & ~3;
  halfbandInterpolateRow(inputs, shaped + kHistory, whole);
  const float* taps = HalfbandTapsOf<float>::doubled;
  for (int i = whole; i < n; ++i) {
    // As halfbandInterpolateRow, one input.
    float first = 0.f;
#pragma GCC unroll 8
    for (int32_t j = 0; j < kTaps; j += 2) first += taps[j] * inputs[i + kHalfbandInputHistory - j / 2];
    shaped[kHistory + 2 * i] = first;
    shaped[kHistory + 2 * i + 1] = taps[kTaps / 2] * inputs[i + 4];
  }
  shapeRow(shaped + kHistory);
  halfbandDecimate(shaped, out, whole);
  for (int i = whole; i < n; ++i) out[i] = halfbandDot(shaped + 2 * i + 2);
  // The up ring as the zero-stuffed signal leaves it: the last inputs with zeros between.
  float upWindow[kHistory];
  for (int k = 0; k < kHistory; ++k) upWindow[k] = k % 2 ? inputs[n + k / 2] : 0.f;
  rollHalfband(up, upWindow);
  rollHalfband(down, shaped + 2 * n);
}

template <typename ShaperAt>
void Oversampler2x::processBlock(const float* in, float* out, int n, ShaperAt&& shaperAt) {
  processBlockRows(in, out, n, [&](float* u) {
    for (int i = 0; i < n; ++i) {
      u[2 * i] = shaperAt(i, u[2 * i]);
      u[2 * i + 1] = shaperAt(i, u[2 * i + 1]);
    }
  });
}
