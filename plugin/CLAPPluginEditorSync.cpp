// The plug-in's side of bringing the editor page up to date with the whole engine state, after the page
// loads or the host loads a state.
#include <mutex>

#include "editor/EditorPush.h"
#include "editor/EditorSync.h"
#include "editor/PluginEditor.h"
#include "plugin/CLAPPlugin.h"
#include "plugin/EditorCallbacks.h"
#include "state/KitScripts.h"

namespace {

std::string snapshotSeqScript(const PluginProcessor& engine) {
  return "if(window.mlibSetSnapshotSeq) window.mlibSetSnapshotSeq(" +
         std::to_string(engine.engineSnapSeq(0)) + "," + std::to_string(engine.engineSnapSeq(1)) + ");";
}

// Sent before the UI state, so that a page with nothing stored keeps the model the engine plays.
std::string envFeelScript(const PluginProcessor& engine) {
  return std::string("if(window.mlibSetEnvFeel) window.mlibSetEnvFeel(") +
         (engine.envFeelModern() ? "2" : "1") + ");";
}

std::string mtsStatusScript(bool connected) {
  return std::string("if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(") +
         (connected ? "true" : "false") + ");";
}

void sendSync(PluginEditor& editor, const std::vector<std::string>& scripts) {
  for (const std::string& script : scripts) editor.evaluateJS(script.c_str());
  // The next tick sends the tuning in force, whatever version the page saw last.
  editor.resetTuningVersionTracking();
}

}  // namespace

std::vector<std::string> syncStateScripts(CLAPPlugin& plugin) {
  PluginProcessor& engine = plugin.engine;
  std::vector<std::string> scripts;
  std::string uiState;
  {
    std::lock_guard<std::mutex> lock(plugin.stateMutex);
    scripts.push_back(snapshotSeqScript(engine));
    uiState = plugin.uiStateJson;
  }
  scripts.push_back(envFeelScript(engine));
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

std::vector<std::string> editorSyncScripts(CLAPPlugin& plugin) {
  std::vector<std::string> scripts;
  for (const SyncParam& param : syncParamValues(plugin.engine))
    scripts.push_back(setParamScript(param.name, param.value));
  for (std::string& script : syncStateScripts(plugin)) scripts.push_back(std::move(script));
  return scripts;
}

void CLAPPlugin::syncEditorToEngineState() {
  if (editor) sendSync(*editor, editorSyncScripts(*this));
}

void CLAPPlugin::answerEditorReady() {
  if (!editor) return;
  const std::vector<std::string> scripts = editorSyncScripts(*this);
  if (!editor->takeStartState(scripts)) sendSync(*editor, scripts);
  // The meters and lamps follow at once, not at the next tick.
  editor->pollTick();
}

void CLAPPlugin::onMainThread() {
  runEditorQueue();
  // Several state loads before one callback give one sync; without an editor the request is dropped, and
  // the next page syncs itself when it reports ready.
  if (editorNeedsSync.exchange(false, std::memory_order_acq_rel) && editor) syncEditorToEngineState();
}
