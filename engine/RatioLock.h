// The ratio lane's value-to-ratio mapping and the ratio lock's snapping to the ratio steps of the tuning
// in force. Ratios are plain frequency ratios within the Ratio parameter's range 0.5..16.
#pragma once

#include "tuning/RatioSteps.h"

inline constexpr float kRatioSmoothMs = 5.0f;           // the Ratio smoother's usual time
inline constexpr float kRatioRetuneEaseMs = 50.0f;      // easing to a new step after a retune ...
inline constexpr float kRatioRetuneEaseMsPer = 500.0f;  // ... plus this per unit of relative distance
inline constexpr double kRatioLogFloor = 1e-6;          // floor under a ratio before its logarithm

// How the ratio lane's values become ratios this block. Rank mode: a value picks a ratio step by rank
// (value x step count). Absolute: the value spans 0.5..16 on a log scale. Relative: 0.5 keeps the
// route-modulated ratio, 0 divides it by 32 and 1 multiplies it by 32.
struct RatioLaneMapping {
  bool absolute{false};
  bool rank{false};    // absolute and rank-encoded with ratio steps to pick from
  double lnBase{0.0};  // ln of the route-modulated ratio
  const MtsRatioSteps* steps{nullptr};
};

// The ratio a lane value 0..1 stands for, clamped to 0.5..16.
double ratioFromLaneValue(const RatioLaneMapping& m, double v);

// True when every lane value above the rest level sits within 0.001 of the centre of a rank among
// stepCount ranks, and at least one such value exists.
bool laneValuesRankEncoded(const float* values, int n, int stepCount);

// The step nearest to ratio. A table with a period above 1 also offers each step shifted by whole
// periods, within 0.5..16. The table holds at least one step; a non-finite ratio counts as 1.
double snapRatioToSteps(const MtsRatioSteps& steps, double ratio);

// The geometric glide from r0 to r1 at frac 0..1.
double ratioGlide(double r0, double r1, double frac);
