#include "editor/EditorSync.h"

#include <algorithm>
#include <mutex>

#include "editor/EditorPush.h"
#include "editor/PercentEncode.h"
#include "plugin/CLAPPlugin.h"
#include "state/KitScripts.h"
#include "state/ParamNameMap.h"
#include "state/SnapshotJson.h"

namespace {

// Pan -1..1 as the page keeps it, 0..1.
double panToPage(float pan) {
  return std::clamp((static_cast<double>(pan) + 1.0) * 0.5, 0.0, 1.0);
}

std::string snapshotSeqScript(const PluginProcessor& engine) {
  return "if(window.mlibSetSnapshotSeq) window.mlibSetSnapshotSeq(" +
         std::to_string(engine.engineSnapSeq(0)) + "," + std::to_string(engine.engineSnapSeq(1)) + ");";
}

std::string mtsStatusScript(bool connected) {
  return std::string("if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(") +
         (connected ? "true" : "false") + ");";
}

}  // namespace

std::array<SyncParam, kNumParams> syncParamValues(const PluginProcessor& engine) {
  std::array<SyncParam, kNumParams> params{};
  std::array<bool, kNumParams> named{};
  size_t next = 0;
  // The name map's order, each parameter under its first (canonical) name.
  for (const ParamNameEntry& entry : kParamNameMap) {
    if (entry.id >= kNumParams || named[entry.id]) continue;
    named[entry.id] = true;
    const ParamInfo& row = kParams[entry.id];
    const double range = row.max - row.min;
    params[next++] = {entry.name, range > 0.0 ? (engine.getParam(entry.id) - row.min) / range : 0.0};
  }
  return params;
}

std::string uiStateScript(const std::string& uiStateJson) {
  if (uiStateJson.empty()) return "if(window.mlibSetUIState) window.mlibSetUIState(null);";
  return "(function(){var u=null;try{u=decodeURIComponent('" + tavrinPercentEncode(uiStateJson) +
         "')}catch(e){}if(window.mlibSetUIState) window.mlibSetUIState(u);})();";
}

std::string loadSlotScript(int slot, const ParamSnapshot& snapshot, int note, float gain, float pan) {
  std::string out;
  appendFormat(out, "if(window.mlibLoadSlot) window.mlibLoadSlot(%d,", slot);
  out += tavrin_slot_params_to_json(snapshot);
  appendFormat(out, ",%d,%f,%f);", note, double{gain}, panToPage(pan));
  return out;
}

std::vector<std::string> syncStateScripts(CLAPPlugin& plugin) {
  PluginProcessor& engine = plugin.engine;
  std::vector<std::string> scripts;
  std::string uiState;
  {
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    scripts.push_back(snapshotSeqScript(engine));
    uiState = plugin.uiStateJson;
  }
  scripts.push_back(uiStateScript(uiState));
  {
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    scripts.push_back(kitRestoreSlotsScript(engine));
  }
  scripts.push_back(controllerMapScript(plugin.controllerMapView()));
  if (engine.tuning.getMTSNeedsUpdate())
    scripts.emplace_back("if(window.mlibSetMTSNeedsUpdate) window.mlibSetMTSNeedsUpdate(true);");
  const bool connected = engine.getMTSConnected();
  scripts.push_back(mtsStatusScript(connected));
  TuningSnapshot tuning{};
  if (connected && engine.tuning.getTuningSnapshotOnMain(tuning))
    scripts.push_back(tuningDataScript(tuning, false));
  return scripts;
}

void CLAPPlugin::syncEditorToEngineState() {
  if (!editor) return;
  for (const SyncParam& param : syncParamValues(engine)) editor->setParamNormalized(param.name, param.value);
  for (const std::string& script : syncStateScripts(*this)) editor->evaluateJS(script.c_str());
  // The next tick sends the tuning in force, whatever version the page saw last.
  editor->resetTuningVersionTracking();
}

void CLAPPlugin::onMainThread() {
  // Several state loads before one callback give one sync; without an editor the request is dropped, and
  // the next page syncs itself when it reports ready.
  if (editorNeedsSync.exchange(false, std::memory_order_acq_rel) && editor) syncEditorToEngineState();
}
