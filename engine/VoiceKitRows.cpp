// Parameters as a voice plays them: the block cache, or the voice's kit slot with its own smoothed rows.
#include <algorithm>
#include <cmath>

#include "engine/VoiceRender.h"
#include "foundation/MLSafeValue.h"

namespace {

using PP = PluginProcessor;

constexpr float kQuietLevel = 0.01f;
constexpr float kFilterRowCapSeconds = 0.018f;

// How a kit slot's value becomes the target of a per-voice row.
enum class KitTarget : uint8_t {
  kRatio,   // the slot's Ratio scales the engine's effective Ratio (taken as is under the ratio lock)
  kOffset,  // the slot's value moves the engine's effective value by its distance from the base value
  kScale,   // the slot's value scales the engine's effective value by its ratio to the base value
  kSlot,    // the slot's value itself
};

// One per-voice row: its parameter, target rule, the engine row (or last value) it replaces, and
// whether its smoother is capped to 18 ms (the filter rows).
struct KitRow {
  uint32_t param;
  KitTarget target;
  uint32_t modTarget;  // the engine's block pair, for kRatio, kOffset and kScale
  bool isLast;
  uint32_t index;  // into VoiceBlock::rows, or ::last when isLast
  bool capped;
};

constexpr KitRow kKitRows[VoiceState::kNumVoiceSmoothers] = {
    {kParamRatio, KitTarget::kRatio, PP::kModRatio, false, PP::kRowRatio, false},
    {kParamFmAmount, KitTarget::kOffset, PP::kModFmAmount, false, PP::kRowFmAmount, false},
    {kParamFold, KitTarget::kOffset, PP::kModFold, false, PP::kRowFold, false},
    {kParamFoldBias, KitTarget::kOffset, PP::kModFoldBias, false, PP::kRowFoldBias, false},
    {kParamFilterACutoff, KitTarget::kScale, PP::kModCutoffA, false, PP::kRowCutoffA, true},
    {kParamFilterAResonance, KitTarget::kSlot, 0, false, PP::kRowResonanceA, true},
    {kParamFilterBCutoff, KitTarget::kScale, PP::kModCutoffB, false, PP::kRowCutoffB, true},
    {kParamFilterBResonance, KitTarget::kSlot, 0, false, PP::kRowResonanceB, true},
    {kParamFilterADrive, KitTarget::kSlot, 0, false, PP::kRowDriveA, false},
    {kParamFilterBDrive, KitTarget::kSlot, 0, false, PP::kRowDriveB, false},
    {kParamNoiseMix, KitTarget::kSlot, 0, false, PP::kRowNoiseMix, false},
    {kParamFilterAKeyTrack, KitTarget::kSlot, 0, true, PP::kLastKeyTrackA, false},
    {kParamFilterBKeyTrack, KitTarget::kSlot, 0, true, PP::kLastKeyTrackB, false},
    {kParamEnv1CurveA, KitTarget::kSlot, 0, true, PP::kLastEnv1CurveA, false},
    {kParamEnv1CurveD, KitTarget::kSlot, 0, true, PP::kLastEnv1CurveD, false},
    {kParamEnv1CurveR, KitTarget::kSlot, 0, true, PP::kLastEnv1CurveR, false},
    {kParamEnv1Curve, KitTarget::kSlot, 0, true, PP::kLastEnv1Curve, false},
    {kParamEnv2CurveA, KitTarget::kSlot, 0, true, PP::kLastEnv2CurveA, false},
    {kParamEnv2CurveD, KitTarget::kSlot, 0, true, PP::kLastEnv2CurveD, false},
    {kParamEnv2CurveR, KitTarget::kSlot, 0, true, PP::kLastEnv2CurveR, false},
};

double scaleByOverrideRatio(double slot, double base, double effective) {
  return effective * (slot / (base == 0.0 ? 1e-12 : base));
}

double offsetByOverride(double slot, double base, double effective) {
  return effective + (slot - base);
}

float kitRowTarget(const VoiceContext& ctx, const VoiceState& v, const KitRow& row) {
  const double slot = ctx.effParam(row.param, v);
  const PluginProcessor::ModulatedValue& pair = ctx.modulated[row.modTarget];
  double target = slot;
  switch (row.target) {
    case KitTarget::kRatio:
      target = ctx.ratioLockActive ? pair.effective : scaleByOverrideRatio(slot, pair.base, pair.effective);
      break;
    case KitTarget::kOffset:
      target = offsetByOverride(slot, pair.base, pair.effective);
      break;
    case KitTarget::kScale:
      target = scaleByOverrideRatio(slot, pair.base, pair.effective);
      break;
    case KitTarget::kSlot:
      break;
  }
  return static_cast<float>(ml::safeClamp(target, kParams[row.param].min, kParams[row.param].max));
}

}  // namespace

double sanitizedKitValue(uint32_t id, double raw, double blockValue) {
  if (!std::isfinite(raw)) return blockValue;
  return ml::safeClamp(raw, kParams[id].min, kParams[id].max);
}

const KitSlot* VoiceParams::kitSlotOf(const VoiceState& voice) const {
  if (!kitMode.load(std::memory_order_relaxed)) return nullptr;
  if (voice.kitSlot < 0 || voice.kitSlot >= kNumKitSlots) return nullptr;
  return &kitSlots[voice.kitSlot];
}

double VoiceParams::kitEffParam(uint32_t id, const VoiceState& voice) const {
  const KitSlot* slot = kitSlotOf(voice);
  if (slot == nullptr || !slot->snapshot.has[id]) return cache[id];
  return sanitizedKitValue(id, slot->snapshot.value[id], cache[id]);
}

bool VoiceParams::kitOverridden(uint32_t id, const VoiceState& voice) const {
  if (id >= kNumParams) return false;
  const KitSlot* slot = kitSlotOf(voice);
  return slot != nullptr && slot->snapshot.has[id] && !(slot->snapshot.value[id] == cache[id]);
}

void voiceParamRows(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  b.rows.share(ctx.engineRows);
  b.last = ctx.engineLast;
  b.noiseMixSmootherValue = ctx.rowSmoothers[PP::kRowNoiseMix].value;
  if (ctx.params.kitSlotOf(v) == nullptr) return;

  const bool quiet = v.ampLevel * v.gainCurrent <= kQuietLevel;
  const bool slotChanged = v.kitSlot != v.prevKitSlot || !v.kitRowsPrimed;
  const bool jump = slotChanged && quiet;
  v.prevKitSlot = v.kitSlot;
  v.kitRowsPrimed = true;
  const float cap = 1.f - std::exp(-1.f / (kFilterRowCapSeconds * b.sr));
  for (int k = 0; k < VoiceState::kNumVoiceSmoothers; ++k) {
    const KitRow& row = kKitRows[k];
    if (!ctx.params.kitOverridden(row.param, v)) continue;
    const float target = kitRowTarget(ctx, v, row);
    ParamSmoother& s = v.paramSmoothers[k];
    const float engineCoeff =
        row.isLast ? ctx.lastSmoothers[row.index].coeff : ctx.rowSmoothers[row.index].coeff;
    s.coeff = row.capped ? std::min(engineCoeff, cap) : engineCoeff;
    if (jump) s.set(target);
    const ml::DSPVector smoothed = s.smooth(target);
    if (row.isLast) {
      b.last[row.index] = smoothed[ml::kLastSampleInVector];
    } else {
      b.rows.setOwn(row.index, smoothed);
    }
    if (row.param == kParamNoiseMix) b.noiseMixSmootherValue = s.value;
  }
}
