#include "engine/ModRoutes.h"

#include <algorithm>
#include <cmath>

#include "foundation/MLSafeValue.h"

namespace {

constexpr double kActiveDepth = 0.001;  // Start or End above this makes a route act
constexpr double kFadeSeconds = 0.01;
constexpr double kBlockFrames = 64.0;

}  // namespace

void ModRoutes::clear() {
  routeSource.fill(-1);
  routePrevSource.fill(-1);
  routeFade.fill(1.0f);
  routeFadeStart.fill(1.0f);
  lfoBlockValue.fill(0.0f);
  routeBlockValue.fill(0.0f);
  routeBlockSource.fill(-1);
  settled = false;
}

float ModRoutes::fadeStep(double sampleRate) {
  return static_cast<float>(1.0 / std::max(1.0, kFadeSeconds * sampleRate / kBlockFrames));
}

void ModRoutes::trackSources(const std::array<int32_t, kNumRoutes>& selected, float step) {
  if (settled && selected == routeSource) return;
  settled = true;
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    const int32_t s = selected[r];
    if (routeSource[r] < 0) {
      routeSource[r] = routePrevSource[r] = s;
      routeFade[r] = 1.0f;
    }
    // The old source stays named through the block whose fade reaches 1, so the voices' per-sample
    // ramps finish the crossfade instead of jumping over its last step.
    if (routeFade[r] >= 1.0f) routePrevSource[r] = routeSource[r];
    if (s != routeSource[r]) {
      routePrevSource[r] = routeSource[r];
      routeSource[r] = s;
      routeFade[r] = 0.0f;
    }
    routeFadeStart[r] = routeFade[r];
    if (routeFade[r] < 1.0f) routeFade[r] = std::min(1.0f, routeFade[r] + step);
    settled = settled && routeFadeStart[r] >= 1.0f && routePrevSource[r] == routeSource[r];
  }
}

float ModRoutes::blockSourceValue(int32_t source) const {
  if (source == kSourceLfo1) return lfoBlockValue[0];
  if (source == kSourceLfo2) return lfoBlockValue[1];
  return 0.0f;
}

void ModRoutes::computeBlockValues() {
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    if (r == kRoutePitch) continue;
    const float current = blockSourceValue(routeSource[r]);
    routeBlockValue[r] =
        fading(r) ? blockSourceValue(routePrevSource[r]) * (1.0f - routeFade[r]) + current * routeFade[r]
                  : current;
    routeBlockSource[r] = routeSource[r];
  }
}

double modulateTarget(const ParamInfo& target, RouteScale scale, double base, double start, double end,
                      float blockValue) {
  start = ml::safeClamp(start, 0.0, 1.0);
  end = ml::safeClamp(end, 0.0, 1.0);
  if (!(end > kActiveDepth || start > kActiveDepth) || scale == RouteScale::kVoiceOnly) return base;
  const double m = start + static_cast<double>(blockValue) * (end - start);
  const double lo = target.min;
  const double hi = target.max;
  // The logarithm needs a base inside the range; an unusable base counts as the default.
  const double b = ml::safeClamp(ml::finiteOr(base, target.def), lo, hi);
  const double v = scale == RouteScale::kExponential
                       ? std::exp(std::log(b) + m * (std::log(hi) - std::log(lo)))
                       : b + m * (hi - lo);
  return std::isfinite(v) ? ml::safeClamp(v, lo, hi) : target.def;
}

float rangePosition(const ParamInfo& param, double value) {
  return static_cast<float>(ml::safeClamp((value - param.min) / (param.max - param.min), 0.0, 1.0));
}
