// Linked-stereo look-ahead limiter that holds the output's true peak under -1.2 dBFS.
#pragma once

#include <cstdint>

#include "foundation/MLDSPVector.h"

// Estimates inter-sample peaks with a 4-phase, 8-tap Kaiser-windowed sinc interpolator (shared by every
// instance, built once), delays the audio by 32 samples and applies the smallest gain needed anywhere in
// that window: instant attack, one-pole release. Besides the interpolated points, each sample's own
// magnitude counts, so clicks and near-Nyquist sines are caught too. Audio thread only.
struct TruePeakLimiter {
  static constexpr int kLookahead = 32;
  static constexpr int kPhases = 4;
  static constexpr int kTaps = 8;
  static constexpr float kCeiling = 0.87096357f;  // 10^(-1.2 / 20)
  static constexpr float kDefaultReleaseMs = 50.0f;

  // Oldest first: each channel's last kTaps inputs, the samples waiting in the delay and their target gains.
  alignas(16) float pastInputs[2][kTaps]{};
  alignas(16) float delay[2][kLookahead]{};
  alignas(16) float gains[kLookahead]{};  // all 1 after clear()
  float gain{1.0f};
  float ceiling{kCeiling};
  float release{1.0f};  // per-sample release coefficient

  // Builds the shared interpolation kernel; safe to call from several threads at once.
  static void initKernel();
  // The shared kernel, taps per phase (built on first use).
  static const float (&kernel())[kPhases][kTaps];

  // release = 1 - exp(-1 / (releaseMs in samples)); 1 (no release smoothing) unless both are > 0.
  void setSampleRate(float sampleRate, float releaseMs);
  // Empties the history and delay, every target gain 1, output gain 1.
  void clear();
  // One 64-sample block in place; each output is the input of 32 samples earlier, limited.
  void processBlock(ml::DSPVector& left, ml::DSPVector& right);

  static constexpr int latencySamples() { return kLookahead; }
};
