// What an engine must hold after any load, whatever the bytes were: parameters, kit slots and their
// snapshots in range, and a local tuning that can play. Free of the test framework so the fuzz targets
// share it.
#pragma once

#include "engine/PluginProcessor.h"

// One kit slot as the engine hands it out.
struct SlotReading {
  ParamSnapshot snapshot;
  int note = 0;
  bool present = false;
  float gain = 0.0f;
  float pan = 0.0f;
};

inline SlotReading readSlot(const PluginProcessor& engine, int slot) {
  SlotReading r;
  engine.getSlotCopy(slot, r.snapshot, r.note, r.present);
  engine.getSlotGainPan(slot, r.gain, r.pan);
  return r;
}

inline bool inRange(uint32_t id, double v) {
  return v >= kParams[id].min && v <= kParams[id].max;
}

inline bool engineIsPlayable(const PluginProcessor& engine) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!inRange(id, engine.getParam(id))) return false;
  }
  for (int slot = 0; slot < kNumKitSlots; ++slot) {
    const SlotReading r = readSlot(engine, slot);
    if (r.note < 0 || r.note > 127 || !(r.gain >= 0.0f && r.gain <= 4.0f) ||
        !(r.pan >= -1.0f && r.pan <= 1.0f))
      return false;
    for (uint32_t id = 0; id < kNumParams; ++id) {
      if (r.snapshot.has[id] && !inRange(id, r.snapshot.value[id])) return false;
    }
  }
  PluginProcessor::LocalTuning tuning{};
  if (engine.getLocalTuningCopy(tuning)) {
    if (tuning.count < 1 || tuning.count > kMaxTuningIntervals || !(tuning.periodRatio > 1.0)) return false;
    for (int i = 0; i < tuning.count; ++i) {
      if (!(tuning.ratios[i] > 0.0 && tuning.ratios[i] < 1e300)) return false;
    }
  }
  return true;
}
