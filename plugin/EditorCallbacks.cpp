#include "plugin/EditorCallbacks.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "editor/BridgeFiles.h"
#include "plugin/CLAPPlugin.h"
#include "state/ClassicJson.h"
#include "state/KitScripts.h"
#include "state/SnapshotJson.h"

namespace {

std::string textOrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

// Copies text into a fixed field, cut to leave room for its NUL.
template <size_t N>
void copyCut(char (&field)[N], const char* text) {
  const size_t length = text != nullptr ? strnlen(text, N - 1) : 0;
  std::memcpy(field, text != nullptr ? text : "", length);
  field[length] = 0;
}

// The lock and lane settings the engine holds, which a captured snapshot takes instead of the page's.
void takeEngineSettings(const PluginProcessor& engine, ParamSnapshot& s) {
  s.lockA = engine.filterLocked(0) ? 1 : 0;
  s.lockB = engine.filterLocked(1) ? 1 : 0;
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) {
    const float committed = engine.getSeqRateCommitted(lane);
    s.seqRate[lane] = committed >= 0.0f ? committed : engine.getSeqFreeRate(lane);
    s.seqRun[lane] = engine.getSeqRunMode(lane);
    s.seqDiv[lane] = engine.getSeqSyncDiv(lane);
  }
}

// Hands the local tuning to the engine and records its name, file and source for the page and the state.
void installLocalTuning(CLAPPlugin& plugin, const LocalTuning& tuning, std::string name, std::string file,
                        const char* source) {
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  plugin.engine.setLocalTuning(tuning);
  plugin.localTuning = std::move(name);
  plugin.tuningFile = std::move(file);
  plugin.tuningSource = source;
}

}  // namespace

std::optional<std::string> mergeUIState(const char* pageJson, const std::string& stored) {
  if (pageJson == nullptr || strnlen(pageJson, kMaxUIStateBytes + 1) > kMaxUIStateBytes) return std::nullopt;
  JsonTree page(cJSON_Parse(pageJson));
  // A root other than an object could not hold the native keys: they would be lost.
  if (!cJSON_IsObject(page.get())) return std::nullopt;
  JsonTree kept(stored.empty() ? nullptr : cJSON_Parse(stored.c_str()));
  if (cJSON_IsObject(kept.get())) {
    for (const char* key : kNativeKeys) {
      cJSON* item = cJSON_DetachItemFromObject(kept.get(), key);
      if (item == nullptr) continue;
      if (cJSON_GetObjectItem(page.get(), key) != nullptr)
        cJSON_ReplaceItemInObject(page.get(), key, item);
      else
        cJSON_AddItemToObject(page.get(), key, item);
    }
  }
  return classicJsonPrintUnformatted(page.get());
}

void editorUIState(CLAPPlugin& plugin, const char* json) {
  std::string stored;
  {
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    stored = plugin.uiStateJson;
  }
  std::optional<std::string> merged = mergeUIState(json, stored);
  if (!merged) return;
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  plugin.uiStateJson = std::move(*merged);
}

void editorSnapshot(CLAPPlugin& plugin, int which, const char* json) {
  if (which != 0 && which != 1) return;
  PluginProcessor& engine = plugin.engine;
  ParamSnapshot snapshot;
  bool seqPresent = false;
  if (!tavrin_parse_snapshot_json(json, snapshot, &seqPresent)) {
    editorSnapshotClear(plugin, which);
    return;
  }
  takeEngineSettings(engine, snapshot);
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  // A capture the page numbered before the pole the engine holds now is stale.
  if (seqPresent && engine.snapshotSeqOlder(which, snapshot.captureSeq)) return;
  if (!seqPresent) snapshot.captureSeq = engine.nextCaptureSeq();
  engine.setSnapshot(which, snapshot);
}

void editorSnapshotClear(CLAPPlugin& plugin, int which) {
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  plugin.engine.clearSnapshot(which);
}

void editorSlotSnap(CLAPPlugin& plugin, int slot, int note, const char* json) {
  ParamSnapshot snapshot;
  const bool read = tavrin_parse_snapshot_json(json, snapshot, nullptr);
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  if (read)
    plugin.engine.setSlotSnapshot(slot, snapshot, note);
  else
    plugin.engine.clearSlot(slot);
}

void editorSlotClear(CLAPPlugin& plugin, int slot) {
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  plugin.engine.clearSlot(slot);
}

bool editorLoadTuning(CLAPPlugin& plugin, const char* name, const char* text, size_t length) {
  if (text == nullptr || length == 0) return false;
  LocalTuning tuning{};
  if (!PluginProcessor::parseScala(text, length, name, tuning)) return false;
  const std::string file = textOrEmpty(name);
  installLocalTuning(plugin, tuning, tuning.name[0] != 0 ? std::string(tuning.name) : file, file, "file");
  return true;
}

void editorClearTuning(CLAPPlugin& plugin) {
  std::lock_guard<std::mutex> lock(plugin.stateMutex);
  plugin.engine.clearLocalTuning();
  plugin.localTuning.clear();
  plugin.tuningFile.clear();
  plugin.tuningSource.clear();
}

bool embeddedTuning(const char* name, double period, const double* intervals, int count,
                    const char* const* labels, LocalTuning& out) {
  if (intervals == nullptr || count < 1) return false;
  const int n = std::min(count, kMaxTuningIntervals);
  // A ratio that is not finite, or not above 0 past the tonic, would give notes no usable frequency.
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(intervals[i]) || (i > 0 && intervals[i] <= 0.0)) return false;
  out = LocalTuning{};
  for (int i = 0; i < n; ++i) {
    out.ratios[i] = intervals[i];
    if (labels != nullptr) copyCut(out.degreeText[i], labels[i]);
  }
  if (out.ratios[0] <= 0.0) out.ratios[0] = 1.0;
  out.count = n;
  out.keysPerPeriod = n;
  out.periodRatio = std::isfinite(period) && period > 1.0 ? period : 2.0;
  copyTuningName(out.name, name);
  return true;
}

void editorTuningEmbed(CLAPPlugin& plugin, const char* name, double period, const double* intervals,
                       int count, const char* const* labels) {
  LocalTuning tuning;
  if (!embeddedTuning(name, period, intervals, count, labels, tuning)) return;
  installLocalTuning(plugin, tuning, textOrEmpty(name), std::string(), "embed");
}

FileOutcome editorKitFile(CLAPPlugin& plugin, int op, const char* path) {
  if (path == nullptr) return {false, "", "no file named"};
  if (op == 0) {
    std::error_code error;
    plugin.saveKitToFile(path, error);
    return bridge_files::fileOutcome("save the kit", path, error);
  }
  std::string reason;
  if (!plugin.loadKitFromFile(path, reason)) return bridge_files::loadFailure("load the kit", path, reason);
  if (plugin.editor) {
    // The page learns which slots the kit now holds, and shows the first of them.
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    plugin.editor->evaluateJS(kitRestoreSlotsScript(plugin.engine).c_str());
    const std::string firstSlot = kitFirstSlotScript(plugin.engine);
    if (!firstSlot.empty()) plugin.editor->evaluateJS(firstSlot.c_str());
  }
  return {true, path, ""};
}

void CLAPPlugin::fillEditorCallbacks(PluginEditor& target) {
  target.onUIState = [this](const char* json) { editorUIState(*this, json); };
  target.onSnapshot = [this](int which, const char* json) { editorSnapshot(*this, which, json); };
  target.onSnapshotClear = [this](int which) { editorSnapshotClear(*this, which); };
  target.onSlotSnap = [this](int slot, int note, const char* json) {
    editorSlotSnap(*this, slot, note, json);
  };
  target.onSlotClear = [this](int slot) { editorSlotClear(*this, slot); };
  target.onKitFile = [this](int op, const char* path) { return editorKitFile(*this, op, path); };
  target.onSeqSteps = [this](int lane, const float* steps, int count) {
    engine.setSeqSteps(lane, steps, count);
  };
  target.onSeqTies = [this](int lane, const unsigned char* ties, int count) {
    engine.setSeqTies(lane, ties, count);
  };
  target.onRatioSelection = [this](const int* degrees, const int* octaves, int count) {
    engine.setRatioSelection(degrees, octaves, count);
  };
  target.onLoadTuning = [this](const char* name, const char* text, size_t length) {
    return editorLoadTuning(*this, name, text, length);
  };
  target.onClearTuning = [this] { editorClearTuning(*this); };
  target.onTuningEmbed = [this](const char* name, double period, const double* intervals, int count,
                                const char* const* labels) {
    editorTuningEmbed(*this, name, period, intervals, count, labels);
  };
  target.onSetValue = [this](const char* name, double value) { editorSetValue(*this, name, value); };
  target.setSyncSource([this] { return editorSyncScripts(*this); });
}
