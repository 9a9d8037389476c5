// The ten modulation routes as one voice applies them: its own sources, the envelope part of every
// route, the whole pitch route, the kit slot's correction of the engine's part, and row smoothing.
#include <algorithm>
#include <cmath>

#include "engine/VoiceRender.h"
#include "engine/voice/RowChecks.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
constexpr double kActiveDepth = 0.001;
constexpr float kRowSmoothSeconds = 0.003f;
constexpr float kPitchSmoothSeconds = 0.0025f;

bool perVoiceSource(int32_t s) {
  return s == kSourceEnv1 || s == kSourceEnv2;
}

const float* voiceModSourceRow(const VoiceBlock& b, int32_t source) {
  if (source == kSourceEnv1) return b.env1Row.getConstBuffer();
  if (source == kSourceEnv2) return b.env2Row.getConstBuffer();
  return nullptr;
}

// Fills route r's row with values(source, out), the whole row of one source, crossfading from the
// previous source's row while the route's source crossfade runs.
template <typename Values>
void fillRouteRow(const ModRoutes& routes, uint32_t r, int32_t source, ml::DSPVector& row, Values&& values) {
  values(source, row.getBuffer());
  if (!routes.fading(r)) return;
  float previous[kBlock];
  values(routes.routePrevSource[r], previous);
  for (int i = 0; i < kBlock; ++i) {
    const float w = routes.fadeAtSample(r, i);
    row[i] = previous[i] * (1.f - w) + row[i] * w;
  }
}

// map(x) of each sample x of the voice's row of a source, or none for a source without a row. A row that
// holds one value (an envelope at its sustain) is mapped once.
template <typename Map>
void mapSourceRow(const VoiceBlock& b, int32_t source, float none, float* out, Map&& map) {
  const float* src = voiceModSourceRow(b, source);
  if (!src) {
    std::fill(out, out + kBlock, none);
    return;
  }
  if (src[0] == src[kBlock - 1] && rowConstant(src)) {
    std::fill(out, out + kBlock, map(src[0]));
    return;
  }
  for (int i = 0; i < kBlock; ++i) out[i] = map(src[i]);
}

// Start and End of a route as the voice plays them.
struct RouteSpan {
  double start;
  double end;
};

RouteSpan routeSpan(const VoiceContext& ctx, const VoiceState& v, uint32_t r) {
  return {ml::safeClamp(ctx.effParam(kRoutes[r].startParam, v), 0.0, 1.0),
          ml::safeClamp(ctx.effParam(kRoutes[r].endParam, v), 0.0, 1.0)};
}

// The target's range as the route scales it: ln(max / min) for Ratio and the cutoffs, else max - min.
const std::array<double, kNumRoutes> kRouteRanges = [] {
  std::array<double, kNumRoutes> ranges{};
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    const ParamInfo& t = kParams[kRoutes[r].targetParam];
    ranges[r] = kRoutes[r].scale == RouteScale::kExponential ? std::log(t.max / t.min) : t.max - t.min;
  }
  return ranges;
}();

bool exponentialRoute(uint32_t r) {
  return kRoutes[r].scale == RouteScale::kExponential;
}

// The envelope part of the routes other than pitch.
void envelopeRouteRows(const VoiceContext& ctx, const VoiceState& v, VoiceBlock& b) {
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    if (r == kRoutePitch || !routeUsesVoiceSource(ctx.routes, r, b.source[r])) continue;
    if (r == kRouteRatio && ctx.ratioLockActive) continue;
    const RouteSpan span = routeSpan(ctx, v, r);
    if (!(span.end > kActiveDepth || span.start > kActiveDepth)) continue;
    const float depth = static_cast<float>((span.end - span.start) * kRouteRanges[r]);
    if (exponentialRoute(r)) {
      fillRouteRow(ctx.routes, r, b.source[r], b.routeRow[r], [&](int32_t s, float* out) {
        mapSourceRow(b, s, 1.f, out, [depth](float x) { return ml::expApprox(x * depth); });
      });
    } else {
      fillRouteRow(ctx.routes, r, b.source[r], b.routeRow[r], [&](int32_t s, float* out) {
        mapSourceRow(b, s, 0.f, out, [depth](float x) { return x * depth; });
      });
    }
  }
}

// The pitch route, in semitones, from any source: the envelopes' rows or the LFOs' block values.
bool pitchRouteRow(const VoiceContext& ctx, const VoiceState& v, VoiceBlock& b) {
  const RouteSpan span = routeSpan(ctx, v, kRoutePitch);
  if (!(std::fabs(span.end - 0.5) > kActiveDepth || std::fabs(span.start - 0.5) > kActiveDepth)) return false;
  const double range =
      ml::safeClamp(ctx.effParam(kParamPitchModRange, v), 0.0, kParams[kParamPitchModRange].max);
  const float depth = static_cast<float>((span.end - span.start) * 2.0 * range);
  const float offset = static_cast<float>((span.end - 0.5) * 2.0 * range);
  const auto semitones = [depth, offset](float x) { return x * depth + offset; };
  fillRouteRow(ctx.routes, kRoutePitch, b.source[kRoutePitch], b.routeRow[kRoutePitch],
               [&](int32_t s, float* out) {
                 mapSourceRow(b, s, semitones(ctx.routes.blockSourceValue(s)), out, semitones);
               });
  return true;
}

// In kit mode a voice whose source differs from the engine's replaces the engine's part of the route.
void kitRouteCorrection(const VoiceContext& ctx, const VoiceState& v, VoiceBlock& b) {
  if (!ctx.params.kitMode.load(std::memory_order_relaxed) || v.kitSlot < 0) return;
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    if (r == kRoutePitch || b.source[r] == ctx.routes.routeBlockSource[r]) continue;
    const RouteSpan span = routeSpan(ctx, v, r);
    const double x =
        (ctx.routes.blockSourceValue(b.source[r]) - ctx.routes.routeBlockValue[r]) * (span.end - span.start);
    b.kitRouteAdjust[r] =
        static_cast<float>(exponentialRoute(r) ? std::exp(x * kRouteRanges[r]) : x * kRouteRanges[r]);
  }
}

// Rows that run the one-pole state += c (x - state), one row in each lane of two groups of four whose
// recursions run side by side. A row's state may take the row's own value at one sample (its note start)
// before that sample's step.
struct SmoothBatch {
  static constexpr int kMaxRows = VoiceState::kNumModRows + 1;
  static constexpr int kLanes = 8;
  static constexpr int kNoRestart = -1;
  static_assert(kMaxRows <= kLanes, "every smoothed row has a lane");
  float* rows[kMaxRows];
  float* states[kMaxRows];
  float coeffs[kMaxRows];
  int32_t restarts[kMaxRows];
  int count{0};

  void push(ml::DSPVector& row, float& state, float c, int restart) {
    // A row that holds one value, from a state its step leaves where it is, is that state all block long.
    if (restart == kNoRestart && state + c * (row[0] - state) == state && rowConstant(row.getConstBuffer())) {
      row = state;
      return;
    }
    rows[count] = row.getBuffer();
    states[count] = &state;
    coeffs[count] = c;
    restarts[count] = restart;
    ++count;
  }

  void run() {
    if (count == 0) return;
    using namespace ml::simd;
    alignas(16) float spare[kBlock]{};
    alignas(16) float state[kLanes]{};
    alignas(16) float coeff[kLanes]{};
    alignas(16) int32_t restart[kLanes];
    float* row[kLanes];
    uint64_t restartSamples = 0;
    for (int k = 0; k < kLanes; ++k) {
      const bool used = k < count;
      row[k] = used ? rows[k] : spare;
      state[k] = used ? *states[k] : 0.f;
      coeff[k] = used ? coeffs[k] : 0.f;
      restart[k] = used ? restarts[k] : kNoRestart;
      if (restart[k] >= 0) restartSamples |= uint64_t{1} << restart[k];
    }
    F4 s[2] = {loadF(state), loadF(state + 4)};
    const F4 c[2] = {loadF(coeff), loadF(coeff + 4)};
    const I4 restartAt[2] = {loadI(restart), loadI(restart + 4)};
    for (int i = 0; i < kBlock; i += 4) {
      F4 x[2][4];
      for (int g = 0; g < 2; ++g) {
        for (int k = 0; k < 4; ++k) x[g][k] = loadF(row[4 * g + k] + i);
        transpose4(x[g][0], x[g][1], x[g][2], x[g][3]);
      }
      const bool restartsHere = ((restartSamples >> i) & 0xfu) != 0;  // rarely: a note starts
      for (int j = 0; j < 4; ++j) {
        for (int g = 0; g < 2; ++g) {
          if (restartsHere && ((restartSamples >> (i + j)) & 1u))
            s[g] = select(x[g][j], s[g], equalI(restartAt[g], splatI(i + j)));
          x[g][j] = s[g] = add(s[g], mul(c[g], sub(x[g][j], s[g])));
        }
      }
      for (int g = 0; g < 2; ++g) {
        transpose4(x[g][0], x[g][1], x[g][2], x[g][3]);
        for (int k = 0; k < 4; ++k) storeF(row[4 * g + k] + i, x[g][k]);
      }
    }
    storeF(state, s[0]);
    storeF(state + 4, s[1]);
    for (int k = 0; k < count; ++k) *states[k] = state[k];
  }
};

// Smooths an active row in the batch: a primed row without a note start runs on from its state, any
// other starts from its value at the note start (sample 0 without one) and is primed from then on.
void smoothRowInPlace(ml::DSPVector& row, float& state, bool& primed, bool active, float c, int noteStart,
                      SmoothBatch& batch) {
  if (!active) {
    primed = false;
    return;
  }
  batch.push(row, state, c, primed && noteStart < 0 ? SmoothBatch::kNoRestart : std::max(noteStart, 0));
  primed = true;
}

float modSmoothCoeff(float resonance, float sr) {
  return 1.f - std::exp(-1.f / (0.001f * (1.5f + 8.f * ml::safeClamp(resonance, 0.f, 1.f)) * sr));
}

// The smoothed route rows, in VoiceState::ModRow order.
constexpr uint32_t kSmoothedRoutes[VoiceState::kNumModRows] = {
    kRouteCutoffA, kRouteCutoffB, kRouteFoldBias, kRouteFeedback, kRouteShape, kRouteFm, kRouteFoldChar};

void smoothRouteRows(VoiceState& v, VoiceBlock& b, SmoothBatch& batch) {
  if (b.epochChanged) {
    std::fill(std::begin(v.modRowPrimed), std::end(v.modRowPrimed), false);
    v.pitchModPrimed = false;
  }
  // The coefficients are formed only for the rows that smooth.
  float rowCoeff = 0.f;
  const auto coeff = [&](int k) {
    if (k == VoiceState::kModRowCutoffA)
      return modSmoothCoeff(b.rows[PluginProcessor::kRowResonanceA][0], b.sr);
    if (k == VoiceState::kModRowCutoffB)
      return modSmoothCoeff(b.rows[PluginProcessor::kRowResonanceB][0], b.sr);
    if (rowCoeff == 0.f) rowCoeff = 1.f - std::exp(-1.f / (kRowSmoothSeconds * b.sr));
    return rowCoeff;
  };
  for (int k = 0; k < VoiceState::kNumModRows; ++k) {
    const uint32_t r = kSmoothedRoutes[k];
    const bool active = perVoiceSource(b.source[r]);
    smoothRowInPlace(b.routeRow[r], v.modRowState[k], v.modRowPrimed[k], active, active ? coeff(k) : 0.f,
                     b.noteStart, batch);
  }
}

// The pitch route's row smoothed like the envelope rows; a release tail holds the value it had.
void smoothPitchRow(VoiceState& v, VoiceBlock& b, bool present, SmoothBatch& batch) {
  if (b.voice < 0) {
    b.pitchRowActive = v.pitchModPrimed;
    b.routeRow[kRoutePitch] = v.pitchModState;
    return;
  }
  const float c = present ? 1.f - std::exp(-1.f / (kPitchSmoothSeconds * b.sr)) : 0.f;
  smoothRowInPlace(b.routeRow[kRoutePitch], v.pitchModState, v.pitchModPrimed, present, c, b.noteStart,
                   batch);
  b.pitchRowActive = present;
}

}  // namespace

bool routeUsesVoiceSource(const ModRoutes& routes, uint32_t r, int32_t source) {
  return perVoiceSource(source) || (routes.fading(r) && perVoiceSource(routes.routePrevSource[r]));
}

void voiceRouteRows(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  for (uint32_t r = 0; r < kNumRoutes; ++r) {
    b.source[r] = ModRoutes::sourceFromParam(ctx.effParam(kRoutes[r].sourceParam, v));
    const bool exponential = exponentialRoute(r);
    b.routeRow[r] = exponential ? 1.f : 0.f;
    b.kitRouteAdjust[r] = exponential ? 1.f : 0.f;
  }
  b.shapeMode = ml::saturateToInt32(ml::safeClamp(ctx.effParam(kParamShapeMode, v), 0.0, 2.0) + 0.5);
  if (b.voice >= 0) {
    const bool noteStarts = b.noteStart >= 0;
    trackModeChange(v.shapeMode, b.shapeMode, noteStarts);
    trackModeChange(v.filterA.modeTracker, b.filterModeA, noteStarts);
    trackModeChange(v.filterB.modeTracker, b.filterModeB, noteStarts);
  }
  if (std::find(b.source.begin(), b.source.end(), kSourceEnv2) != b.source.end()) {
    voiceEnvelope2(ctx, v, b);
  } else {
    b.env2Row = 0.f;
  }
  envelopeRouteRows(ctx, v, b);
  const bool pitchPresent = pitchRouteRow(ctx, v, b);
  kitRouteCorrection(ctx, v, b);
  SmoothBatch batch;
  smoothRouteRows(v, b, batch);
  smoothPitchRow(v, b, pitchPresent, batch);
  batch.run();
}
