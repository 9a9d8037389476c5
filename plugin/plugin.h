#pragma once
// The host-call layer: turns every call of the CLAP plug-in interface into a virtual call on one
// plug-in object, checks on the way that the host keeps the CLAP rules, and reports each breach
// through the host's log (or the standard error streams). A breach never stops the plug-in: calls
// the instance's state forbids get their failure value, everything else is carried out.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <string>

#include "clap/ext/audio-ports.h"
#include "clap/ext/gui.h"
#include "clap/ext/latency.h"
#include "clap/ext/note-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/timer-support.h"
#include "clap/plugin.h"
#include "plugin/clap-extras.h"
#include "plugin/host-proxy.h"

namespace clap::helpers {

// Base class of a plug-in object. Subclasses override the virtual operations they implement; the
// defaults answer "not implemented" (false, 0 or null) and do nothing.
template <MisbehaviourHandler h, CheckingLevel l>
class Plugin {
public:
  const clap_plugin* clapPlugin() const { return &_pluginRecord; }
  bool isActive() const { return _isActive.load(std::memory_order_relaxed); }

  virtual ~Plugin() = default;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

protected:
  Plugin(const clap_plugin_descriptor* desc, const clap_host* host);

  // Core life cycle.
  virtual bool init() { return true; }
  virtual bool activate(double sampleRate, uint32_t minFrameCount, uint32_t maxFrameCount) { return true; }
  virtual void deactivate() {}
  virtual bool startProcessing() { return true; }
  virtual void stopProcessing() {}
  virtual clap_process_status process(const clap_process* process) { return CLAP_PROCESS_SLEEP; }
  virtual void reset() {}
  virtual void onMainThread() {}
  virtual const void* extension(const char* id) { return nullptr; }
  virtual bool enableDraftExtensions() const { return false; }

  virtual bool implementsLatency() const { return false; }
  virtual uint32_t latencyGet() const { return 0; }

  virtual bool implementsTail() const { return false; }
  virtual uint32_t tailGet() const { return 0; }

  virtual bool implementsRender() const { return false; }
  virtual bool renderHasHardRealtimeRequirement() { return false; }
  virtual bool renderSetMode(int32_t mode) { return false; }

  virtual bool implementsThreadPool() const { return false; }
  virtual void threadPoolExec(uint32_t taskIndex) {}

  virtual bool implementsState() const { return false; }
  virtual bool stateSave(const clap_ostream* stream) { return false; }
  virtual bool stateLoad(const clap_istream* stream) { return false; }

  virtual bool implementsStateContext() const { return false; }
  virtual bool stateContextSave(const clap_ostream* stream, uint32_t contextType) {
    return stateSave(stream);
  }
  virtual bool stateContextLoad(const clap_istream* stream, uint32_t contextType) {
    return stateLoad(stream);
  }

  virtual bool implementsPresetLoad() const { return false; }
  virtual bool presetLoadFromLocation(uint32_t locationKind, const char* location, const char* loadKey) {
    return false;
  }

  virtual bool implementsTrackInfo() const { return false; }
  virtual void trackInfoChanged() {}

  virtual bool implementsAudioPorts() const { return false; }
  virtual uint32_t audioPortsCount(bool isInput) const { return 0; }
  virtual bool audioPortsInfo(uint32_t index, bool isInput, clap_audio_port_info* info) const {
    return false;
  }

  virtual bool implementsAudioPortsConfig() const { return false; }
  virtual uint32_t audioPortsConfigCount() const { return 0; }
  virtual bool audioPortsGetConfig(uint32_t index, clap_audio_ports_config* config) const { return false; }
  virtual bool audioPortsSetConfig(clap_id configId) { return false; }

  virtual bool implementsAudioPortsActivation() const { return false; }
  virtual bool audioPortsActivationCanActivateWhileProcessing() const { return false; }
  virtual bool audioPortsActivationSetActive(bool isInput, uint32_t portIndex, bool isActive,
                                             uint32_t sampleSize) {
    return false;
  }

  virtual bool implementsConfigurableAudioPorts() const { return false; }
  virtual bool configurableAudioPortsCanApplyConfiguration(
      const clap_audio_port_configuration_request* requests, uint32_t requestCount) {
    return false;
  }
  virtual bool configurableAudioPortsApplyConfiguration(const clap_audio_port_configuration_request* requests,
                                                        uint32_t requestCount) {
    return false;
  }

  virtual bool implementsSurround() const { return false; }
  virtual bool isChannelMaskSupported(uint64_t channelMask) { return false; }
  virtual uint32_t getChannelMap(bool isInput, uint32_t portIndex, uint8_t* channelMap,
                                 uint32_t channelMapCapacity) {
    return 0;
  }

  virtual bool implementsParams() const { return false; }
  virtual uint32_t paramsCount() const { return 0; }
  virtual bool paramsInfo(uint32_t paramIndex, clap_param_info* info) const { return false; }
  virtual bool paramsValue(clap_id paramId, double* value) { return false; }
  virtual bool paramsValueToText(clap_id paramId, double value, char* display, uint32_t size) {
    return false;
  }
  virtual bool paramsTextToValue(clap_id paramId, const char* display, double* value) { return false; }
  virtual void paramsFlush(const clap_input_events* in, const clap_output_events* out) {}
  virtual uint32_t getParamIndexForParamId(clap_id paramId) const;
  virtual bool isValidParamId(clap_id paramId) const;
  virtual bool getParamInfoForParamId(clap_id paramId, clap_param_info* info) const { return false; }

  virtual bool implementsParamIndication() const { return false; }
  virtual void paramIndicationSetMapping(clap_id paramId, bool hasMapping, const clap_color* color,
                                         const char* label, const char* description) {}
  virtual void paramIndicationSetAutomation(clap_id paramId, uint32_t automationState,
                                            const clap_color* color) {}

  virtual bool implementRemoteControls() const { return false; }
  virtual uint32_t remoteControlsPageCount() { return 0; }
  virtual bool remoteControlsPageGet(uint32_t pageIndex, clap_remote_controls_page* page) { return false; }

  virtual bool implementsNotePorts() const { return false; }
  virtual uint32_t notePortsCount(bool isInput) const { return 0; }
  virtual bool notePortsInfo(uint32_t index, bool isInput, clap_note_port_info* info) const { return false; }

  virtual bool implementsNoteName() const { return false; }
  virtual uint32_t noteNameCount() { return 0; }
  virtual bool noteNameGet(uint32_t index, clap_note_name* noteName) { return false; }

  virtual bool implementsTimerSupport() const { return false; }
  virtual void onTimer(clap_id timerId) {}

  virtual bool implementsPosixFdSupport() const { return false; }
  virtual void onPosixFd(int fd, uint32_t flags) {}

  virtual bool implementsGui() const { return false; }
  virtual bool guiIsApiSupported(const char* api, bool isFloating) { return false; }
  virtual bool guiGetPreferredApi(const char** api, bool* isFloating) { return false; }
  virtual bool guiCreate(const char* api, bool isFloating) { return false; }
  virtual void guiDestroy() {}
  virtual bool guiSetScale(double scale) { return false; }
  virtual bool guiShow() { return false; }
  virtual bool guiHide() { return false; }
  virtual bool guiGetSize(uint32_t* width, uint32_t* height) { return false; }
  virtual bool guiCanResize() const { return false; }
  virtual bool guiGetResizeHints(clap_gui_resize_hints* hints) { return false; }
  virtual bool guiAdjustSize(uint32_t* width, uint32_t* height) { return false; }
  virtual bool guiSetSize(uint32_t width, uint32_t height) { return false; }
  virtual void guiSuggestTitle(const char* title) {}
  virtual bool guiSetParent(const clap_window* window) { return false; }
  virtual bool guiSetTransient(const clap_window* window) { return false; }

  virtual bool implementsContextMenu() const { return false; }
  virtual bool contextMenuPopulate(const clap_context_menu_target* target,
                                   const clap_context_menu_builder* builder) {
    return false;
  }
  virtual bool contextMenuPerform(const clap_context_menu_target* target, clap_id actionId) { return false; }

  virtual bool implementsResourceDirectory() const { return false; }
  virtual void resourceDirectorySetDirectory(const char* path, bool isShared) {}
  virtual void resourceDirectoryCollect(bool all) {}
  virtual uint32_t resourceDirectoryGetFilesCount() const { return 0; }
  virtual int32_t resourceDirectoryGetFilePath(uint32_t index, char* path, uint32_t pathSize) const {
    return -1;
  }

  virtual bool implementsVoiceInfo() const { return false; }
  virtual bool voiceInfoGet(clap_voice_info* info) { return false; }

  virtual bool implementsUndoDelta() const { return false; }
  virtual void undoDeltaGetDeltaProperties(clap_undo_delta_properties* properties) {}
  virtual bool undoDeltaCanUseDeltaFormatVersion(clap_id formatVersion) { return false; }
  virtual bool undoDeltaUndo(clap_id formatVersion, const void* delta, size_t deltaSize) { return false; }
  virtual bool undoDeltaRedo(clap_id formatVersion, const void* delta, size_t deltaSize) { return false; }

  virtual bool implementsUndoContext() const { return false; }
  virtual void undoContextSetCanUndo(bool canUndo) {}
  virtual void undoContextSetCanRedo(bool canRedo) {}
  virtual void undoContextSetUndoName(const char* name) {}
  virtual void undoContextSetRedoName(const char* name) {}

  virtual bool implementsProjectLocation() const { return false; }
  virtual void projectLocationSet(const clap_project_location_element* path, uint32_t numElements) {}

  virtual bool implementsGainAdjustmentMetering() const { return false; }
  virtual double gainAdjustmentMeteringGet() { return 0.0; }

  virtual bool implementsMiniCurveDisplay() const { return false; }
  virtual uint32_t miniCurveDisplayGetCurveCount() { return 0; }
  virtual uint32_t miniCurveDisplayRender(clap_mini_curve_display_curve_data* curves, uint32_t curvesSize) {
    return 0;
  }
  virtual void miniCurveDisplaySetObserved(bool isObserved) {}
  virtual bool miniCurveDisplayGetAxisName(uint32_t curveIndex, char* xName, char* yName,
                                           uint32_t nameCapacity) {
    return false;
  }

  virtual bool implementsWebview() const { return false; }
  virtual int32_t webviewGetUri(char* uri, uint32_t uriCapacity) { return 0; }
  virtual bool webviewGetResource(const char* path, char* mime, uint32_t mimeCapacity,
                                  const clap_ostream* stream) {
    return false;
  }
  virtual bool webviewReceive(const void* buffer, uint32_t size) { return false; }

  // Sees every message before it goes to the host's log.
  virtual void logTee(clap_log_severity severity, const char* message) const noexcept {}

  // Helpers for subclasses and trampolines.
  void log(clap_log_severity severity, const char* message) const;
  void log(clap_log_severity severity, const std::string& message) const { log(severity, message.c_str()); }
  void hostMisbehaving(const char* message) const { log(CLAP_LOG_HOST_MISBEHAVING, message); }
  void hostMisbehaving(const std::string& message) const { hostMisbehaving(message.c_str()); }
  void pluginMisbehaving(const char* message) const { log(CLAP_LOG_PLUGIN_MISBEHAVING, message); }
  void pluginMisbehaving(const std::string& message) const { pluginMisbehaving(message.c_str()); }

  void ensureMainThread(const char* method) const;
  void ensureAudioThread(const char* method) const;
  void ensureParamThread(const char* method) const;
  void checkMainThread() const;
  void ensureInitialized(const char* method) const;
  void runCallbacksOnMainThread();

  HostProxy<h, l> _hostProxy;

private:
  // The object behind a handle, or null (after a message) when the handle or its data is missing.
  static Plugin* from(const clap_plugin* plugin, bool requireInit = true);

  // Core trampolines.
  static bool clapInit(const clap_plugin* plugin) noexcept;
  static void clapDestroy(const clap_plugin* plugin) noexcept;
  static bool clapActivate(const clap_plugin* plugin, double sampleRate, uint32_t minFrameCount,
                           uint32_t maxFrameCount) noexcept;
  static void clapDeactivate(const clap_plugin* plugin) noexcept;
  static bool clapStartProcessing(const clap_plugin* plugin) noexcept;
  static void clapStopProcessing(const clap_plugin* plugin) noexcept;
  static void clapReset(const clap_plugin* plugin) noexcept;
  static clap_process_status clapProcess(const clap_plugin* plugin, const clap_process* process) noexcept;
  static const void* clapExtension(const clap_plugin* plugin, const char* id) noexcept;
  static void clapOnMainThread(const clap_plugin* plugin) noexcept;

  // Extension trampolines (plugin-extensions.cpp).
  static bool clapStateSave(const clap_plugin* plugin, const clap_ostream* stream) noexcept;
  static bool clapStateLoad(const clap_plugin* plugin, const clap_istream* stream) noexcept;
  static uint32_t clapLatencyGet(const clap_plugin* plugin) noexcept;
  static uint32_t clapAudioPortsCount(const clap_plugin* plugin, bool isInput) noexcept;
  static bool clapAudioPortsInfo(const clap_plugin* plugin, uint32_t index, bool isInput,
                                 clap_audio_port_info* info) noexcept;
  static uint32_t clapNotePortsCount(const clap_plugin* plugin, bool isInput) noexcept;
  static bool clapNotePortsInfo(const clap_plugin* plugin, uint32_t index, bool isInput,
                                clap_note_port_info* info) noexcept;
  static uint32_t clapParamsCount(const clap_plugin* plugin) noexcept;
  static bool clapParamsInfo(const clap_plugin* plugin, uint32_t paramIndex, clap_param_info* info) noexcept;
  static bool clapParamsValue(const clap_plugin* plugin, clap_id paramId, double* value) noexcept;
  static bool clapParamsValueToText(const clap_plugin* plugin, clap_id paramId, double value, char* display,
                                    uint32_t size) noexcept;
  static bool clapParamsTextToValue(const clap_plugin* plugin, clap_id paramId, const char* display,
                                    double* value) noexcept;
  static void clapParamsFlush(const clap_plugin* plugin, const clap_input_events* in,
                              const clap_output_events* out) noexcept;
  static void clapOnTimer(const clap_plugin* plugin, clap_id timerId) noexcept;
  static bool clapGuiIsApiSupported(const clap_plugin* plugin, const char* api, bool isFloating) noexcept;
  static bool clapGuiGetPreferredApi(const clap_plugin* plugin, const char** api, bool* isFloating) noexcept;
  static bool clapGuiCreate(const clap_plugin* plugin, const char* api, bool isFloating) noexcept;
  static void clapGuiDestroy(const clap_plugin* plugin) noexcept;
  static bool clapGuiSetScale(const clap_plugin* plugin, double scale) noexcept;
  static bool clapGuiGetSize(const clap_plugin* plugin, uint32_t* width, uint32_t* height) noexcept;
  static bool clapGuiCanResize(const clap_plugin* plugin) noexcept;
  static bool clapGuiGetResizeHints(const clap_plugin* plugin, clap_gui_resize_hints* hints) noexcept;
  static bool clapGuiAdjustSize(const clap_plugin* plugin, uint32_t* width, uint32_t* height) noexcept;
  static bool clapGuiSetSize(const clap_plugin* plugin, uint32_t width, uint32_t height) noexcept;
  static bool clapGuiSetParent(const clap_plugin* plugin, const clap_window* window) noexcept;
  static bool clapGuiSetTransient(const clap_plugin* plugin, const clap_window* window) noexcept;
  static void clapGuiSuggestTitle(const clap_plugin* plugin, const char* title) noexcept;
  static bool clapGuiShow(const clap_plugin* plugin) noexcept;
  static bool clapGuiHide(const clap_plugin* plugin) noexcept;

  // Runs an extension trampoline's body on the object behind the handle after the main-thread check;
  // answers `failure` for a missing object or a throw.
  template <class R, class F>
  static R onMainThreadCall(const clap_plugin* plugin, const char* method, R failure, F&& body) noexcept;

  // Answers an extension id from the layer's own tables, gated by the implements operations.
  const void* builtInExtension(const char* id) const;
  bool guiCreatedOrLog(const char* message) const;

  static const clap_plugin_state sState;
  static const clap_plugin_latency sLatency;
  static const clap_plugin_audio_ports sAudioPorts;
  static const clap_plugin_note_ports sNotePorts;
  static const clap_plugin_params sParams;
  static const clap_plugin_timer_support sTimerSupport;
  static const clap_plugin_gui sGui;

  clap_plugin _pluginRecord;
  bool _initDone = false;
  std::atomic<bool> _isActive{false};  // read on the audio thread, written on the main thread
  bool _activating = false;
  std::atomic<bool> _processing{false};
  bool _destroying = false;
  double _sampleRate = 0.0;
  std::string _guiApiName;
  bool _guiCreated = false;
  bool _guiFloating = false;
  bool _guiParented = false;
  std::mutex _callbackLock;
  std::queue<std::function<void()>> _callbackQueue;
};

using TavrinPluginBase = Plugin<MisbehaviourHandler::Ignore, CheckingLevel::Minimal>;

// Runs f and answers its result, or `failure` when it throws: nothing may throw across the C boundary.
template <class R, class F>
R noThrow(R failure, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return failure;
  }
}

template <class F>
void noThrow(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

}  // namespace clap::helpers
