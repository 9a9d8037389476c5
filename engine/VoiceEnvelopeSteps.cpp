// The voice's envelopes and its note boundaries: stage times, the gate scan with retriggers, start
// delays and release tails, drift and velocity timbre.
#include <algorithm>
#include <bit>
#include <cmath>

#include "engine/VoiceRender.h"
#include "engine/voice/AnalogDrift.h"
#include "engine/voice/NoiseClick.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kMinStageSeconds = 0.001f;
constexpr float kMaxStageSeconds[3] = {2.0f, 2.0f, 5.0f};  // attack, decay, release
constexpr float kMaxDelayHoldSeconds = 2.0f;
constexpr float kMinLoopDecaySeconds = 0.02f;
constexpr float kStageTimeGlideSeconds = 0.01f;
constexpr int kLoopTrigger = 2;
constexpr float kSounding = 0.0001f;
constexpr float kFilterEnergyFloor = 0.001f;
constexpr float kLoud = 0.01f;
constexpr float kLowTailPeak = 0.0003f;
constexpr float kLowTailRateDivisor = 192.f;
constexpr float kStartDelayMin = 0.5f;
constexpr float kSaturationOn = 0.0001f;

// The parameters of one envelope.
struct EnvParamIds {
  uint32_t time[3];  // attack, decay, release
  uint32_t division[3];
  uint32_t sustain;
  uint32_t sync;
  uint32_t delay;
  uint32_t hold;
  uint32_t keyTrack;
  uint32_t trigger;
};

constexpr EnvParamIds kEnvParams[2] = {
    {{kParamAmpEnvAttack, kParamAmpEnvDecay, kParamAmpEnvRelease},
     {kParamEnv1AttackDivision, kParamEnv1DecayDivision, kParamEnv1ReleaseDivision},
     kParamAmpEnvSustain,
     kParamEnv1TempoSync,
     kParamEnv1Delay,
     kParamEnv1Hold,
     kParamEnv1KeyTrack,
     kParamEnv1TriggerMode},
    {{kParamEnv2Attack, kParamEnv2Decay, kParamEnv2Release},
     {kParamEnv2AttackDivision, kParamEnv2DecayDivision, kParamEnv2ReleaseDivision},
     kParamEnv2Sustain,
     kParamEnv2TempoSync,
     kParamEnv2Delay,
     kParamEnv2Hold,
     kParamEnv2KeyTrack,
     kParamEnv2TriggerMode},
};

int roundedIndex(double value) {
  return ml::saturateToInt32(value + 0.5);
}

// A delay or hold of 0 .. kMaxDelayHoldSeconds in samples (the common 0 without the rounding call).
int32_t samplesOf(float seconds, float sr) {
  return seconds > 0.f ? static_cast<int32_t>(std::lround(seconds * sr)) : 0;
}

// Sum of the integrator magnitudes of both filters in the build that runs (the other build's
// integrators hold whatever they had when it last ran).
float filterEnergy(const VoiceState& v, bool nonlinear) {
  if (nonlinear) {
    return std::fabs(v.filterA.nl.ic1eq) + std::fabs(v.filterA.nl.ic2eq) + std::fabs(v.filterB.nl.ic1eq) +
           std::fabs(v.filterB.nl.ic2eq);
  }
  return std::fabs(v.filterA.ic1eq) + std::fabs(v.filterA.ic2eq) + std::fabs(v.filterB.ic1eq) +
         std::fabs(v.filterB.ic2eq);
}

// A note starting on a silent synthesis voice waits for the voice's drawn start delay.
void applyStartDelay(const VoiceState& v, VoiceBlock& b) {
  if (b.voice < 0 || b.noteStart < 0 || b.level >= kSounding || v.analog.startDelay < kStartDelayMin) return;
  const int last = static_cast<int>(ml::kFloatsPerDSPVector) - 1;
  const int n = std::min(static_cast<int>(std::lround(v.analog.startDelay)), last - b.noteStart);
  if (n <= 0) return;
  for (int i = b.noteStart; i < b.noteStart + n; ++i) b.gate[i] = 0.f;
  b.noteStart += n;
}

// Envelope env of the voice as the block's parameters and tempo give it.
EnvShapeParams voiceEnvelopeShape(const VoiceContext& ctx, VoiceState& v, int env, bool noteStarts,
                                  float note, float timeMul, const float (&curves)[3]) {
  return envelopeShape(ctx.params, ctx.sampleRate, ctx.tempo.load(std::memory_order_relaxed), v, env,
                       noteStarts, note, timeMul, curves);
}

}  // namespace

EnvShapeParams envelopeShape(const VoiceParams& params, double sampleRate, double tempo, VoiceState& voice,
                             int env, bool noteStarts, float note, float timeMul, const float (&curves)[3]) {
  const EnvParamIds& ids = kEnvParams[env == 0 ? 0 : 1];
  auto param = [&](uint32_t id) { return static_cast<float>(params.effParam(id, voice)); };
  const float sr = static_cast<float>(sampleRate);
  const bool synced = param(ids.sync) > 0.5f;
  float* stored = voice.envStageTime[env == 0 ? 0 : 1];
  if (noteStarts) std::fill(stored, stored + 3, -1.0f);
  // Formed only for a stored time that moves: a settled one stays as it is whatever the coefficient.
  float glide = -1.0f;
  const float kt = ml::safeClamp(param(ids.keyTrack), -1.0f, 1.0f);
  const float factor = (kt != 0.0f ? std::exp2(-kt * (note - 60.0f) / 12.0f) : 1.0f) * timeMul;
  float times[3];
  for (int t = 0; t < 3; ++t) {
    float time = ml::safeClamp(param(ids.time[t]), kMinStageSeconds, kMaxStageSeconds[t]);
    if (synced) {
      time = syncedStageTime(time, true, roundedIndex(params.effParam(ids.division[t], voice)), tempo,
                             kMinStageSeconds, kMaxStageSeconds[t]);
    }
    if (glide < 0.0f && stored[t] >= 0.0f && stored[t] != time) {
      glide = 1.0f - std::exp(-1.0f / (kStageTimeGlideSeconds * sr / ml::kFloatsPerDSPVector));
    }
    glideStageTime(stored[t], time, glide);
    times[t] = ml::safeClamp(stored[t] * factor, kMinStageSeconds, kMaxStageSeconds[t]);
  }

  EnvShapeParams p;
  p.attack = times[0];
  p.decay = times[1];
  p.release = times[2];
  p.sustain = ml::safeClamp(param(ids.sustain), 0.0f, 1.0f);
  p.attackCurve = curves[0];
  p.decayCurve = curves[1];
  p.releaseCurve = curves[2];
  p.attackExponent = resolveEnvGamma(p.attackCurve);
  p.decayExponent = resolveEnvGamma(p.decayCurve);
  p.releaseExponent = resolveEnvGamma(p.releaseCurve);
  // Delay and hold are not tempo-synced.
  const float delay = ml::safeClamp(param(ids.delay), 0.0f, kMaxDelayHoldSeconds);
  const float hold = ml::safeClamp(param(ids.hold), 0.0f, kMaxDelayHoldSeconds);
  p.delaySamples = samplesOf(delay, sr);
  p.holdSamples = samplesOf(hold, sr);
  p.triggerMode = roundedIndex(ml::safeClamp(params.effParam(ids.trigger, voice), 0.0, 2.0));
  if (p.triggerMode == kLoopTrigger) p.decay = std::max(p.decay, kMinLoopDecaySeconds);
  return p;
}

ml::DSPVector renderVoiceEnvelope(bool modern, ml::ADSR& adsr, EnvWrap& env, const ml::DSPVector& gate,
                                  const EnvShapeParams& p, int triggerIndex, float sr) {
  adsr.coeffs = ml::ADSR::calcCoeffs(p.attack, p.decay, p.sustain, p.release, sr);
  return modern ? renderEnvelopeModern(adsr, env, gate, p, triggerIndex, sr)
                : renderEnvelope(adsr, env, gate, p, triggerIndex, sr);
}

void voiceEnvelope1Params(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  b.filterModeA = ml::saturateToInt32(ml::safeClamp(ctx.effParam(kParamFilterAMode, v), 0.0, 3.0));
  b.filterModeB = ml::saturateToInt32(ml::safeClamp(ctx.effParam(kParamFilterBMode, v), 0.0, 3.0));
  const int last = static_cast<int>(ml::kFloatsPerDSPVector) - 1;
  if (b.gate[last] > 0.f) {
    v.lastNote = b.pitch[last];
    b.envNote = v.lastNote;
  } else {
    b.envNote = v.lastNote >= 0.f ? v.lastNote : b.pitch[0];
  }
  // Each of the segment curves left at exactly 0 follows the envelope's global curve.
  const float global = b.last[PluginProcessor::kLastEnv1Curve];
  const float own[3] = {b.last[PluginProcessor::kLastEnv1CurveA], b.last[PluginProcessor::kLastEnv1CurveD],
                        b.last[PluginProcessor::kLastEnv1CurveR]};
  const float curves[3] = {own[0] == 0.f ? global : own[0], own[1] == 0.f ? global : own[1],
                           own[2] == 0.f ? global : own[2]};
  b.env1Shape = voiceEnvelopeShape(ctx, v, 0, b.edges.rises != 0, b.envNote, b.timeMul, curves);
}

void voiceGateScan(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  const float oldPrevGate = v.prevGate;
  const float oldVelocity = v.velocity;
  // The last rise starts the note (and cancels any end before it); the last fall after it ends it.
  const GateEdges& edges = b.edges;
  uint64_t falls = edges.falls;
  if (edges.rises) {
    b.noteStart = 63 - std::countl_zero(edges.rises);  // the highest set bit
    b.noteEnd = -1;
    v.velocity = ml::safeClamp(b.gate[b.noteStart], 0.f, 1.f);
    falls &= ~uint64_t{0} << b.noteStart;
  }
  if (falls) b.noteEnd = 63 - std::countl_zero(falls);
  v.prevGate = b.gate[ml::kLastSampleInVector];

  b.level = v.ampLevel * v.gainCurrent * declickGain(v.voiceFade);
  const bool nonlinear = ml::safeClamp(ctx.effParam(kParamFilterSaturation, v), 0.0, 1.0) > kSaturationOn;
  b.retrigger = b.noteStart >= 0 && (b.level > kSounding || filterEnergy(v, nonlinear) > kFilterEnergyFloor);
  applyStartDelay(v, b);

  const bool loud = b.level >= kLoud;
  const bool lowTail = !loud && v.lastPeak >= kLowTailPeak && v.lastFrequency > 0.f &&
                       v.lastFrequency < b.sr / kLowTailRateDivisor;
  const bool spawn = b.retrigger && (loud || lowTail) && v.lastPitch >= 0.f;
  if (spawn && b.voice >= 0) {
    VoiceState tail = v;
    tail.prevGate = oldPrevGate;
    tail.velocity = oldVelocity;
    // The old note's tail sounds through its own kit slot, not the one the new note took.
    tail.kitSlot = tail.prevKitSlot = b.kitSlotBefore;
    const float pan = b.voice < PluginProcessor::kNumVoices ? ctx.voicePan[b.voice] : 0.f;
    ctx.out.spawnReleaseTail(tail, v.lastPitch, pan, 0);
    b.spawned = true;
  }
  v.lastPitch = b.pitch[0];
}

static_assert(kParams[kParamRatio].min == kDriftRatioMin && kParams[kParamRatio].max == kDriftRatioMax,
              "the drift works over the Ratio parameter's range");

void voiceDriftTimbreAndEnv1(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  const double drift = ml::safeClamp(ctx.effParam(kParamDrift, v), 0.0, 1.0);
  b.driftMul = driftStep(v.drift, ctx.driftTargets, b.voice, ctx.effParam(kParamRatio, v), drift, b.sr);

  const float vt =
      static_cast<float>(ml::safeClamp(ctx.effParam(kParamVelocityTimbre, v), 0.0, 1.0)) * v.velocity;
  b.fmGain = 1.f + 0.6f * vt;
  if (!(vt == v.brightnessTimbre)) {
    v.brightnessTimbre = vt;
    v.brightness = std::exp2(1.5f * vt);
  }
  b.brightness = v.brightness;

  b.env1Raw =
      renderVoiceEnvelope(ctx.envFeelModern(), v.adsr1, v.env1, b.gate, b.env1Shape, b.noteStart, b.sr);
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    b.env1Row[i] = ml::safeClamp(b.env1Raw[i] * v.gainCurrent, 0.f, 1.f);
  }
}

void voiceEnvelope2(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  const float curves[3] = {b.last[PluginProcessor::kLastEnv2CurveA], b.last[PluginProcessor::kLastEnv2CurveD],
                           b.last[PluginProcessor::kLastEnv2CurveR]};
  const EnvShapeParams p = voiceEnvelopeShape(ctx, v, 1, b.noteStart >= 0, b.envNote, 1.f, curves);
  b.env2Row = renderVoiceEnvelope(ctx.envFeelModern(), v.adsr2, v.env2, b.gate, p, b.noteStart, b.sr);
}
