// One-pole smoother for control values, producing one 64-sample row per block.
#pragma once

#include "foundation/MLDSPVector.h"

// value moves toward a target by coeff of the distance each sample; coeff 1.0 means no smoothing (the row
// equals the target). target records the last value jumped to with set().
struct ParamSmoother {
  float value{0.0f};
  float target{0.0f};
  float coeff{1.0f};

  // Time constant in milliseconds at sampleRate Hz; a time or rate that is not finite and above 0
  // disables smoothing.
  void setTime(float ms, float sampleRate);
  // Jumps to v at once.
  void set(float v) {
    value = target = v;
    rested = false;
  }
  // One row of 64 samples moving toward target; each sample holds the value after its step.
  ml::DSPVector smooth(float toward);
  // The same row written into row, where it is kept: every call passes the same row, which nothing else
  // writes (a row already holding the resting value is left as it is).
  void smoothInto(float toward, ml::DSPVector& row);
  // The same 64 steps where only the last value is read: that value, without the row.
  float smoothLast(float toward);
  // Whether the last call found the value at rest, with neither set nor setTime since: a repeat of that
  // call, toward the same value, would change nothing (and leave smoothInto's row as it is).
  bool restedLastCall() const { return rested; }
  // Whether the next row would hold the value unchanged (or, without smoothing, jumps there): value is then
  // that row's every sample, as after a call of smooth. Otherwise nothing changes.
  bool atRest(float toward);

private:
  // The 64 steps of a moving value, each written to row.
  void stepInto(float toward, ml::DSPVector& row);

  // Whether smoothInto's row holds heldValue (compared bit for bit) in every sample.
  bool rowHeld{false};
  float heldValue{0.0f};
  bool rested{false};
};
