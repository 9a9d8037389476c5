#include "engine/RatioLock.h"

#include <algorithm>
#include <cmath>

#include "engine/ParamTable.h"
#include "foundation/MLSafeValue.h"

namespace {

const double kRatioMin = kParams[kParamRatio].min;
const double kRatioMax = kParams[kParamRatio].max;
const double kLnRatioMin = std::log(kRatioMin);
const double kLnRatioSpan = std::log(kRatioMax) - kLnRatioMin;

constexpr float kRankLevel = 0.001f;      // lane values below this are not examined
constexpr double kRankTolerance = 0.001;  // how far a value may sit from its rank's centre
constexpr double kMinSnapRatio = 1e-9;    // floor under a ratio before it is snapped

double clampRatio(double r) {
  return ml::safeClamp(r, kRatioMin, kRatioMax);
}

// The rank 0..stepCount-1 a value 0..1 falls in.
int rankOf(double v, int stepCount) {
  const double idx = std::floor(v * stepCount);
  return static_cast<int>(ml::safeClamp(idx, 0.0, static_cast<double>(stepCount - 1)));
}

// Index of the step closest to r (absolute difference; the first wins on ties).
int nearestRatioStep(const MtsRatioSteps& steps, double r) {
  const int count = std::clamp(steps.ratioStepCount, 1, MtsRatioSteps::kMaxSteps);
  int best = 0;
  for (int i = 1; i < count; ++i) {
    if (std::fabs(steps.ratioSteps[i] - r) < std::fabs(steps.ratioSteps[best] - r)) best = i;
  }
  return best;
}

}  // namespace

double ratioFromLaneValue(const RatioLaneMapping& m, double v) {
  if (m.rank && m.steps != nullptr && m.steps->ratioStepCount > 0) {
    return m.steps->ratioSteps[rankOf(v, m.steps->ratioStepCount)];
  }
  if (m.absolute) return clampRatio(std::exp(kLnRatioMin + v * kLnRatioSpan));
  return clampRatio(std::exp(m.lnBase + (v - 0.5) * 2.0 * kLnRatioSpan));
}

bool laneValuesRankEncoded(const float* values, int n, int stepCount) {
  if (values == nullptr || stepCount < 1) return false;
  bool examined = false;
  for (int i = 0; i < n; ++i) {
    const double v = values[i];
    if (!(values[i] >= kRankLevel)) continue;
    const double centre = (rankOf(v, stepCount) + 0.5) / stepCount;
    if (std::fabs(v - centre) > kRankTolerance) return false;
    examined = true;
  }
  return examined;
}

double snapRatioToSteps(const MtsRatioSteps& steps, double ratio) {
  ratio = ml::finiteOr(ratio, 1.0);
  const double period = steps.ratioStepPeriod;
  if (!(period > 1.0)) return steps.ratioSteps[nearestRatioStep(steps, ratio)];

  const int count = std::clamp(steps.ratioStepCount, 1, MtsRatioSteps::kMaxSteps);
  const double x = std::log2(std::max(ratio, kMinSnapRatio));
  const double p = std::log2(period);
  double best = steps.ratioSteps[0];
  double bestDistance = 1e30;
  for (int i = 0; i < count; ++i) {
    const double s = steps.ratioSteps[i];
    if (!(s > 0.0)) continue;
    // The whole number of periods that brings s nearest to the ratio, and its two neighbours.
    const double k = std::round((x - std::log2(s)) / p);
    for (int neighbour = -1; neighbour <= 1; ++neighbour) {
      const double candidate = s * std::pow(period, k + neighbour);
      if (candidate < kRatioMin || candidate > kRatioMax) continue;
      const double distance = std::fabs(candidate - ratio);
      if (distance < bestDistance) {
        best = candidate;
        bestDistance = distance;
      }
    }
  }
  return best;
}

double ratioGlide(double r0, double r1, double frac) {
  const double l0 = std::log(std::max(r0, kRatioLogFloor));
  const double l1 = std::log(std::max(r1, kRatioLogFloor));
  return std::exp(l0 + frac * (l1 - l0));
}
