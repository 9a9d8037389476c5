// Release tails: copies of voices taken away while they still sound, faded out over 5 ms.
#include <algorithm>
#include <cmath>

#include "engine/PluginProcessor.h"
#include "engine/VoiceRender.h"

namespace {

constexpr double kTailFadeSeconds = 0.005;
constexpr float kMinTailGate = 0.001f;
constexpr float kPi = 3.14159265f;
constexpr int kTailVoiceIndex = -1;

}  // namespace

void PluginProcessor::spawnReleaseVoice(const VoiceState& voice, float pitch, float pan, int offset) {
  voiceRenders->context.out.spawnReleaseTail(voice, pitch, pan, offset);
}

void VoiceOutputs::spawnReleaseTail(const VoiceState& voice, float pitch, float pan, int offset) const {
  ReleaseVoice* slot = nullptr;
  for (ReleaseVoice& tail : releaseVoices) {
    if (!tail.active) {
      slot = &tail;
      break;
    }
  }
  if (slot == nullptr) {
    // All busy: take over the tail furthest into its fade (the first on ties).
    slot = &*std::max_element(
        releaseVoices.begin(), releaseVoices.end(),
        [](const ReleaseVoice& a, const ReleaseVoice& b) { return a.fadeProgress < b.fadeProgress; });
  }
  slot->voice = voice;
  slot->pitch = pitch;
  slot->pan = pan;
  slot->fadeProgress = 0.0f;
  slot->fadeLevel = 1.0f;
  slot->startOffset = std::clamp(offset, 0, static_cast<int>(ml::kFloatsPerDSPVector));
  slot->fadeStep = static_cast<float>(1.0 / std::max(1.0, kTailFadeSeconds * sampleRate));
  slot->active = true;
}

void PluginProcessor::beginReleaseVoices() {
  for (size_t t = 0; t < releaseVoices.size(); ++t) {
    ReleaseVoice& tail = releaseVoices[t];
    tailRender[t] = -1;
    if (!tail.active) continue;
    const ml::DSPVector pitch(tail.pitch);
    const float gateLevel = tail.voice.prevGate > 0.0f ? std::max(tail.voice.velocity, kMinTailGate) : 0.0f;
    tailRender[t] =
        static_cast<int8_t>(beginVoiceRender(tail.voice, pitch, ml::DSPVector(gateLevel), kTailVoiceIndex));
  }
}

void PluginProcessor::renderReleaseVoices(ml::DSPVector& left, ml::DSPVector& right) {
  for (size_t t = 0; t < releaseVoices.size(); ++t) {
    ReleaseVoice& tail = releaseVoices[t];
    if (tailRender[t] < 0) continue;
    const ml::DSPVector& out = finishVoiceRender(tailRender[t]);
    const StereoGains gains = voiceMixGains(tail.voice, tail.pan);
    for (size_t i = static_cast<size_t>(std::max(tail.startOffset, 0)); i < ml::kFloatsPerDSPVector; ++i) {
      if (!tail.active) break;
      const float fade = 0.5f * (1.0f + std::cos(kPi * tail.fadeProgress));
      left[i] += out[i] * fade * gains.left;
      right[i] += out[i] * fade * gains.right;
      tail.fadeProgress += tail.fadeStep;
      if (tail.fadeProgress >= 1.0f) {
        tail.fadeProgress = 1.0f;
        tail.active = false;
      }
    }
    tail.startOffset = -1;
  }
}
