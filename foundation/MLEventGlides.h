// Linear glides that smooth the allocator's outputs: one per sample, one per 64-sample vector.
#pragma once

#include <cstdint>

#include "foundation/MLDSPVector.h"

namespace ml {

// Per-sample linear glide towards a target. A glide of n samples holds the old value for one sample,
// moves n - 1 equal steps and then lands exactly on the target.
struct SampleAccurateLinearGlide {
  float currentValue{0.f};
  float stepPerSample{0.f};
  float target{0.f};
  int32_t samplesPerGlide{32};
  float invSamplesPerGlide{0.03125f};
  int32_t samplesRemaining{-1};

  // n is truncated and at least 1.
  void setGlideTimeInSamples(float n);
  float nextSample(float newTarget);
  // True when nextSample(newTarget) would return currentValue and change nothing.
  bool settledAt(float newTarget) const { return samplesRemaining < 0 && newTarget == target; }
};

// Vector-rate linear glide: each 64-sample vector is a ramp, over trunc(n / 64) vectors (at least 1).
struct LinearGlide {
  DSPVector currentVector{};
  DSPVector stepVector{};
  float target{0.f};
  float stepScale{0.03125f};
  int32_t vectorsPerGlide{32};
  int32_t vectorsRemaining{-1};
  int32_t unreadSteps{0};

  void setGlideTimeInSamples(float n);
  // Jumps to v at the next call.
  void setValue(float v);
  // The next vector (currentVector) towards newTarget.
  const DSPVector& operator()(float newTarget);
  // The same move for a caller that does not read the vector: a plain step of a glide under way is
  // counted instead of taken, until caughtUp or the next operator() call takes the counted steps; a
  // landing, which replaces every sample, drops them.
  void advanceUnread(float newTarget) {
    if (newTarget == target && vectorsRemaining > 0 && vectorsRemaining != vectorsPerGlide) {
      ++unreadSteps;
      --vectorsRemaining;
      return;
    }
    if (newTarget == target && vectorsRemaining == 0) unreadSteps = 0;
    operator()(newTarget);
  }
  // The vector of the last call, with the counted steps taken, in the order the calls would have taken
  // them.
  const DSPVector& caughtUp();
  // True when a call with newTarget would change nothing and return the vector the last call returned.
  bool settledAt(float newTarget) const { return vectorsRemaining < 0 && newTarget == target; }
  // True when the vector of the last call holds target in every sample.
  bool atRest() const { return vectorsRemaining < 0; }
};

}  // namespace ml
