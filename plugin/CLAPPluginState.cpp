// The instance's state in the host's project, and the kit files the editor saves and loads.
#include "plugin/CLAPPlugin.h"
#include "state/KitFile.h"
#include "state/PresetLibrary.h"
#include "state/StateStream.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

bool CLAPPlugin::stateSave(const clap_ostream* stream) {
  TavrinStateSidecar sidecar;
  {
    std::lock_guard lock(stateMutex);
    for (uint32_t cc = 0; cc < kNumControllers; ++cc) sidecar.ccMap[cc] = ccMap[cc].load(kRelaxed);
    sidecar.json = uiStateJson;
    sidecar.filename = tuningFile;
    sidecar.name = localTuning;
    sidecar.source = tuningSource;
  }
  sidecar.windowWidth = static_cast<int32_t>(editorWidth.load(kRelaxed));
  sidecar.windowHeight = static_cast<int32_t>(editorHeight.load(kRelaxed));
  sidecar.tuningsDir = tuningsDir();
  return tavrin_state_save_stream(stream, engine, sidecar, stateMutex);
}

bool CLAPPlugin::stateLoad(const clap_istream* stream) {
  TavrinStateSidecar sidecar;
  sidecar.tuningsDir = tuningsDir();
  for (uint32_t cc = 0; cc < kNumControllers; ++cc) sidecar.ccMap[cc] = ccMap[cc].load(kRelaxed);
  sidecar.windowWidth = static_cast<int32_t>(editorWidth.load(kRelaxed));
  sidecar.windowHeight = static_cast<int32_t>(editorHeight.load(kRelaxed));
  if (!tavrin_state_load_stream(stream, engine, sidecar, stateMutex)) return false;
  {
    std::lock_guard lock(stateMutex);
    for (uint32_t cc = 0; cc < kNumControllers; ++cc) ccMap[cc].store(sidecar.ccMap[cc], kRelaxed);
    uiStateJson = std::move(sidecar.json);
    tuningFile = std::move(sidecar.filename);
    localTuning = std::move(sidecar.name);
    tuningSource = std::move(sidecar.source);
  }
  if (sidecar.windowWidth >= 1 && sidecar.windowHeight >= 1) {
    editorWidth.store(static_cast<uint32_t>(sidecar.windowWidth), kRelaxed);
    editorHeight.store(static_cast<uint32_t>(sidecar.windowHeight), kRelaxed);
  }
  // The values changed without output events, and the rate texts follow the loaded sync modes.
  if (_hostProxy.canUseParams()) _hostProxy.paramsRescan(CLAP_PARAM_RESCAN_VALUES | CLAP_PARAM_RESCAN_TEXT);
  editorNeedsSync.store(true, std::memory_order_release);
  _hostProxy.requestCallback();
  return true;
}

bool CLAPPlugin::saveKitToFile(const char* path, std::error_code& error) {
  return saveKitFile(path, engine, stateMutex, error);
}

bool CLAPPlugin::loadKitFromFile(const char* path, std::string& reason) {
  return loadKitFile(path, engine, stateMutex, reason);
}
