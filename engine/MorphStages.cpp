// The morph's part of blocks 1, 3 and 4: pole hand-over with the engine fold, the morph of the block
// cache between the live poles, the filter-mode calibration blends and the both-poles-live epoch.
#include <cmath>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

// A fader move larger than this lands at once instead of gliding.
constexpr double kMorphPosSnap = 0.25;

constexpr uint32_t kFilterModeParams[2] = {kParamFilterAMode, kParamFilterBMode};

int32_t filterModeOf(double value) {
  return static_cast<int32_t>(ml::safeClamp(value, 0.0, 3.0));
}

}  // namespace

int PluginProcessor::nearMorphPole() const {
  return double(params[kParamMorphFader]) < 0.5 ? 0 : 1;
}

void PluginProcessor::handOverMorphPoles() {
  if (morph.takePublished() != 0) {
    // A new capture holds the lanes as they are now: their steps morph again, from a fresh anchor.
    for (int l = 0; l < kSeqTiedLanes; ++l) {
      seq.lanes[l].editBroke.store(false, std::memory_order_release);
      seq.lanes[l].reanchor.valid = false;
    }
  }
  takeLaneLatchRestore();
  foldEngineRebase();
}

void PluginProcessor::takeLaneLatchRestore() {
  // A state load's lane flags wait until the poles it set are taken, which would clear them again.
  if (!seq.latchRestorePending.load(std::memory_order_acquire)) return;
  if (morph.staged[0].pending() || morph.staged[1].pending()) return;
  seq.latchRestorePending.store(false, std::memory_order_release);
  for (int l = 0; l < kSeqTiedLanes; ++l)
    seq.lanes[l].editBroke.store(seq.latchedEditBroke[l].load(std::memory_order_relaxed),
                                 std::memory_order_release);
}

void PluginProcessor::foldEngineRebase() {
  // While a pole is missing the flags stay set, to be folded once both are there.
  if (!morph.bothLive()) return;
  const int near = nearMorphPole();
  for (uint32_t key = 0; key < kNumRebaseKeys; ++key) {
    if (!takeRebaseFlag(morph.engineFold[key])) continue;
    const bool mirrored = foldRebaseSlotMirrored(morph.live, near, key);
    morph.stamp[near].store(morph.live[near].captureSeq, std::memory_order_release);
    if (mirrored) morph.stamp[1 - near].store(morph.live[1 - near].captureSeq, std::memory_order_release);
  }
}

double PluginProcessor::morphPositionForBlock(double fader) {
  const uint32_t epoch = snapshotEpoch.load(std::memory_order_acquire);
  if (epoch == morph.epochSeen && std::fabs(fader - morphFaderSmoother.value) <= kMorphPosSnap)
    return morphFaderSmoother.smoothLast(static_cast<float>(fader));
  morphFaderSmoother.set(static_cast<float>(fader));
  morph.epochSeen = epoch;
  return fader;
}

void PluginProcessor::morphParamCache() {
  MorphBlock& b = morph.block;
  const ParamSnapshot& a = morph.live[0];
  const ParamSnapshot& bPole = morph.live[1];
  b.active = morph.bothLive();
  const double fader = ml::safeClamp(cache[kParamMorphFader], 0.0, 1.0);
  const double t = morphPositionForBlock(fader);
  if (b.active) {
    for (uint32_t id = 0; id < kNumParams; ++id) {
      if (isMorphExcludedParam(id) || !a.has[id] || !bPole.has[id]) continue;
      cache[id] = morphParamValue(id, a.value[id], bPole.value[id], t);
    }
  }
  b.octaveA = static_cast<float>(a.value[kParamOctave]);
  b.octaveB = static_cast<float>(bPole.value[kParamOctave]);
  b.octaveDiffers = b.active && a.has[kParamOctave] && bPole.has[kParamOctave] && b.octaveA != b.octaveB;
  b.faderPastHalf = fader >= 0.5;
  b.position = ml::safeClamp(t, 0.0, 1.0);
  seq.polePosition = b.position;
  for (int l = 0; l < kSeqTiedLanes; ++l)
    seq.laneMorph[l] = b.active && a.seqLaneCaptured[l] && bPole.seqLaneCaptured[l] && !seqLaneEditBroke(l);
}

void PluginProcessor::publishFilterModeBlends() {
  const MorphBlock& b = morph.block;
  for (int k = 0; k < 2; ++k) {
    const uint32_t id = kFilterModeParams[k];
    CalibModeBlend& c = morph.calib[k];
    c.mode = c.fromMode = c.toMode = filterModeOf(cache[id]);
    c.t = 0.0f;
    c.active = false;
    if (!b.active || !morph.live[0].has[id] || !morph.live[1].has[id]) continue;
    const int32_t from = filterModeOf(morph.live[0].value[id]);
    const int32_t to = filterModeOf(morph.live[1].value[id]);
    if (from == to) continue;
    c.fromMode = from;
    c.toMode = to;
    c.t = static_cast<float>(b.position);
    c.active = true;
  }
}

void PluginProcessor::trackMorphActiveEpoch() {
  if (morph.block.active == morph.activeBefore) return;
  // Poles appearing or going: the next block's fader lands at once and the voices restart their glides.
  bumpSnapEpoch();
  morph.activeBefore = morph.block.active;
}

FilterCalibBlend PluginProcessor::filterCalibBlend(int filter, int32_t filterMode) const {
  return morph.calib[filter == 0 ? 0 : 1].forFilterMode(filterMode);
}
