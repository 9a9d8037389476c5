// Folding edits into the morph poles: one key into one snapshot, the audio side's mirrored fold into
// the live poles, and the main thread's drain into the staged poles before a state save.
#include "engine/PluginProcessor.h"

namespace {

// Within this distance of either end the fader sits at a pole and an edit folds into that pole alone.
constexpr double kFaderPoleMargin = 0.02;

}  // namespace

bool PluginProcessor::faderAtMorphPole() const {
  const double fader = params[kParamMorphFader];
  return fader <= kFaderPoleMargin || fader >= 1.0 - kFaderPoleMargin;
}

void PluginProcessor::foldRebaseSlot(ParamSnapshot& s, uint32_t key) {
  if (key >= kNumRebaseKeys) return;
  if (key < kNumParams) {
    s.value[key] = params[key];
    s.has[key] = true;
  } else {
    foldSettingKey(s, key);
  }
  s.captureSeq = nextCaptureSeq();
}

void PluginProcessor::foldSettingKey(ParamSnapshot& s, uint32_t key) {
  switch (key) {
    case kRebaseKeyLockA:
      s.lockA = filterLocked(0) ? 1 : 0;
      break;
    case kRebaseKeyLockB:
      s.lockB = filterLocked(1) ? 1 : 0;
      break;
    case kRebaseKeySeqRate:
    case kRebaseKeySeqRate + 1:
      s.seqRate[key - kRebaseKeySeqRate] = getSeqRateCommitted(static_cast<int>(key - kRebaseKeySeqRate));
      break;
    case kRebaseKeySeqRun:
    case kRebaseKeySeqRun + 1:
      s.seqRun[key - kRebaseKeySeqRun] = getSeqRunMode(static_cast<int>(key - kRebaseKeySeqRun));
      break;
    case kRebaseKeySeqDiv:
    case kRebaseKeySeqDiv + 1:
      s.seqDiv[key - kRebaseKeySeqDiv] = getSeqSyncDiv(static_cast<int>(key - kRebaseKeySeqDiv));
      break;
    default:
      break;
  }
}

bool PluginProcessor::foldRebaseSlotMirrored(std::array<ParamSnapshot, 2>& poles, int near, uint32_t key) {
  const int far = 1 - near;
  // Compared before the fold: a key both poles agree on moves in both, unless the fader sits at a pole.
  const bool mirror = slotEqual(poles[0], poles[1], key) && !faderAtMorphPole();
  foldRebaseSlot(poles[near], key);
  if (mirror) foldRebaseSlot(poles[far], key);
  return mirror;
}

void PluginProcessor::drainRebaseToStaging() {
  if (!morph.hasSnapshot(0) || !morph.hasSnapshot(1)) return;
  const int near = nearMorphPole();
  const int far = 1 - near;
  for (uint32_t key = 0; key < kNumRebaseKeys; ++key) {
    if (!takeRebaseFlag(morph.saveFold[key])) continue;
    const bool mirror =
        slotEqual(morph.staged[0].lastWritten(), morph.staged[1].lastWritten(), key) && !faderAtMorphPole();
    // An edit in place keeps a pole waiting for its hand-over waiting, now with the fold.
    morph.staged[near].edit([&](ParamSnapshot& s) { foldRebaseSlot(s, key); });
    if (mirror) morph.staged[far].edit([&](ParamSnapshot& s) { foldRebaseSlot(s, key); });
  }
}
