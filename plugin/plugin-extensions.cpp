// The extension trampolines of the host-call layer and their tables.
#include <string>

#include "plugin/plugin.h"

namespace clap::helpers {

namespace {

std::string outOfBounds(const char* prefix, uint32_t index, uint32_t count) {
  return prefix + std::to_string(index) + " >= " + std::to_string(count);
}

}  // namespace

template <MisbehaviourHandler h, CheckingLevel l>
template <class R, class F>
R Plugin<h, l>::onMainThreadCall(const clap_plugin* plugin, const char* method, R failure,
                                 F&& body) noexcept {
  return noThrow(failure, [&]() -> R {
    Plugin* self = from(plugin);
    if (!self) return failure;
    self->ensureMainThread(method);
    return body(*self);
  });
}

// ---- state, latency, ports -------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapStateSave(const clap_plugin* plugin, const clap_ostream* stream) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_state.save", false,
                          [&](Plugin& self) { return stream && self.stateSave(stream); });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapStateLoad(const clap_plugin* plugin, const clap_istream* stream) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_state.load", false,
                          [&](Plugin& self) { return stream && self.stateLoad(stream); });
}

template <MisbehaviourHandler h, CheckingLevel l>
uint32_t Plugin<h, l>::clapLatencyGet(const clap_plugin* plugin) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_latency.get", 0u, [&](Plugin& self) {
    if (!self.isActive() && !self._activating)
      self.hostMisbehaving(
          "It is wrong to query the latency before the plugin is activated, because if the plugin doesn't "
          "know the sample rate, it can't know the number of samples of latency.");
    return self.latencyGet();
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
uint32_t Plugin<h, l>::clapAudioPortsCount(const clap_plugin* plugin, bool isInput) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_audio_ports.count", 0u,
                          [&](Plugin& self) { return self.audioPortsCount(isInput); });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapAudioPortsInfo(const clap_plugin* plugin, uint32_t index, bool isInput,
                                      clap_audio_port_info* info) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_audio_ports.info", false, [&](Plugin& self) {
    const uint32_t count = self.audioPortsCount(isInput);
    if (index >= count) {
      self.hostMisbehaving(outOfBounds(
          "Host called clap_plugin_audio_ports.info() with an index out of bounds: ", index, count));
      return false;
    }
    return info && self.audioPortsInfo(index, isInput, info);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
uint32_t Plugin<h, l>::clapNotePortsCount(const clap_plugin* plugin, bool isInput) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_note_port.count", 0u,
                          [&](Plugin& self) { return self.notePortsCount(isInput); });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapNotePortsInfo(const clap_plugin* plugin, uint32_t index, bool isInput,
                                     clap_note_port_info* info) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_note_ports.info", false, [&](Plugin& self) {
    const uint32_t count = self.notePortsCount(isInput);
    if (index >= count) {
      self.hostMisbehaving(outOfBounds(
          "Host called clap_plugin_note_ports.info() with an index out of bounds: ", index, count));
      return false;
    }
    return info && self.notePortsInfo(index, isInput, info);
  });
}

// ---- parameters --------------------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
uint32_t Plugin<h, l>::clapParamsCount(const clap_plugin* plugin) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_params.count", 0u,
                          [&](Plugin& self) { return self.paramsCount(); });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapParamsInfo(const clap_plugin* plugin, uint32_t paramIndex,
                                  clap_param_info* info) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_params.info", false, [&](Plugin& self) {
    const uint32_t count = self.paramsCount();
    if (paramIndex >= count) {
      self.hostMisbehaving(
          outOfBounds("called clap_plugin_params.info with an index out of bounds: ", paramIndex, count));
      return false;
    }
    return info && self.paramsInfo(paramIndex, info);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapParamsValue(const clap_plugin* plugin, clap_id paramId, double* value) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_params.value", false, [&](Plugin& self) {
    if (!self.isValidParamId(paramId)) {
      self.hostMisbehaving("clap_plugin_params.value called with invalid param_id: " +
                           std::to_string(paramId));
      return false;
    }
    return value && self.paramsValue(paramId, value);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapParamsValueToText(const clap_plugin* plugin, clap_id paramId, double value,
                                         char* display, uint32_t size) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_params.value_to_text", false, [&](Plugin& self) {
    if (!self.isValidParamId(paramId)) {
      self.hostMisbehaving("clap_plugin_params.value_to_text called with invalid param_id: " +
                           std::to_string(paramId));
      return false;
    }
    if (!display) {
      self.hostMisbehaving("clap_plugin_params.value_to_text called with a null display pointer");
      return false;
    }
    if (size <= 1) {
      self.hostMisbehaving(
          "clap_plugin_params.value_to_text called with a empty buffer (less than one character)");
      return false;
    }
    return self.paramsValueToText(paramId, value, display, size);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapParamsTextToValue(const clap_plugin* plugin, clap_id paramId, const char* display,
                                         double* value) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_params.text_to_value", false, [&](Plugin& self) {
    if (!self.isValidParamId(paramId)) {
      self.hostMisbehaving("clap_plugin_params.text_to_value called with invalid param_id: " +
                           std::to_string(paramId));
      return false;
    }
    if (!display) {
      self.hostMisbehaving("clap_plugin_params.text_to_value called with a null display pointer");
      return false;
    }
    if (!value) {
      self.hostMisbehaving("clap_plugin_params.text_to_value called with a null value pointer");
      return false;
    }
    return self.paramsTextToValue(paramId, display, value);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapParamsFlush(const clap_plugin* plugin, const clap_input_events* in,
                                   const clap_output_events* out) noexcept {
  noThrow([&] {
    Plugin* self = from(plugin);
    if (!self) return;
    self->ensureParamThread("clap_plugin_params.flush");
    if (in && out) self->paramsFlush(in, out);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapOnTimer(const clap_plugin* plugin, clap_id timerId) noexcept {
  onMainThreadCall(plugin, "clap_plugin_timer_support.on_timer", false, [&](Plugin& self) {
    self.onTimer(timerId);
    return true;
  });
}

// ---- gui ---------------------------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::guiCreatedOrLog(const char* message) const {
  if (_guiCreated) return true;
  hostMisbehaving(message);
  return false;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiIsApiSupported(const clap_plugin* plugin, const char* api,
                                         bool isFloating) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.is_api_supported", false,
                          [&](Plugin& self) { return api && self.guiIsApiSupported(api, isFloating); });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiGetPreferredApi(const clap_plugin* plugin, const char** api,
                                          bool* isFloating) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.get_preferred_api", false, [&](Plugin& self) {
    return api && isFloating && self.guiGetPreferredApi(api, isFloating);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiCreate(const clap_plugin* plugin, const char* api, bool isFloating) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.create", false, [&](Plugin& self) {
    if (self._guiCreated) {
      self.hostMisbehaving("clap_plugin_gui.create() was called while the plugin gui was already created");
      return false;
    }
    if (!api) {
      if (!isFloating)
        self.hostMisbehaving("clap_plugin_gui.create() was called with a null api and a non floating window");
      return false;
    }
    self._guiApiName = api;
    self._guiFloating = isFloating;
    self._guiParented = false;
    self._guiCreated = self.guiCreate(api, isFloating);
    return self._guiCreated;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapGuiDestroy(const clap_plugin* plugin) noexcept {
  onMainThreadCall(plugin, "clap_plugin_gui.destroy", false, [&](Plugin& self) {
    if (!self.guiCreatedOrLog("clap_plugin_gui.destroy() was called while the plugin gui not created"))
      return false;
    self.guiDestroy();
    self._guiCreated = false;
    self._guiFloating = false;
    self._guiParented = false;
    return true;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiSetScale(const clap_plugin* plugin, double scale) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.set_scale", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.set_scale() was called without a prior call to clap_plugin_gui.create()") &&
           self.guiSetScale(scale);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiGetSize(const clap_plugin* plugin, uint32_t* width, uint32_t* height) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.size", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.size() was called without a prior call to clap_plugin_gui.create()") &&
           width && height && self.guiGetSize(width, height);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiCanResize(const clap_plugin* plugin) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.can_resize", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.can_resize() was called without a prior call to clap_plugin_gui.create()") &&
           self.guiCanResize();
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiGetResizeHints(const clap_plugin* plugin, clap_gui_resize_hints* hints) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.get_resize_hints", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.get_resize_hints() was called without a prior call to "
               "clap_plugin_gui.create()") &&
           hints && self.guiGetResizeHints(hints);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiAdjustSize(const clap_plugin* plugin, uint32_t* width, uint32_t* height) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.adjust_size", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.adjust_size() was called without a prior call to clap_plugin_gui.create()") &&
           width && height && self.guiAdjustSize(width, height);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiSetSize(const clap_plugin* plugin, uint32_t width, uint32_t height) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.set_size", false, [&](Plugin& self) {
    if (!self.guiCreatedOrLog(
            "clap_plugin_gui.set_size() was called without a prior call to clap_plugin_gui.create()"))
      return false;
    if (!self.guiCanResize()) {
      self.hostMisbehaving("clap_plugin_gui.set_size() was called but the gui is not resizable");
      return false;
    }
    uint32_t adjustedWidth = width;
    uint32_t adjustedHeight = height;
    if (self.guiAdjustSize(&adjustedWidth, &adjustedHeight) &&
        (adjustedWidth != width || adjustedHeight != height))
      self.hostMisbehaving(
          "clap_plugin_gui.set_size() was called with a size which was not adjusted by "
          "clap_plugin_gui.adjust_size(): " +
          std::to_string(width) + "x" + std::to_string(height) + " vs " + std::to_string(adjustedWidth) +
          "x" + std::to_string(adjustedHeight));
    return self.guiSetSize(width, height);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiSetParent(const clap_plugin* plugin, const clap_window* window) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.set_parent", false, [&](Plugin& self) {
    if (!self.guiCreatedOrLog("clap_plugin_gui.set_parent() was called while the plugin gui was not created"))
      return false;
    if (self._guiFloating) {
      self.hostMisbehaving(
          "clap_plugin_gui.set_parent() was called while the plugin gui is a floating window, "
          "use set_transient() instead");
      return false;
    }
    if (!window || !self.guiSetParent(window)) return false;
    self._guiParented = true;
    return true;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiSetTransient(const clap_plugin* plugin, const clap_window* window) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.set_transient", false, [&](Plugin& self) {
    if (!self.guiCreatedOrLog(
            "clap_plugin_gui.set_transient() was called while the plugin gui was not created"))
      return false;
    if (!self._guiFloating) {
      self.hostMisbehaving(
          "clap_plugin_gui.set_transient() was called while the plugin gui isn't a floating "
          "window, use set_parent() instead");
      return false;
    }
    return window && self.guiSetTransient(window);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapGuiSuggestTitle(const clap_plugin* plugin, const char* title) noexcept {
  onMainThreadCall(plugin, "clap_plugin_gui.suggest_title", false, [&](Plugin& self) {
    if (!self.guiCreatedOrLog(
            "clap_plugin_gui.suggest_title() was called without a prior call to clap_plugin_gui.create()"))
      return false;
    if (!self._guiFloating) {
      self.hostMisbehaving(
          "clap_plugin_gui.suggest_title() but the gui was not created as a floating window");
      return false;
    }
    if (!title) {
      self.hostMisbehaving("clap_plugin_gui.suggest_title() was called with a null title");
      return false;
    }
    self.guiSuggestTitle(title);
    return true;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiShow(const clap_plugin* plugin) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.show", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.show() was called without a prior call to clap_plugin_gui.create()") &&
           self.guiShow();
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapGuiHide(const clap_plugin* plugin) noexcept {
  return onMainThreadCall(plugin, "clap_plugin_gui.hide", false, [&](Plugin& self) {
    return self.guiCreatedOrLog(
               "clap_plugin_gui.hide() was called without a prior call to clap_plugin_gui.create()") &&
           self.guiHide();
  });
}

// ---- tables ------------------------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_state Plugin<h, l>::sState = {clapStateSave, clapStateLoad};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_latency Plugin<h, l>::sLatency = {clapLatencyGet};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_audio_ports Plugin<h, l>::sAudioPorts = {clapAudioPortsCount, clapAudioPortsInfo};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_note_ports Plugin<h, l>::sNotePorts = {clapNotePortsCount, clapNotePortsInfo};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_params Plugin<h, l>::sParams = {clapParamsCount,       clapParamsInfo,
                                                  clapParamsValue,       clapParamsValueToText,
                                                  clapParamsTextToValue, clapParamsFlush};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_timer_support Plugin<h, l>::sTimerSupport = {clapOnTimer};
template <MisbehaviourHandler h, CheckingLevel l>
const clap_plugin_gui Plugin<h, l>::sGui = {
    clapGuiIsApiSupported, clapGuiGetPreferredApi, clapGuiCreate,         clapGuiDestroy,    clapGuiSetScale,
    clapGuiGetSize,        clapGuiCanResize,       clapGuiGetResizeHints, clapGuiAdjustSize, clapGuiSetSize,
    clapGuiSetParent,      clapGuiSetTransient,    clapGuiSuggestTitle,   clapGuiShow,       clapGuiHide};

// The tables of the one instantiation this system uses, which bring their trampolines along; the rest
// of the class is instantiated in plugin.cpp.
template const clap_plugin_state TavrinPluginBase::sState;
template const clap_plugin_latency TavrinPluginBase::sLatency;
template const clap_plugin_audio_ports TavrinPluginBase::sAudioPorts;
template const clap_plugin_note_ports TavrinPluginBase::sNotePorts;
template const clap_plugin_params TavrinPluginBase::sParams;
template const clap_plugin_timer_support TavrinPluginBase::sTimerSupport;
template const clap_plugin_gui TavrinPluginBase::sGui;

}  // namespace clap::helpers
