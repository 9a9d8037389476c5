// Inside stage 10 of the block: the ratio lane (lane 0) with the ratio lock, and lane 1's target.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/PluginProcessor.h"
#include "engine/RatioLock.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr double kSnapChange = 1e-9;  // a snapped step moved by more than this is a new step
constexpr double kMinSmoothedRatio = 1e-6;

// Lane 1's targets 0..3 by the modulated value each drives; the Morph Fader (4) is written back instead.
struct LaneOneTarget {
  PluginProcessor::ModTarget modTarget;
  uint32_t param;
  bool exponential;  // a cutoff: the lane spans the range on a log scale
};
constexpr LaneOneTarget kLaneOneTargets[] = {
    {PluginProcessor::kModFmAmount, kParamFmAmount, false},
    {PluginProcessor::kModFold, kParamFold, false},
    {PluginProcessor::kModCutoffA, kParamFilterACutoff, true},
    {PluginProcessor::kModCutoffB, kParamFilterBCutoff, true},
};
static_assert(std::size(kLaneOneTargets) == kSeqTargetMorphFader);

// How the ratio lane's values are read this block. The lane is taken as rank-encoded, without being
// told so, when the lock picks among several selected steps and every live value sits on a rank centre.
RatioLaneMapping ratioLaneMapping(const PluginProcessor& e, bool lockOn) {
  const MtsRatioSteps& steps = e.currentRatioSteps();
  const int32_t selections = e.ratioSelectionCount();
  RatioLaneMapping m;
  m.absolute = e.published.seqRatioAbsolute.load(std::memory_order_relaxed) || (lockOn && selections > 1);
  bool rankEncoded = e.published.seqRatioRankEncoded.load(std::memory_order_relaxed);
  if (!rankEncoded && lockOn && steps.ratioStepCount > 1 && selections > 1 && e.getSeqEnabled(0)) {
    float values[kSeqSteps];
    const int n = e.getSeqStepsCopy(0, values, kSeqSteps);
    rankEncoded = laneValuesRankEncoded(values, n, steps.ratioStepCount);
  }
  m.rank = m.absolute && rankEncoded && steps.ratioStepCount > 0;
  m.lnBase = std::log(std::max(e.modulated[PluginProcessor::kModRatio].effective, kRatioLogFloor));
  m.steps = &steps;
  return m;
}

// Ends a running ease of the Ratio smoother: its time is the usual one again.
void endRatioEase(PluginProcessor& e) {
  e.ratioJumpPending = false;
  e.ratioJumpMs = kRatioSmoothMs;
  e.rowSmoothers[PluginProcessor::kRowRatio].setTime(kRatioSmoothMs, static_cast<float>(e.sampleRate));
}

// The ratio lock with ratio steps to snap to. A gliding lane glides geometrically between the steps its
// two ends snap to (the steps it holds before and after the glide); otherwise the ratio jumps to its
// nearest step, easing there after a retune.
double lockRatio(PluginProcessor& e, double ratio, const SeqLaneReading& lane, double ratioFrom,
                 double ratioTo) {
  const MtsRatioSteps& steps = e.currentRatioSteps();
  if (lane.glide) {
    const double r0 = snapRatioToSteps(steps, ratioFrom);
    const double r1 = snapRatioToSteps(steps, ratioTo);
    e.lastSnappedRatio = r1;
    e.ratioStepsRebuilt = false;
    endRatioEase(e);
    return ratioGlide(r0, r1, lane.frac);
  }
  const double best = snapRatioToSteps(steps, ratio);
  const bool changed = std::fabs(best - e.lastSnappedRatio) > kSnapChange;
  if (e.ratioStepsRebuilt && changed) {
    const double now =
        std::max(static_cast<double>(e.rowSmoothers[PluginProcessor::kRowRatio].value), kMinSmoothedRatio);
    const double distance = std::min(std::fabs(best / now - 1.0), 1.0);
    e.ratioJumpMs = kRatioRetuneEaseMs + kRatioRetuneEaseMsPer * static_cast<float>(distance);
    e.ratioJumpPending = true;
  } else if (changed && e.ratioJumpPending) {
    endRatioEase(e);
  }
  e.ratioStepsRebuilt = false;
  e.lastSnappedRatio = best;
  return best;
}

}  // namespace

void PluginProcessor::applyRatioLaneAndLock() {
  const bool lockOn = ratioLocked();
  const RatioLaneMapping mapping = ratioLaneMapping(*this, lockOn);
  SeqLaneReading lane = readSeqLane(0);
  const bool acts = lane.read && lane.active;
  lane.glide = acts && lane.glide;

  double ratio = modulated[kModRatio].effective;
  double ratioFrom = ratio;
  double ratioTo = ratio;
  if (acts) {
    ratio = ratioFromLaneValue(mapping, lane.value);
    if (lane.glide) {
      ratioFrom = ratioFromLaneValue(mapping, lane.from);
      ratioTo = ratioFromLaneValue(mapping, lane.to);
    }
  }

  if (lockOn && mtsRatioSteps.ratioStepCount > 0) {
    ratio = lockRatio(*this, ratio, lane, ratioFrom, ratioTo);
  } else if (!lockOn) {
    ratioStepsRebuilt = false;
    if (ratioJumpPending) endRatioEase(*this);
  }

  // A morphed step whose tie flips mid-step fades the jump out, in the log of the ratio.
  if (acts && lane.morphed) {
    const float l = static_cast<float>(std::log(std::max(ratio, kRatioLogFloor)));
    const float reanchored = seqTieReanchorApply(0, l, lane.glide, lane.step, lane.frac);
    if (reanchored != l) ratio = std::exp(static_cast<double>(reanchored));
  } else {
    seq.lanes[0].reanchor.valid = false;
  }

  modulated[kModRatio].effective = ratio;
  // The voices take the engine's ratio as it stands while the lock or the lane's step ranks choose it.
  ratioLockActive = lockOn || (acts && mapping.rank);
}

void PluginProcessor::applyLaneOneTarget() {
  const SeqLaneReading lane = readSeqLane(1);
  if (!lane.read) return;
  float v = lane.value;
  if (lane.morphed) {
    v = seqTieReanchorApply(1, v, lane.glide, lane.step, lane.frac);
  } else {
    seq.lanes[1].reanchor.valid = false;
  }
  if (!lane.active) return;

  if (lane.target == kSeqTargetMorphFader) {
    // Unipolar: the fader follows the lane, and the host and the editor are told.
    const double fader = ml::safeClamp(static_cast<double>(v), 0.0, 1.0);
    setParamFromDsp(kParamMorphFader, fader);
    cache[kParamMorphFader] = fader;
    return;
  }
  if (lane.target < 0 || lane.target >= kSeqTargetMorphFader) return;
  const LaneOneTarget& t = kLaneOneTargets[lane.target];
  const ParamInfo& info = kParams[t.param];
  const double d = (static_cast<double>(v) - 0.5) * 2.0;  // bipolar -1..1
  double& value = modulated[t.modTarget].effective;
  value = t.exponential ? std::exp(std::log(value) + d * (std::log(info.max) - std::log(info.min)))
                        : value + d * (info.max - info.min);
  value = ml::safeClamp(value, info.min, info.max);
}
