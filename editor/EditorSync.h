// The scripts that bring the editor page up to date with the engine: every parameter, the UI state and
// one kit slot, and the document that starts with them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// "mlibSetParam" with a parameter's canonical name and its normalised value.
std::string setParamScript(const char* id, double value);

// The document with the scripts handed to it as "window.mlibStartState" (one text, each script in its own
// try), set before the page's own script runs, so that its first render already shows the engine's state.
// The document itself when it has no head, or when there is nothing to hand over.
std::string documentWithStartState(std::string_view html, const std::vector<std::string>& scripts);
