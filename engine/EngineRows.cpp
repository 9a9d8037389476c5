// Stage 11 of the block: the parameter rows every voice shares, and the engine smoothers' set-up.
#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/PluginProcessor.h"
#include "engine/RatioLock.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr uint32_t kNoModTarget = PluginProcessor::kNumModTargets;

// Where an engine row's value comes from and how fast it follows.
struct RowSource {
  uint32_t param;
  uint32_t modTarget;  // kNoModTarget: read the block cache directly
  float ms;
};

constexpr RowSource kRowSources[PluginProcessor::kNumEngineRows] = {
    {kParamRatio, PluginProcessor::kModRatio, 5.0f},
    {kParamFmAmount, PluginProcessor::kModFmAmount, 10.0f},
    {kParamFold, PluginProcessor::kModFold, 10.0f},
    {kParamFoldBias, PluginProcessor::kModFoldBias, 10.0f},
    {kParamFeedback, PluginProcessor::kModFeedback, 10.0f},
    {kParamShape, PluginProcessor::kModShape, 10.0f},
    {kParamFoldCharacter, PluginProcessor::kModFoldCharacter, 10.0f},
    {kParamNoiseMix, kNoModTarget, 10.0f},
    {kParamFilterACutoff, PluginProcessor::kModCutoffA, 3.0f},
    {kParamFilterAResonance, kNoModTarget, 5.0f},
    {kParamFilterBCutoff, PluginProcessor::kModCutoffB, 3.0f},
    {kParamFilterBResonance, kNoModTarget, 5.0f},
    {kParamFilterADrive, kNoModTarget, 15.0f},
    {kParamFilterBDrive, kNoModTarget, 15.0f},
};

constexpr RowSource kLastSources[PluginProcessor::kNumEngineLasts] = {
    {kParamFilterAKeyTrack, kNoModTarget, 15.0f}, {kParamFilterBKeyTrack, kNoModTarget, 15.0f},
    {kParamEnv1CurveA, kNoModTarget, 20.0f},      {kParamEnv1CurveD, kNoModTarget, 20.0f},
    {kParamEnv1CurveR, kNoModTarget, 20.0f},      {kParamEnv1Curve, kNoModTarget, 20.0f},
    {kParamEnv2CurveA, kNoModTarget, 20.0f},      {kParamEnv2CurveD, kNoModTarget, 20.0f},
    {kParamEnv2CurveR, kNoModTarget, 20.0f},
};

constexpr float kMorphFaderMs = 12.0f;
constexpr float kStereoSpreadMs = 15.0f;

// A value clamped to its parameter's range; NaN gives the lower bound, a non-finite Ratio gives 1.0.
float clampedParamValue(uint32_t param, double v) {
  if (param == kParamRatio) v = ml::finiteOr(v, 1.0);
  return static_cast<float>(ml::safeClamp(v, kParams[param].min, kParams[param].max));
}

// Editor position of a cutoff in Hz: 0 at 20 Hz, 1 at 20 kHz on a log scale.
float cutoffPosition(float hz) {
  return ml::safeClamp(std::log(hz / 20.0f) / std::log(1000.0f), 0.0f, 1.0f);
}

// Whether the smoother rested at its last call and its input is the one of that call (bit for bit): the
// call would change nothing. Otherwise the input is kept for the next block's question.
bool unchangedAtRest(const ParamSmoother& smoother, uint64_t& lastInput, double input) {
  const auto bits = std::bit_cast<uint64_t>(input);
  if (smoother.restedLastCall() && bits == lastInput) return true;
  lastInput = bits;
  return false;
}

}  // namespace

void PluginProcessor::resetEngineSmoothers() {
  const float sr = static_cast<float>(sampleRate);
  for (uint32_t r = 0; r < kNumEngineRows; ++r) {
    rowSmoothers[r].setTime(kRowSources[r].ms, sr);
    rowSmoothers[r].set(clampedParamValue(kRowSources[r].param, cache[kRowSources[r].param]));
  }
  for (uint32_t k = 0; k < kNumEngineLasts; ++k) {
    lastSmoothers[k].setTime(kLastSources[k].ms, sr);
    lastSmoothers[k].set(clampedParamValue(kLastSources[k].param, cache[kLastSources[k].param]));
  }
  morphFaderSmoother.setTime(kMorphFaderMs, sr);
  morphFaderSmoother.set(clampedParamValue(kParamMorphFader, cache[kParamMorphFader]));
  stereoSpreadSmoother.setTime(kStereoSpreadMs, sr);
  stereoSpreadSmoother.set(clampedParamValue(kParamStereoSpread, cache[kParamStereoSpread]));
  ratioJumpPending = false;
}

void PluginProcessor::stageEngineRows() {
  const float sr = static_cast<float>(sampleRate);
  ParamSmoother& ratio = rowSmoothers[kRowRatio];
  const bool jumping = ratioJumpPending && ratioLockActive;
  if (ratioJumpPending && !ratioLockActive) {
    ratioJumpPending = false;
    ratio.setTime(kRatioSmoothMs, sr);
  } else if (jumping) {
    ratio.setTime(ratioJumpMs, sr);
  }

  uint32_t movedRows = 0;
  for (uint32_t r = 0; r < kNumEngineRows; ++r) {
    const RowSource& src = kRowSources[r];
    const double v = src.modTarget == kNoModTarget ? cache[src.param] : modulated[src.modTarget].effective;
    if (unchangedAtRest(rowSmoothers[r], rowInputs[r], v)) continue;
    rowSmoothers[r].smoothInto(clampedParamValue(src.param, v), engineRows[r]);
    movedRows |= 1u << r;
  }
  for (uint32_t k = 0; k < kNumEngineLasts; ++k) {
    const RowSource& src = kLastSources[k];
    const double v = cache[src.param];
    if (unchangedAtRest(lastSmoothers[k], lastInputs[k], v)) continue;
    engineLast[k] = lastSmoothers[k].smoothLast(clampedParamValue(src.param, v));
  }

  if (jumping) {
    const float target = clampedParamValue(kParamRatio, modulated[kModRatio].effective);
    // With a long time the smoother's steps round to nothing short of the target (a few thousandths
    // at the longest ease): a block that no longer moves lands too.
    const ml::DSPVector& row = engineRows[kRowRatio];
    const bool stalled = row[0] == row[ml::kLastSampleInVector];
    if (std::fabs(ratio.value - target) < 0.0001f || stalled) {
      ratio.set(target);
      ratioJumpPending = false;
      ratio.setTime(kRatioSmoothMs, sr);
    }
  }

  // A row left as it was still shows where it was published.
  if (movedRows & (1u << kRowCutoffA)) {
    published.cutoffPositionA.store(cutoffPosition(engineRows[kRowCutoffA][ml::kLastSampleInVector]),
                                    std::memory_order_relaxed);
  }
  if (movedRows & (1u << kRowCutoffB)) {
    published.cutoffPositionB.store(cutoffPosition(engineRows[kRowCutoffB][ml::kLastSampleInVector]),
                                    std::memory_order_relaxed);
  }
}
