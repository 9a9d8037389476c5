// Stage-time and curve functions shared by the two envelope models, and their per-render inputs.
#pragma once

#include <array>
#include <cstdint>

#include "engine/voice/SeqSyncDivisions.h"

// Inputs of one envelope render, built by the caller for each block.
struct EnvShapeParams {
  float attack{0.f};          // seconds
  float decay{0.f};           // seconds
  float sustain{0.f};         // level 0..1
  float release{0.f};         // seconds
  float attackExponent{1.f};  // classic curve exponents (resolveEnvGamma of the curves)
  float decayExponent{1.f};
  float releaseExponent{1.f};
  float attackCurve{0.f};  // modern curves, raw -1..1
  float decayCurve{0.f};
  float releaseCurve{0.f};
  int32_t delaySamples{0};
  int32_t holdSamples{0};
  int32_t triggerMode{0};  // 0 gate, 1 one-shot, 2 loop
};

// A stage time in seconds: `time` as is when not synced; synced, the division's length at `bpm`
// (120 when bpm is not above 1) clamped to lo..hi, and 0 for a time at or below 0.
float syncedStageTime(float time, bool synced, int division, double bpm, float lo, float hi);

// Classic curve exponent of a curve value -1..1: exp(2.4 curve), so 0 gives a plain segment.
float resolveEnvGamma(float curve);

// Bends y on its way from `from` to `to` by u^exponent, u the position 0..1 along the segment.
float shapeEnvSample(float y, float from, float to, float exponent);

// Start level of an ADSR stage: 1 for decay, the sustain for sustain and release, else 0.
float envSegmentStart(int adsrStage, float sustain);

// Exponential warp of a segment position x in 0..1 by curve -1..1 (0 is linear; +1 slow start).
float envWarp(float x, float curve);

// envWarp of each of the count positions in x, in place (the same values as envWarp gives one by one).
void envWarpRow(float* x, int count, float curve);

// The x for which envWarp(x, curve) = y; y is clamped to 0..1 except on the linear curve.
float envWarpInv(float y, float curve);
