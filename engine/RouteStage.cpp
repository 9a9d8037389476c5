// Stages 4 and 10 of the block: route sources, then the routes' block-level modulation of their targets
// with the lane targets in between, and the modulated positions published for the editor.
#include <atomic>
#include <bit>
#include <cstdint>

#include "engine/PluginProcessor.h"

namespace {

// Modulated parameters by ModTarget.
constexpr uint32_t kModTargetParams[PluginProcessor::kNumModTargets] = {
    kParamRatio, kParamFmAmount,      kParamFold,          kParamFoldBias,      kParamFeedback,
    kParamShape, kParamFoldCharacter, kParamFilterACutoff, kParamFilterBCutoff,
};

// The routes after Ratio in the order they modulate their targets.
struct RouteTarget {
  uint32_t route;
  PluginProcessor::ModTarget target;
};

constexpr RouteTarget kRoutesAfterRatio[] = {
    {kRouteFold, PluginProcessor::kModFold},
    {kRouteFoldBias, PluginProcessor::kModFoldBias},
    {kRouteFeedback, PluginProcessor::kModFeedback},
    {kRouteShape, PluginProcessor::kModShape},
    {kRouteFoldChar, PluginProcessor::kModFoldCharacter},
    {kRouteFm, PluginProcessor::kModFmAmount},
    {kRouteCutoffA, PluginProcessor::kModCutoffA},
    {kRouteCutoffB, PluginProcessor::kModCutoffB},
};

}  // namespace

void PluginProcessor::selectRouteSources() {
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    routeSelectedSource[r] = ModRoutes::sourceFromParam(cache[kRoutes[r].sourceParam]);
  }
}

void PluginProcessor::stageModulationRoutes() {
  routes.trackSources(routeSelectedSource, ModRoutes::fadeStep(sampleRate));
  routes.computeBlockValues();
  for (uint32_t t = 0; t < kNumModTargets; ++t) {
    const double base = cache[kModTargetParams[t]];
    modulated[t] = {base, base};
  }
  applyRoute(kRouteRatio, kModRatio);
  applyRatioLaneAndLock();
  for (const RouteTarget& rt : kRoutesAfterRatio) applyRoute(rt.route, rt.target);
  applyLaneOneTarget();
  publishModPositions();
}

void PluginProcessor::applyRoute(uint32_t route, ModTarget target) {
  const RouteInfo& info = kRoutes[route];
  ModulatedValue& value = modulated[target];
  value.effective =
      modulateTarget(kParams[info.targetParam], info.scale, value.effective, cache[info.startParam],
                     cache[info.endParam], routes.routeBlockValue[route]);
}

void PluginProcessor::publishModPositions() {
  for (uint32_t t = 0; t < kModCutoffA; ++t) {
    const double value = modulated[t].effective;
    const auto bits = std::bit_cast<uint64_t>(value);
    if (modPositionsPublished && bits == publishedModBits[t]) continue;
    publishedModBits[t] = bits;
    published.modPosition[t].store(rangePosition(kParams[kModTargetParams[t]], value),
                                   std::memory_order_relaxed);
  }
  modPositionsPublished = true;
}
