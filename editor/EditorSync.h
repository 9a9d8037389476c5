// The scripts that bring the editor page up to date with the engine: every parameter, the UI state and
// one kit slot.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/ParamSnapshot.h"
#include "engine/ParamTable.h"

class PluginProcessor;

// A parameter as the full resync sends it: canonical name and value normalised over its range (not
// clamped; 0 for a range that is not positive). syncParamValues gives every parameter once, in the
// order of the parameter name map.
struct SyncParam {
  const char* name;
  double value;
};
std::array<SyncParam, kNumParams> syncParamValues(const PluginProcessor& engine);

// "mlibSetUIState" with the stored UI-state JSON as a string, or null when there is none.
std::string uiStateScript(const std::string& uiStateJson);

// "mlibLoadSlot" with a slot's parameters as an object literal, its note, gain and pan (-1..1, sent as
// 0..1).
std::string loadSlotScript(int slot, const ParamSnapshot& snapshot, int note, float gain, float pan);
