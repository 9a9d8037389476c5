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

PluginProcessor::PluginProcessor() : PluginProcessor(masterLibrary()) {}

PluginProcessor::PluginProcessor(const MasterLibrary& mtsLibrary) : tuning(mtsLibrary) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    params[id] = kParams[id].def;
    cache[id] = kParams[id].def;
  }
  // Kit slots and the MTS-ESP registration are set up here as those parts join the engine.
  Oversampler2x::initHalfband();
  TruePeakLimiter::initKernel();
  for (int k = 0; k < kCarrierPartials; ++k) carrierBank.seedPhases[k] = carrierSeedPhase(k);
  allocator.setSampleRate(sampleRate);
  // The voices read their allocator's pitch and gate rows only.
  allocator.setAgeRows(false);
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
  return id < kNumParams && takeRaisedFlag(paramDirtyFromDsp[id]);
}

void PluginProcessor::setGlideSmooth(bool on) {
  smoothGlide.store(on, std::memory_order_relaxed);
  voiceConfigChanged.store(true, std::memory_order_release);
}

void PluginProcessor::setSampleRate(double rate) {
  if (!supportsSampleRate(rate)) return;
  sampleRate = rate;
  residueReadIndex = 0;
  residueRemaining = 0;
  allocator.setSampleRate(rate);
  for (uint32_t id = 0; id < kNumParams; ++id) cache[id] = params[id];
  putEveryKeyUpForActivation();
  applyVoiceMode();
  masterSettings = MasterSettings::fromParams(cache.data());
  master.setSampleRate(float(rate), masterSettings);
  limiter.setSampleRate(float(rate), TruePeakLimiter::kDefaultReleaseMs);
  limiter.clear();
  meters.setSampleRate(float(rate));
  meters.clear();
  resetEngineSmoothers();
  routes.clear();
  morph.epochSeen = snapshotEpoch.load(std::memory_order_acquire);
}

void PluginProcessor::resetAll() {
  allSoundOff();
  master.resetAll();
  // The limiter's look-ahead still holds the last 32 samples of the old signal.
  limiter.clear();
  meters.clear();
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

PluginProcessor::VoiceConfig PluginProcessor::cachedVoiceConfig() const {
  const int32_t mode = ml::saturateToInt32(ml::safeClamp(cache[kParamVoiceMode], 0.0, 2.0));
  const int32_t count = ml::saturateToInt32(ml::safeClamp(cache[kParamVoiceCount], 1.0, 8.0));
  return {mode, mode != 0 ? 1u : static_cast<uint64_t>(count)};
}

float PluginProcessor::effectiveEtsGlideSeconds() const {
  if (smoothGlide.load(std::memory_order_relaxed)) return 0.0f;
  return static_cast<float>(
      0.001 * ml::safeClamp(cache[kParamGlide], kParams[kParamGlide].min, kParams[kParamGlide].max));
}

int PluginProcessor::beginVoice(int v) {
  const ml::EventsToSignals::Voice& av = allocator.getVoice(v);
  ml::DSPVector pitch;
  ml::DSPVector gate;
  std::copy_n(av.outputs.constRow(ml::EventsToSignals::Voice::kPitchRow), ml::kFloatsPerDSPVector,
              pitch.getBuffer());
  std::copy_n(av.outputs.constRow(ml::EventsToSignals::Voice::kGateRow), ml::kFloatsPerDSPVector,
              gate.getBuffer());
  return beginVoiceRender(voices[v], pitch, gate, v);
}
