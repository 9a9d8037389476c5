// Shared 15-tap half-band filter and the 2x oversampler that runs a shaper above the base rate.
#pragma once

#include <cstdint>
#include <type_traits>

// Half-band ring: 15 floats of history with the index of the next write.
struct HalfbandRing {
  float ring[15]{};
  int32_t index{0};

  void clear() { *this = HalfbandRing{}; }
};

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
};

static_assert(std::is_trivially_copyable_v<Oversampler2x>);

// Writes x into the ring and advances its index.
inline void halfbandPush(HalfbandRing& r, float x) {
  r.ring[r.index] = x;
  r.index = (r.index == Oversampler2x::kTaps - 1) ? 0 : r.index + 1;
}

// The half-band convolution over the ring's newest 15 samples (newest at tap 0), times gain.
inline float halfbandDot(const HalfbandRing& r, float gain = 1.f) {
  float acc = 0.f;
#pragma GCC unroll 9
  for (int t = 0; t < Oversampler2x::kNumNz; ++t) {
    const int32_t j = Oversampler2x::kNzIdx[t];
    int32_t p = r.index - 1 - j;
    p += (p < 0) ? Oversampler2x::kTaps : 0;
    acc += gain * Oversampler2x::sTaps[j] * r.ring[p];
  }
  return acc;
}

// One 2x interpolation pass: pushes x (the input on the first pass, 0 on the second) and returns
// the interpolated sample; the gain 2 restores the level lost by zero stuffing.
inline float halfbandInterpolate(HalfbandRing& r, float x) {
  halfbandPush(r, x);
  return halfbandDot(r, 2.f);
}

template <typename Shaper>
float Oversampler2x::process(float x, Shaper&& shaper) {
  halfbandPush(down, shaper(halfbandInterpolate(up, x)));
  halfbandPush(down, shaper(halfbandInterpolate(up, 0.f)));
  return halfbandDot(down);
}
