// Linked-stereo look-ahead limiter that holds the output's true peak under -1.2 dBFS.
#pragma once

#include <algorithm>
#include <cstdint>

#include "foundation/MLDSPVector.h"

// Estimates inter-sample peaks on an 8x grid (shared kernels, built once), delays the audio by 32 samples
// and applies the smallest gain needed anywhere in that window: instant attack, one-pole release. The
// estimate runs in two steps: a 48-tap windowed-sinc interpolator finds the midpoint between each two
// samples (flat within 0.15 dB to 0.47 of the rate), and an 8-tap interpolator finds the quarter points of
// that 2x signal. Each sample's own magnitude counts at once; an interval's interpolated peak is known
// kEstimateDelay samples later and lowers the target gains of the samples at its two ends, which are
// still in the delay. Audio thread only.
struct TruePeakLimiter {
  static constexpr int kLookahead = 32;
  static constexpr int kMidpointTaps = 24;  // each side of the midpoint
  static constexpr int kQuarterPoints = 3;  // between two 2x samples
  static constexpr int kQuarterTaps = 8;
  static constexpr int kEstimateDelay = kMidpointTaps + 2;
  static constexpr int kHistory = 2 * kMidpointTaps + 3;  // past inputs the estimate reads
  static constexpr float kCeiling = 0.87096357f;          // 10^(-1.2 / 20)
  static constexpr float kDefaultReleaseMs = 50.0f;

  // Interpolator taps: midpoint[j] weighs the samples j before and j after the midpoint's two
  // neighbours; quarter[p][k] the 2x samples k - 3 away from the point (p + 1) / 4 of the way on.
  struct Kernel {
    float midpoint[kMidpointTaps];
    float quarter[kQuarterPoints][kQuarterTaps];
  };

  // Oldest first: each channel's last kHistory inputs, the samples waiting in the delay and their target
  // gains.
  alignas(16) float pastInputs[2][kHistory]{};
  alignas(16) float delay[2][kLookahead]{};
  alignas(16) float gains[kLookahead]{};  // all 1 after clear()
  float gain{1.0f};
  float ceiling{kCeiling};
  float release{1.0f};  // per-sample release coefficient
  // Whether every input of the last block was too quiet to reach the ceiling: the past inputs were then.
  bool lastBlockQuiet{false};

  // Builds the shared interpolation kernels; safe to call from several threads at once.
  static void initKernel();
  // The shared kernels (built on first use).
  static const Kernel& kernel();

  // release = 1 - exp(-1 / (releaseMs in samples)); 1 (no release smoothing) unless both are > 0.
  void setSampleRate(float sampleRate, float releaseMs);
  // Empties the history and delay, every target gain 1, output gain 1.
  void clear();
  // One 64-sample block in place; each output is the input of 32 samples earlier, limited.
  void processBlock(ml::DSPVector& left, ml::DSPVector& right);

  static constexpr int latencySamples() { return kLookahead; }

private:
  static constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
  // The target gains of the block's samples, after the delayed samples' kLookahead in targets, lowered
  // for the delayed samples too where an interval's peak asks. input: per channel the past inputs, then
  // the block.
  void blockTargets(const float (&input)[2][kHistory + kBlock], float* targets) const;
  // Also notes whether the block itself was quiet, for the next block.
  bool quietInput(const ml::DSPVector& left, const ml::DSPVector& right);
  // Whether the delayed samples' target gains are all 1: no reduction is pending in the look-ahead.
  bool delayedTargetsAtUnity() const;
  void passAtRest(ml::DSPVector& left, ml::DSPVector& right);
  // The gain and the product are rounded apart, which can leave a float step over the ceiling: clamped.
  float limitedSample(float x, float g) const { return std::clamp(x * g, -ceiling, ceiling); }
};
