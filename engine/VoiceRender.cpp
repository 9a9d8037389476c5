// The per-voice signal path.
#include "engine/PluginProcessor.h"

ml::DSPVector PluginProcessor::renderVoiceSignal(VoiceState& voice, const ml::DSPVector& pitch,
                                                 const ml::DSPVector& gate, int voiceIndex) {
  // The oscillators, envelopes, routes, fold, noise, filters and output stage join here; until then
  // every voice and release tail renders silence.
  return ml::DSPVector();
}
