// The envelope display of the voice the editor follows, and Env 2's playhead when no route renders it.
#include <algorithm>
#include <cmath>

#include "engine/VoiceRender.h"

namespace {

constexpr int kEnv2 = 1;

}  // namespace

bool PluginProcessor::routeUsesEnv2() const {
  return std::any_of(routeSelectedSource.begin(), routeSelectedSource.end(),
                     [](int32_t source) { return source == kSourceEnv2; });
}

void PluginProcessor::publishEnvelopeDisplay() {
  if (followedVoice < 0) {
    published.publishEnvelopesIdle();
    return;
  }
  VoiceState& voice = voices[followedVoice];
  if (!routeUsesEnv2()) tickEnv2Playhead(voice, voiceGate(followedVoice), followedGateBefore);
  published.publishEnvelopes(voice.env1, voice.env2, voice.lastNote, voice.velocity);
}

void PluginProcessor::tickEnv2Playhead(VoiceState& voice, const ml::DSPVector& gate, float gateBefore) {
  const float note = voice.lastNote >= 0.0f ? voice.lastNote : 60.0f;
  const int trigger = firstGateRise(gate, gateBefore);
  const float curves[3] = {engineLast[kLastEnv2CurveA], engineLast[kLastEnv2CurveD],
                           engineLast[kLastEnv2CurveR]};
  const EnvShapeParams p =
      envelopeShape(voiceParams, sampleRate, getTempo(), voice, kEnv2, trigger >= 0, note, 1.0f, curves);
  renderVoiceEnvelope(envFeelModern(), voice.adsr2, voice.env2, gate, p, trigger,
                      static_cast<float>(sampleRate));
}
