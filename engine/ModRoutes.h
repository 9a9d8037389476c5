// The ten modulation routes: their parameter table, source tracking with a 10 ms crossfade, and the
// block-level modulation of a target parameter.
#pragma once

#include <array>
#include <cstdint>

#include "engine/ParamTable.h"
#include "foundation/MLSafeValue.h"

// Route sources: the two engine-wide LFOs (one value per block) and the two per-voice envelopes (rows
// that only the voice render path has).
enum RouteSourceId : int32_t { kSourceLfo1 = 0, kSourceLfo2 = 1, kSourceEnv1 = 2, kSourceEnv2 = 3 };

// How a route's Start..End fraction of the target's range is applied.
enum class RouteScale : uint8_t {
  kLinear,       // added to the value
  kExponential,  // added to the logarithm of the value (Ratio and the cutoffs)
  kVoiceOnly,    // pitch: applied by the voice alone, in semitones of Pitch Mod Range
};

// One route's parameters. For the pitch route the target is its range in semitones.
struct RouteInfo {
  uint32_t sourceParam;
  uint32_t startParam;
  uint32_t endParam;
  uint32_t targetParam;
  RouteScale scale;
};

enum RouteIndex : uint32_t {
  kRouteRatio,
  kRouteFold,
  kRouteCutoffA,
  kRouteCutoffB,
  kRouteFoldBias,
  kRoutePitch,
  kRouteFeedback,
  kRouteShape,
  kRouteFm,
  kRouteFoldChar,
  kNumRoutes
};

inline constexpr RouteInfo kRoutes[kNumRoutes] = {
    {kParamRatioModSource, kParamRatioModStart, kParamRatioModEnd, kParamRatio, RouteScale::kExponential},
    {kParamFoldModSource, kParamFoldModStart, kParamFoldModEnd, kParamFold, RouteScale::kLinear},
    {kParamFilterACutoffModSource, kParamFilterACutoffModStart, kParamFilterACutoffModEnd,
     kParamFilterACutoff, RouteScale::kExponential},
    {kParamFilterBCutoffModSource, kParamFilterBCutoffModStart, kParamFilterBCutoffModEnd,
     kParamFilterBCutoff, RouteScale::kExponential},
    {kParamFoldBiasModSource, kParamFoldBiasModStart, kParamFoldBiasModEnd, kParamFoldBias,
     RouteScale::kLinear},
    {kParamPitchModSource, kParamPitchModStart, kParamPitchModEnd, kParamPitchModRange,
     RouteScale::kVoiceOnly},
    {kParamFeedbackModSource, kParamFeedbackModStart, kParamFeedbackModEnd, kParamFeedback,
     RouteScale::kLinear},
    {kParamShapeModSource, kParamShapeModStart, kParamShapeModEnd, kParamShape, RouteScale::kLinear},
    {kParamFmModSource, kParamFmModStart, kParamFmModEnd, kParamFmAmount, RouteScale::kLinear},
    {kParamFoldCharModSource, kParamFoldCharModStart, kParamFoldCharModEnd, kParamFoldCharacter,
     RouteScale::kLinear},
};

// The route state the engine keeps between blocks and hands to the voice render path within a block.
// Written once per block by the route stage, read by every voice of the same block (audio thread only).
// Fades run 0..1, where 1 means the current source alone; a fade starts at 0 on the block of a source
// change and reaches 1 after ceil(0.01 x sampleRate / 64) blocks, counting that block.
// A voice mixing an old and a new source row uses w = fadeAtSample(r, i) while fading(r), and
// routePrevSource[r] is the old source; blockSourceValue gives an LFO source's engine-wide value, and
// routeBlockValue/routeBlockSource what the engine already built into its rows for the route.
struct ModRoutes {
  std::array<int32_t, kNumRoutes> routeSource{};      // source in use; -1 until the first block
  std::array<int32_t, kNumRoutes> routePrevSource{};  // source fading out; equals routeSource once settled
  std::array<float, kNumRoutes> routeFade{};          // fade after this block's step (end of the block)
  std::array<float, kNumRoutes> routeFadeStart{};     // fade at the start of this block
  std::array<float, 2> lfoBlockValue{};               // this block's LFO 1 and LFO 2 values, 0..1
  // Engine-wide source value of each route this block (crossfaded; 0 for an envelope source) and the
  // source it was computed for. The pitch route's entries keep 0 and -1: the voice applies all of it.
  std::array<float, kNumRoutes> routeBlockValue{};
  std::array<int32_t, kNumRoutes> routeBlockSource{};
  // Every route kept its source through its last block with no fade running: a block selecting the
  // same sources changes nothing.
  bool settled{false};

  ModRoutes() { clear(); }
  // Forgets the sources, so the next block adopts the selected ones without a fade.
  void clear();

  // A Source parameter's value as a source index 0..3 (NaN gives 0).
  static int32_t sourceFromParam(double value) {
    return static_cast<int32_t>(ml::safeClamp(value, 0.0, 3.0) + 0.5);
  }
  // Fade step per block for a 10 ms crossfade at this rate.
  static float fadeStep(double sampleRate);

  // Follows the selected source of every route and steps the running fades by one block.
  void trackSources(const std::array<int32_t, kNumRoutes>& selected, float step);
  // Every route's engine-wide block value and source (all but pitch), from lfoBlockValue.
  void computeBlockValues();
  // Engine-wide value of a source this block: the LFO values, 0 for the envelopes.
  float blockSourceValue(int32_t source) const;

  // The route crossfades during this block (including the block whose fade reaches 1).
  bool fading(uint32_t r) const { return routeFadeStart[r] < 1.0f; }
  // Fade position at sample i (0..63) of this block, ramping from routeFadeStart to routeFade.
  float fadeAtSample(uint32_t r, int i) const {
    return routeFadeStart[r] + (routeFade[r] - routeFadeStart[r]) * static_cast<float>(i) / 64.0f;
  }
};

// A target parameter's block value after its route: unchanged unless Start or End is above 0.001;
// otherwise moved by Start + blockValue x (End - Start) of the target's full range, linearly or on the
// logarithm of the value, and clamped to the range. A result that is not finite gives the default.
double modulateTarget(const ParamInfo& target, RouteScale scale, double base, double start, double end,
                      float blockValue);

// A value's position 0..1 in its parameter's range, for the editor's modulation bars.
float rangePosition(const ParamInfo& param, double value);
