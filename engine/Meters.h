// Output level meters shown by the editor: block peak and smoothed RMS per channel.
#pragma once

#include <atomic>

#include "foundation/MLDSPVector.h"

// Measures the final output once per 64-sample block. The peak is the block's largest magnitude; the RMS
// reading follows the block RMS with a 5 ms attack and a 100 ms release (one-pole at the block rate).
// A silent block (below -140 dBFS) brings a reading that low to 0 at once.
// The audio thread writes the four readings with relaxed stores; any thread may read them.
struct OutputMeters {
  static constexpr float kAttackSeconds = 0.005f;
  static constexpr float kReleaseSeconds = 0.1f;

  float attack{1.0f};  // per-block coefficients
  float release{1.0f};
  float rmsState[2]{};
  std::atomic<float> peak[2]{};
  std::atomic<float> rms[2]{};

  // Coefficients for the block rate sampleRate / 64; sampleRate must be > 0 (other values are ignored).
  void setSampleRate(float sampleRate);
  // Zeroes the RMS states and every reading.
  void clear();
  void process(const ml::DSPVector& left, const ml::DSPVector& right);

  float getPeakL() const { return peak[0].load(std::memory_order_relaxed); }
  float getPeakR() const { return peak[1].load(std::memory_order_relaxed); }
  float getRmsL() const { return rms[0].load(std::memory_order_relaxed); }
  float getRmsR() const { return rms[1].load(std::memory_order_relaxed); }
};
