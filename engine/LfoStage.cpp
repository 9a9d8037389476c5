// Stage 9 of the block: the two LFOs, on the engine's own song position, and their published values.
#include <atomic>

#include "engine/PluginProcessor.h"

namespace {

// The parameters of one LFO.
struct LfoParams {
  uint32_t rate;
  uint32_t pattern;
  uint32_t slew;
  uint32_t phase;
  uint32_t syncMode;
};

constexpr LfoParams kLfoParams[2] = {
    {kParamLfo1Rate, kParamLfo1Pattern, kParamLfo1Slew, kParamLfo1Phase, kParamLfo1SyncMode},
    {kParamLfo2Rate, kParamLfo2Pattern, kParamLfo2Slew, kParamLfo2Phase, kParamLfo2SyncMode},
};

}  // namespace

double PluginProcessor::blockSongPosBeats() const {
  return songPosAtFrames(songPosBeats.load(std::memory_order_relaxed), framesSinceSongPos,
                         tempo.load(std::memory_order_relaxed), sampleRate);
}

void PluginProcessor::stageLfos() {
  const bool playing = transportPlaying.load(std::memory_order_relaxed);
  const LfoTransport transport{tempo.load(std::memory_order_relaxed), blockSongPosBeats(), playing,
                               playing && !prevTransportPlaying};
  prevTransportPlaying = playing;
  for (int i = 0; i < 2; ++i) {
    const LfoParams& p = kLfoParams[i];
    runLfo(i,
           LfoSettings::fromParams(cache[p.rate], cache[p.pattern], cache[p.slew], cache[p.phase],
                                   cache[p.syncMode]),
           transport);
  }
}

void PluginProcessor::runLfo(int index, const LfoSettings& settings, const LfoTransport& transport) {
  LFO& lfo = lfos[index];
  const float v = lfo.runBlock(settings, transport, static_cast<int>(ml::kFloatsPerDSPVector),
                               static_cast<float>(sampleRate));
  routes.lfoBlockValue[index] = v;
  published.publishLfo(index, v, lfo.phase, settings.pattern);
}
