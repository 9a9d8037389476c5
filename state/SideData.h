// The side-data JSON of the state stream: the editor's UI state with the native keys that the writer
// merges into it and the reader applies to the engine. Main thread only.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "engine/PluginProcessor.h"
#include "state/JsonTree.h"
#include "state/StateSidecar.h"

// The sidecar's JSON with the native keys replaced, added or deleted from the engine and the sidecar;
// every other key keeps its value's text exactly as it stands in the sidecar's JSON.
// Text that does not parse as a JSON object is replaced by an object of the native keys alone (the
// reader would ignore it, and the poles and tuning would be lost with it). When the sidecar's JSON is
// unchanged meanwhile, it takes the merged text too. `lock` guards the sidecar's texts, the poles and
// the tuning.
std::string mergeSideData(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock);

// Applies the sidecar's JSON, carried by a stream of streamVersion, to the engine (window size, tuning,
// locks, glide, ratio selection, lanes, morph poles, envelope model, live lanes); the poles of an old
// stream get the repairs of old values. Text that does not parse as a JSON object is ignored.
void applySideData(PluginProcessor& engine, TavrinStateSidecar& sidecar, std::mutex& lock,
                   uint32_t streamVersion);

// Tuning keys. The "localTuning" object of a tuning; applying "localTuning" answers whether the key
// was usable, and "tuningFile" is read only when it was not.
cJSON* localTuningObject(const LocalTuning& tuning, const std::string& filename, const std::string& source);
bool applyLocalTuningKey(const cJSON* root, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                         std::mutex& lock);
void applyTuningFileKey(const cJSON* root, PluginProcessor& engine, TavrinStateSidecar& sidecar,
                        std::mutex& lock);

// Repairs poles saved before the morph kept its own envelope timing: envelope delays, holds, their
// divisions and the trigger modes that differ between the poles (or are NaN in either) take the engine's
// current value in both; attack, decay, sustain, release and curves that the poles share but that differ
// from the engine's (or are NaN) take the engine's value too. Every repaired value counts as captured.
void healSnapshotPair(ParamSnapshot& a, ParamSnapshot& b, const PluginProcessor& engine);

// Small JSON helpers: a member by its exact key; an item's number truncated and saturated into int32.
inline const cJSON* jsonMember(const cJSON* object, const char* key) {
  return cJSON_GetObjectItemCaseSensitive(object, key);
}
int32_t jsonInt(const cJSON* number);
// Puts item under key, replacing the first member of that key or adding one, and removes any later
// member of that key (a reader takes the first); a null item is ignored.
void jsonPut(cJSON* object, const char* key, cJSON* item);
// Parses the whole text as one JSON object; null when it is not one.
JsonTree parseJsonObject(const std::string& text);
