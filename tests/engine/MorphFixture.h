// Morph test helpers: a capture of the defaults and an engine fixture that sets both poles.
#pragma once

#include "EngineFixture.h"

namespace morphtest {

using Snapshot = PluginProcessor::ParamSnapshot;

// A capture of every parameter at its default.
inline Snapshot defaultsCapture() {
  Snapshot s;
  s.valid = true;
  PluginProcessor::completeSnapshotDefaults(s);
  return s;
}

// An engine at 48 kHz that takes both poles in one call.
class Morph : public EngineTest {
protected:
  void SetUp() override { engine->setSampleRate(48000.0); }

  // Poles A and B taken by one block, with the fader at position; the next block lands there at once
  // (the poles' arrival moves the epoch).
  void setPoles(const Snapshot& a, const Snapshot& b, double position) {
    engine->setSnapshot(0, a);
    engine->setSnapshot(1, b);
    engine->setParam(kParamMorphFader, position);
    run(128);
  }
  double cached(uint32_t id) const { return engine->cache[id]; }
  const Snapshot& live(int pole) const { return engine->morph.live[pole]; }
};

}  // namespace morphtest
