#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/MLSafeValue.h"
#include "platform/FloatingPointControl.h"

namespace {

bool isVoiceConfigParam(uint32_t id) {
  return id == kParamVoiceMode || id == kParamVoiceCount || id == kParamGlide;
}

}  // namespace

PluginProcessor::PluginProcessor() {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    params[id] = kParams[id].def;
    cache[id] = kParams[id].def;
  }
  // Key tables, kit slots, the shared oversampler kernel and the MTS-ESP registration are set up here
  // as those parts join the engine.
  TruePeakLimiter::initKernel();
  allocator.setSampleRate(sampleRate);
  applyVoiceMode();
}

void PluginProcessor::setParam(uint32_t id, double plain) {
  if (id >= kNumParams || !std::isfinite(plain)) return;
  params[id] = ml::safeClamp(plain, kParams[id].min, kParams[id].max);
  if (isVoiceConfigParam(id)) voiceConfigChanged.store(true, std::memory_order_release);
}

double PluginProcessor::getParam(uint32_t id) const {
  return id < kNumParams ? double(params[id]) : 0.0;
}

void PluginProcessor::setParamFromDsp(uint32_t id, double plain) {
  if (id >= kNumParams || !std::isfinite(plain)) return;
  params[id] = ml::safeClamp(plain, kParams[id].min, kParams[id].max);
  paramDirtyFromDsp[id].store(true, std::memory_order_release);
}

bool PluginProcessor::consumeParamDirtyFromDsp(uint32_t id) {
  return id < kNumParams && paramDirtyFromDsp[id].exchange(false, std::memory_order_acq_rel);
}

void PluginProcessor::setGlideSmooth(bool on) {
  smoothGlide.store(on, std::memory_order_relaxed);
  voiceConfigChanged.store(true, std::memory_order_release);
}

void PluginProcessor::setSampleRate(double rate) {
  if (!std::isfinite(rate) || !(rate > 0.0)) return;
  sampleRate = rate;
  residueReadIndex = 0;
  residueRemaining = 0;
  allocator.setSampleRate(rate);
  for (uint32_t id = 0; id < kNumParams; ++id) cache[id] = params[id];
  applyVoiceMode();
  // Clearing the voices and release tails joins here.
  masterSettings = MasterSettings::fromParams(cache.data());
  master.setSampleRate(float(rate), masterSettings);
  limiter.setSampleRate(float(rate), TruePeakLimiter::kDefaultReleaseMs);
  limiter.clear();
  meters.setSampleRate(float(rate));
  meters.clear();
  resetEngineSmoothers();
  routes.clear();
  // Taking the snapshot epoch as seen joins here.
}

void PluginProcessor::resetAll() {
  // allSoundOff joins here.
  master.resetAll();
  residueReadIndex = 0;
  residueRemaining = 0;
}

void PluginProcessor::process(float* left, float* right, uint32_t frames) {
  enableDenormalFlush();
  if (left == nullptr || right == nullptr) return;
  uint32_t done = 0;
  while (done < frames) {
    if (residueRemaining == 0) generateBlock();
    const uint32_t n = std::min(residueRemaining, frames - done);
    std::memcpy(left + done, residueLeft.getConstBuffer() + residueReadIndex, n * sizeof(float));
    std::memcpy(right + done, residueRight.getConstBuffer() + residueReadIndex, n * sizeof(float));
    residueReadIndex += n;
    residueRemaining -= n;
    done += n;
    framesSinceSongPos += n;
  }
}

void PluginProcessor::queueNoteEvent(ml::Event e) {
  e.time = std::clamp(e.time, 0, static_cast<int32_t>(ml::kFloatsPerDSPVector) - 1);
  allocator.addEvent(e);
}

PluginProcessor::VoiceConfig PluginProcessor::cachedVoiceConfig() const {
  const int32_t mode = ml::saturateToInt32(ml::safeClamp(cache[kParamVoiceMode], 0.0, 2.0));
  const int32_t count = ml::saturateToInt32(ml::safeClamp(cache[kParamVoiceCount], 1.0, 8.0));
  return {mode, mode != 0 ? 1u : static_cast<uint64_t>(count)};
}

void PluginProcessor::applyVoiceMode() {
  const VoiceConfig config = cachedVoiceConfig();
  const bool changed = config.mode != lastVoiceMode || config.effectiveCount != effectiveVoiceCount;
  // Waiting while a key is held, handing the voices above the new count to release tails and telling
  // the allocator the pedal state join here with the key tables and voice states.
  if (changed) {
    allocator.setUnison(config.mode == 2);
    allocator.setPolyphony(config.effectiveCount);
    for (uint64_t v = config.effectiveCount; v < std::min<uint64_t>(effectiveVoiceCount, kNumVoices); ++v) {
      voiceActivity[v].store(0.0f, std::memory_order_relaxed);
    }
    lastVoiceMode = config.mode;
    effectiveVoiceCount = config.effectiveCount;
  }
  lastGlideSeconds = effectiveEtsGlideSeconds();
  allocator.setPitchGlideInSeconds(lastGlideSeconds);
}

float PluginProcessor::effectiveEtsGlideSeconds() const {
  if (smoothGlide.load(std::memory_order_relaxed)) return 0.0f;
  return static_cast<float>(
      0.001 * ml::safeClamp(cache[kParamGlide], kParams[kParamGlide].min, kParams[kParamGlide].max));
}

ml::DSPVector PluginProcessor::processVoice(int v) {
  // The voice render path joins here: allocator voice v's pitch and gate rows through renderVoiceSignal.
  return ml::DSPVector();
}
