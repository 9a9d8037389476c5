#include "engine/ParamSnapshot.h"

#include <algorithm>
#include <cmath>

#include "foundation/MLSafeValue.h"

namespace {

// A set of parameter ids as a table of flags, built at compile time.
template <size_t N>
constexpr std::array<bool, kNumParams> idFlags(const uint32_t (&ids)[N]) {
  std::array<bool, kNumParams> flags{};
  for (uint32_t id : ids) flags[id] = true;
  return flags;
}

constexpr uint32_t kExcludedIds[] = {kParamVoiceMode,         kParamVoiceCount,        kParamMorphFader,
                                     kParamEnv1Delay,         kParamEnv1Hold,          kParamEnv2Delay,
                                     kParamEnv2Hold,          kParamEnv1DelayDivision, kParamEnv1HoldDivision,
                                     kParamEnv2DelayDivision, kParamEnv2HoldDivision};

constexpr uint32_t kDiscreteIds[] = {kParamVoiceMode,
                                     kParamVoiceCount,
                                     kParamFilterAMode,
                                     kParamFilterBMode,
                                     kParamLfo1Pattern,
                                     kParamLfo1Slew,
                                     kParamLfo2Pattern,
                                     kParamLfo2Slew,
                                     kParamLfo1SyncMode,
                                     kParamLfo2SyncMode,
                                     kParamOctave,
                                     kParamPitchBendRange,
                                     kParamRatioModSource,
                                     kParamFoldModSource,
                                     kParamFilterACutoffModSource,
                                     kParamFilterBCutoffModSource,
                                     kParamEnvModel,
                                     kParamFoldBiasModSource,
                                     kParamEnv1TriggerMode,
                                     kParamEnv2TriggerMode,
                                     kParamEnv1TempoSync,
                                     kParamEnv1DelayDivision,
                                     kParamEnv1AttackDivision,
                                     kParamEnv1HoldDivision,
                                     kParamEnv1DecayDivision,
                                     kParamEnv1ReleaseDivision,
                                     kParamEnv2TempoSync,
                                     kParamEnv2DelayDivision,
                                     kParamEnv2AttackDivision,
                                     kParamEnv2HoldDivision,
                                     kParamEnv2DecayDivision,
                                     kParamEnv2ReleaseDivision,
                                     kParamPitchModSource,
                                     kParamFeedbackModSource,
                                     kParamShapeMode,
                                     kParamShapeModSource,
                                     kParamFmModSource,
                                     kParamFoldCharModSource};

constexpr uint32_t kLogIds[] = {kParamFilterACutoff, kParamAmpEnvAttack, kParamAmpEnvDecay,
                                kParamAmpEnvRelease, kParamReverbDecay,  kParamFilterBCutoff,
                                kParamEnv2Attack,    kParamEnv2Decay,    kParamEnv2Release};

constexpr uint32_t kInputExemptIds[] = {kParamVoiceMode, kParamVoiceCount, kParamMorphFader};

constexpr auto kExcluded = idFlags(kExcludedIds);
constexpr auto kDiscrete = idFlags(kDiscreteIds);
constexpr auto kLog = idFlags(kLogIds);
constexpr auto kInputExempt = idFlags(kInputExemptIds);

bool flagged(const std::array<bool, kNumParams>& flags, uint32_t id) {
  return id < kNumParams && flags[id];
}

}  // namespace

bool isMorphExcludedParam(uint32_t id) {
  return flagged(kExcluded, id);
}
bool isDiscreteMorphParam(uint32_t id) {
  return flagged(kDiscrete, id);
}
bool isLogMorphParam(uint32_t id) {
  return flagged(kLog, id);
}
bool isMorphInputExempt(uint32_t id) {
  return flagged(kInputExempt, id);
}

double morphParamValue(uint32_t id, double a, double b, double t) {
  if (a == b) return a;
  if (isDiscreteMorphParam(id)) return t < 0.5 ? a : b;
  if (isLogMorphParam(id) && a > 0.0 && b > 0.0 && std::isfinite(a) && std::isfinite(b))
    return a * std::pow(b / a, t);
  return a + t * (b - a);
}

bool slotEqual(const ParamSnapshot& a, const ParamSnapshot& b, uint32_t key) {
  if (key < kNumParams) return a.value[key] == b.value[key];
  switch (key) {
    case kRebaseKeyLockA:
      return a.lockA == b.lockA;
    case kRebaseKeyLockB:
      return a.lockB == b.lockB;
    case kRebaseKeySeqRate:
    case kRebaseKeySeqRate + 1:
      return a.seqRate[key - kRebaseKeySeqRate] == b.seqRate[key - kRebaseKeySeqRate];
    case kRebaseKeySeqRun:
    case kRebaseKeySeqRun + 1:
      return a.seqRun[key - kRebaseKeySeqRun] == b.seqRun[key - kRebaseKeySeqRun];
    case kRebaseKeySeqDiv:
    case kRebaseKeySeqDiv + 1:
      return a.seqDiv[key - kRebaseKeySeqDiv] == b.seqDiv[key - kRebaseKeySeqDiv];
    default:
      return false;
  }
}

void completeSnapshotDefaults(ParamSnapshot& s) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (s.has[id]) continue;
    s.value[id] = kParams[id].def;
    s.has[id] = true;
  }
}

void sanitizeSnapshot(ParamSnapshot& s) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!std::isfinite(s.value[id])) {
      s.value[id] = kParams[id].def;
      s.has[id] = false;
    } else {
      s.value[id] = std::clamp(s.value[id], kParams[id].min, kParams[id].max);
    }
  }
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) {
    for (float& step : s.seqSteps[lane]) step = ml::safeClamp(step, 0.0f, 1.0f);
    for (uint8_t& tie : s.seqTies[lane]) tie = tie != 0 ? 1 : 0;
    s.seqStepCount[lane] = std::min<uint32_t>(s.seqStepCount[lane], ParamSnapshot::kSeqMorphSteps);
    if (!std::isfinite(s.seqRate[lane])) s.seqRate[lane] = -1.0f;
  }
  s.seq1Target = std::min(s.seq1Target, ParamSnapshot::kMaxSeq1Target);
}
