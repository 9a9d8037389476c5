// Bringing the editor page up to date with the whole engine state, after the page loads or the host
// loads a state.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ParamSnapshot.h"
#include "engine/ParamTable.h"

class CLAPPlugin;
class PluginProcessor;

// A parameter as the full resync sends it: canonical name and value normalised over its range (not
// clamped; 0 for a range that is not positive). syncParamValues gives every parameter once, in the
// order of the parameter name map.
struct SyncParam {
  const char* name;
  double value;
};
std::array<SyncParam, kNumParams> syncParamValues(const PluginProcessor& engine);

// The scripts of the full resync after the parameters, in the order they are sent: the morph snapshot
// sequence numbers, the UI state, the kit, the controller map, the MTS-ESP lamps and, with a master
// connected, its tuning.
// Takes the plug-in's stateMutex for the parts it guards.
std::vector<std::string> syncStateScripts(CLAPPlugin& plugin);

// "mlibSetUIState" with the stored UI-state JSON as a string, or null when there is none.
std::string uiStateScript(const std::string& uiStateJson);

// "mlibLoadSlot" with a slot's parameters as an object literal, its note, gain and pan (-1..1, sent as
// 0..1).
std::string loadSlotScript(int slot, const ParamSnapshot& snapshot, int note, float gain, float pan);
