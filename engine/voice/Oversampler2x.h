// Shared 15-tap half-band filter and the 2x oversampler that runs a shaper above the base rate.
#pragma once

#include <cstdint>

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
  // Indices of the non-zero taps, ascending; sNumNz of them are valid.
  static inline int32_t sNzIdx[kTaps]{};
  static inline int32_t sNumNz{0};

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

// Writes x into the ring and advances its index.
inline void halfbandPush(HalfbandRing& r, float x) {
  r.ring[r.index] = x;
  r.index = (r.index == Oversampler2x::kTaps - 1) ? 0 : r.index + 1;
}

// The half-band convolution over the ring's newest 15 samples (newest at tap 0), times gain.
inline float halfbandDot(const HalfbandRing& r, float gain = 1.f) {
  const int32_t n = Oversampler2x::sNumNz;
  float acc = 0.f;
  for (int32_t t = 0; t < n; ++t) {
    const int32_t j = Oversampler2x::sNzIdx[t];
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
