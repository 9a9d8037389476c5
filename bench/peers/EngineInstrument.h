#pragma once
// Tavrin's engine played directly through its public interface, as the engine's load cases are.

#include <memory>
#include <vector>

#include "EngineCases.h"
#include "engine/PluginProcessor.h"
#include "peers/Instrument.h"

namespace peers {

class EngineInstrument final : public Instrument {
public:
  EngineInstrument(const std::vector<engine_cases::CaseParam>& patch, double sampleRate);

  void noteOn(int key, double velocity) override { engine->handleNoteOn(0, key, velocity, 0); }
  void noteOff(int key) override { engine->handleNoteOff(0, key, 0); }
  float processBlock() override;

private:
  std::unique_ptr<PluginProcessor> engine;  // large: kept on the heap
  float left[kBlockFrames] = {};
  float right[kBlockFrames] = {};
};

}  // namespace peers
