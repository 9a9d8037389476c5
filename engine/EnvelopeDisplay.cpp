// The envelope display of the voice the editor follows, and Env 2's playhead when no route renders it.
#include <algorithm>
#include <cmath>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kMinStageSeconds = 0.001f;
constexpr float kMaxAttackDecaySeconds = 2.0f;
constexpr float kMaxReleaseSeconds = 5.0f;
constexpr float kMaxDelayHoldSeconds = 2.0f;
constexpr float kMinLoopDecaySeconds = 0.02f;
constexpr float kStageTimeGlideSeconds = 0.01f;
constexpr int kEnv2 = 1;

void publish(PluginProcessor::EnvPlayhead& out, const EnvWrap& env) {
  out.value.store(env.displayLevel, std::memory_order_relaxed);
  out.stage.store(env.displayStage, std::memory_order_relaxed);
  out.pos.store(env.displayProgress, std::memory_order_relaxed);
}

void publishIdle(PluginProcessor::EnvPlayhead& out) {
  out.value.store(0.0f, std::memory_order_relaxed);
  out.stage.store(kEnvIdle, std::memory_order_relaxed);
  out.pos.store(0.0f, std::memory_order_relaxed);
}

int division(double value) {
  return static_cast<int>(value + 0.5);
}

}  // namespace

bool PluginProcessor::routeUsesEnv2() const {
  return std::any_of(routeSelectedSource.begin(), routeSelectedSource.end(),
                     [](int32_t source) { return source == kSourceEnv2; });
}

void PluginProcessor::publishEnvelopeDisplay() {
  if (followedVoice < 0) {
    publishIdle(env1Play);
    publishIdle(env2Play);
    envPlayNote.store(-1.0f, std::memory_order_relaxed);
    envPlayVel.store(0.0f, std::memory_order_relaxed);
    return;
  }
  VoiceState& voice = voices[followedVoice];
  if (!routeUsesEnv2()) tickEnv2Playhead(voice, voiceGate(followedVoice), followedGateBefore);
  publish(env1Play, voice.env1);
  publish(env2Play, voice.env2);
  envPlayNote.store(voice.lastNote, std::memory_order_relaxed);
  envPlayVel.store(voice.velocity, std::memory_order_relaxed);
}

void PluginProcessor::tickEnv2Playhead(VoiceState& voice, const ml::DSPVector& gate, float gateBefore) {
  const auto sr = static_cast<float>(sampleRate);
  const float note = voice.lastNote >= 0.0f ? voice.lastNote : 60.0f;
  float times[3] = {
      ml::safeClamp(static_cast<float>(cache[kParamEnv2Attack]), kMinStageSeconds, kMaxAttackDecaySeconds),
      ml::safeClamp(static_cast<float>(cache[kParamEnv2Decay]), kMinStageSeconds, kMaxAttackDecaySeconds),
      ml::safeClamp(static_cast<float>(cache[kParamEnv2Release]), kMinStageSeconds, kMaxReleaseSeconds)};
  if (cache[kParamEnv2TempoSync] > 0.5) {
    const double bpm = getTempo();
    times[0] = syncedStageTime(times[0], true, division(cache[kParamEnv2AttackDivision]), bpm,
                               kMinStageSeconds, kMaxAttackDecaySeconds);
    times[1] = syncedStageTime(times[1], true, division(cache[kParamEnv2DecayDivision]), bpm,
                               kMinStageSeconds, kMaxAttackDecaySeconds);
    times[2] = syncedStageTime(times[2], true, division(cache[kParamEnv2ReleaseDivision]), bpm,
                               kMinStageSeconds, kMaxReleaseSeconds);
  }
  const int trigger = firstGateRise(gate, gateBefore);
  float* stored = voice.envStageTime[kEnv2];
  if (trigger >= 0) std::fill(stored, stored + 3, -1.0f);
  const float glide = 1.0f - std::exp(-1.0f / (kStageTimeGlideSeconds * (sr / ml::kFloatsPerDSPVector)));
  for (int t = 0; t < 3; ++t) glideStageTime(stored[t], times[t], glide);

  const float kt = ml::safeClamp(static_cast<float>(cache[kParamEnv2KeyTrack]), -1.0f, 1.0f);
  const float factor = kt != 0.0f ? std::exp2(-kt * (note - 60.0f) / 12.0f) : 1.0f;
  EnvShapeParams p;
  p.attack = ml::safeClamp(stored[0] * factor, kMinStageSeconds, kMaxAttackDecaySeconds);
  p.decay = ml::safeClamp(stored[1] * factor, kMinStageSeconds, kMaxAttackDecaySeconds);
  p.release = ml::safeClamp(stored[2] * factor, kMinStageSeconds, kMaxReleaseSeconds);
  p.sustain = ml::safeClamp(static_cast<float>(cache[kParamEnv2Sustain]), 0.0f, 1.0f);
  const float delay = ml::safeClamp(static_cast<float>(cache[kParamEnv2Delay]), 0.0f, kMaxDelayHoldSeconds);
  const float hold = ml::safeClamp(static_cast<float>(cache[kParamEnv2Hold]), 0.0f, kMaxDelayHoldSeconds);
  p.delaySamples = static_cast<int32_t>(delay * sr + 0.5f);
  p.holdSamples = static_cast<int32_t>(hold * sr + 0.5f);
  p.attackCurve = engineLast[kLastEnv2CurveA];
  p.decayCurve = engineLast[kLastEnv2CurveD];
  p.releaseCurve = engineLast[kLastEnv2CurveR];
  p.attackExponent = resolveEnvGamma(p.attackCurve);
  p.decayExponent = resolveEnvGamma(p.decayCurve);
  p.releaseExponent = resolveEnvGamma(p.releaseCurve);
  p.triggerMode = static_cast<int32_t>(ml::safeClamp(cache[kParamEnv2TriggerMode], 0.0, 2.0) + 0.5);
  if (p.triggerMode == 2) p.decay = std::max(p.decay, kMinLoopDecaySeconds);

  voice.adsr2.coeffs = ml::ADSR::calcCoeffs(p.attack, p.decay, p.sustain, p.release, sr);
  if (envFeelModern()) {
    renderEnvelopeModern(voice.adsr2, voice.env2, gate, p, trigger, sr);
  } else {
    renderEnvelope(voice.adsr2, voice.env2, gate, p, trigger, sr);
  }
}
