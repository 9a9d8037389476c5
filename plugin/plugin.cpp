#include "plugin/plugin.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <sstream>

namespace clap::helpers {

namespace {

// A rate as the activation messages print it: shortest decimal form ("44100", "48000.5", "nan").
std::string formatRate(double rate) {
  std::ostringstream out;
  out << rate;
  return out.str();
}

}  // namespace

template <MisbehaviourHandler h, CheckingLevel l>
Plugin<h, l>::Plugin(const clap_plugin_descriptor* desc, const clap_host* host) : _hostProxy(host) {
  _pluginRecord.desc = desc;
  _pluginRecord.plugin_data = this;
  _pluginRecord.init = clapInit;
  _pluginRecord.destroy = clapDestroy;
  _pluginRecord.activate = clapActivate;
  _pluginRecord.deactivate = clapDeactivate;
  _pluginRecord.start_processing = clapStartProcessing;
  _pluginRecord.stop_processing = clapStopProcessing;
  _pluginRecord.reset = clapReset;
  _pluginRecord.process = clapProcess;
  _pluginRecord.get_extension = clapExtension;
  _pluginRecord.on_main_thread = clapOnMainThread;
}

// ---- helpers -------------------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::log(clap_log_severity severity, const char* message) const {
  logTee(severity, message);
  _hostProxy.log(severity, message);
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::ensureMainThread(const char* method) const {
  if (!_hostProxy.canUseThreadCheck() || _hostProxy.isMainThread()) return;
  hostMisbehaving(std::string("Host called the method ") + method +
                  "() on wrong thread! It must be called on main thread!");
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::ensureAudioThread(const char* method) const {
  if (!_hostProxy.canUseThreadCheck() || _hostProxy.isAudioThread()) return;
  hostMisbehaving(std::string("Host called the method ") + method +
                  "() on wrong thread! It must be called on audio thread!");
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::ensureParamThread(const char* method) const {
  if (isActive())
    ensureAudioThread(method);
  else
    ensureMainThread(method);
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::checkMainThread() const {
  if (!_hostProxy.canUseThreadCheck() || _hostProxy.isMainThread()) return;
  std::cerr << "thread-error: this code must be running on the main thread" << std::endl;
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::ensureInitialized(const char* method) const {
  if (_initDone) return;
  std::cerr << "clap_plugin." << method << "() was called before clap_plugin.init()" << std::endl;
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::runCallbacksOnMainThread() {
  if (_hostProxy.canUseThreadCheck() && !_hostProxy.isMainThread()) {
    pluginMisbehaving("plugin called runCallbacksOnMainThread(), but not on the main thread!");
    return;
  }
  while (true) {
    std::function<void()> callback;
    {
      std::lock_guard<std::mutex> guard(_callbackLock);
      if (_callbackQueue.empty()) return;
      callback = std::move(_callbackQueue.front());
      _callbackQueue.pop();
    }
    if (callback) callback();
  }
}

template <MisbehaviourHandler h, CheckingLevel l>
Plugin<h, l>* Plugin<h, l>::from(const clap_plugin* plugin, bool requireInit) {
  if (!plugin) {
    std::cerr << "called with a null clap_plugin pointer!" << std::endl;
    return nullptr;
  }
  if (!plugin->plugin_data) {
    std::cerr
        << "called with a null clap_plugin->plugin_data pointer! The host must never change this pointer!"
        << std::endl;
    return nullptr;
  }
  auto* self = static_cast<Plugin*>(plugin->plugin_data);
  if (requireInit && !self->_initDone)
    self->hostMisbehaving("Host is required to call clap_plugin.init() first");
  return self;
}

template <MisbehaviourHandler h, CheckingLevel l>
uint32_t Plugin<h, l>::getParamIndexForParamId(clap_id paramId) const {
  checkMainThread();
  const uint32_t count = paramsCount();
  for (uint32_t i = 0; i < count; ++i) {
    clap_param_info info{};
    if (clapParamsInfo(&_pluginRecord, i, &info) && info.id == paramId) return i;
  }
  return 0xFFFFFFFFu;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::isValidParamId(clap_id paramId) const {
  checkMainThread();
  return getParamIndexForParamId(paramId) != 0xFFFFFFFFu;
}

// ---- core trampolines ----------------------------------------------------------------------------

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapInit(const clap_plugin* plugin) noexcept {
  return noThrow(false, [&] {
    Plugin* self = from(plugin, false);
    if (!self) return false;
    if (self->_initDone) {
      std::cerr << "clap_plugin.init() has been called twice" << std::endl;
      return true;
    }
    self->_initDone = true;
    self->_hostProxy.init();
    self->ensureMainThread("clap_plugin.init");
    return self->init();
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapDestroy(const clap_plugin* plugin) noexcept {
  Plugin* self = from(plugin, false);
  if (!self) return;
  noThrow([&] {
    self->ensureMainThread("clap_plugin.destroy");
    self->_destroying = true;
    if (self->_guiCreated) {
      self->hostMisbehaving("host forgot to destroy the gui");
      clapGuiDestroy(plugin);
    }
    if (self->isActive()) {
      self->hostMisbehaving("host forgot to deactivate the plugin before destroying it");
      clapDeactivate(plugin);
    }
    self->runCallbacksOnMainThread();
  });
  delete self;
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapActivate(const clap_plugin* plugin, double sampleRate, uint32_t minFrameCount,
                                uint32_t maxFrameCount) noexcept {
  return noThrow(false, [&] {
    Plugin* self = from(plugin);
    if (!self) return false;
    self->ensureInitialized("activate");
    self->ensureMainThread("clap_plugin.activate");

    if (self->isActive()) {
      self->hostMisbehaving("Plugin was activated twice");
      if (sampleRate == self->_sampleRate) return true;  // already active at this rate
      self->hostMisbehaving("The plugin was activated twice and with different sample rates: " +
                            formatRate(self->_sampleRate) + " and " + formatRate(sampleRate) +
                            ". The host must deactivate the plugin first.\nSimulating deactivation.");
      clapDeactivate(plugin);
    }
    // A rate that is not finite is as unusable as one of 0 or below: every later division uses it.
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) {
      self->hostMisbehaving("The plugin was activated with an invalid sample rates: " +
                            formatRate(sampleRate));
      return false;
    }
    if (minFrameCount == 0) {
      self->hostMisbehaving("The plugin was activated with an invalid minimum frame count: " +
                            std::to_string(minFrameCount));
      return false;
    }
    if (maxFrameCount >= 0x80000000u) {
      self->hostMisbehaving("The plugin was activated with an invalid maximum frame count: " +
                            std::to_string(maxFrameCount));
      return false;
    }
    if (minFrameCount > maxFrameCount) {
      self->hostMisbehaving(
          "The plugin was activated with an invalid minmum and maximum frame count: min > max: " +
          std::to_string(minFrameCount) + " > " + std::to_string(maxFrameCount));
      return false;
    }

    self->_activating = true;
    const bool ok = self->activate(sampleRate, minFrameCount, maxFrameCount);
    self->_activating = false;
    if (!ok) return false;
    self->_sampleRate = sampleRate;
    self->_isActive.store(true, std::memory_order_relaxed);
    return true;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapDeactivate(const clap_plugin* plugin) noexcept {
  noThrow([&] {
    Plugin* self = from(plugin);
    if (!self) return;
    self->ensureInitialized("deactivate");
    self->ensureMainThread("clap_plugin.deactivate");
    if (!self->isActive()) {
      self->hostMisbehaving("The plugin was deactivated twice.");
      return;
    }
    self->deactivate();
    self->_isActive.store(false, std::memory_order_relaxed);
    // A reactivated instance must be started again before it processes.
    self->_processing.store(false, std::memory_order_relaxed);
    self->_sampleRate = 0.0;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
bool Plugin<h, l>::clapStartProcessing(const clap_plugin* plugin) noexcept {
  return noThrow(false, [&] {
    Plugin* self = from(plugin);
    if (!self) return false;
    self->ensureInitialized("start_processing");
    self->ensureAudioThread("clap_plugin.start_processing");
    if (!self->isActive()) {
      self->hostMisbehaving("Host called clap_plugin.start_processing() on a deactivated plugin");
      return false;
    }
    if (self->_processing.load(std::memory_order_relaxed)) {
      self->hostMisbehaving("Host called clap_plugin.start_processing() twice");
      return true;
    }
    const bool started = self->startProcessing();
    self->_processing.store(started, std::memory_order_relaxed);
    return started;
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapStopProcessing(const clap_plugin* plugin) noexcept {
  noThrow([&] {
    Plugin* self = from(plugin);
    if (!self) return;
    self->ensureInitialized("stop_processing");
    self->ensureAudioThread("clap_plugin.stop_processing");
    if (!self->isActive()) {
      self->hostMisbehaving("Host called clap_plugin.stop_processing() on a deactivated plugin");
      return;
    }
    if (!self->_processing.load(std::memory_order_relaxed)) {
      self->hostMisbehaving("Host called clap_plugin.stop_processing() twice");
      return;
    }
    self->stopProcessing();
    self->_processing.store(false, std::memory_order_relaxed);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapReset(const clap_plugin* plugin) noexcept {
  noThrow([&] {
    Plugin* self = from(plugin);
    if (!self) return;
    self->ensureInitialized("reset");
    self->ensureAudioThread("clap_plugin.reset");
    if (!self->isActive()) {
      self->hostMisbehaving("Host called clap_plugin.reset() on a deactivated plugin");
      return;
    }
    self->reset();
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
clap_process_status Plugin<h, l>::clapProcess(const clap_plugin* plugin,
                                              const clap_process* process) noexcept {
  return noThrow(clap_process_status(CLAP_PROCESS_ERROR), [&]() -> clap_process_status {
    Plugin* self = from(plugin);
    if (!self) return CLAP_PROCESS_ERROR;
    self->ensureInitialized("process");
    self->ensureAudioThread("clap_plugin.process");
    if (!self->isActive()) {
      self->hostMisbehaving("Host called clap_plugin.process() on a deactivated plugin");
      return CLAP_PROCESS_ERROR;
    }
    if (!self->_processing.load(std::memory_order_relaxed)) {
      self->hostMisbehaving(
          "Host called clap_plugin.process() without calling clap_plugin.start_processing()");
      return CLAP_PROCESS_ERROR;
    }
    if (!process) return CLAP_PROCESS_ERROR;
    return self->process(process);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
const void* Plugin<h, l>::clapExtension(const clap_plugin* plugin, const char* id) noexcept {
  return noThrow(static_cast<const void*>(nullptr), [&]() -> const void* {
    Plugin* self = from(plugin);
    if (!self || !id) return nullptr;
    self->ensureInitialized("extension");
    if (const void* own = self->extension(id)) return own;
    return self->builtInExtension(id);
  });
}

template <MisbehaviourHandler h, CheckingLevel l>
void Plugin<h, l>::clapOnMainThread(const clap_plugin* plugin) noexcept {
  noThrow([&] {
    Plugin* self = from(plugin);
    if (!self) return;
    self->ensureInitialized("on_maint_thread");
    self->ensureMainThread("clap_plugin.on_main_thread");
    self->runCallbacksOnMainThread();
    self->onMainThread();
  });
}

// The layer answers only the extensions it holds a table for; the others (tail, render, thread pool,
// state context, preset load, track info, surround, remote controls, note names, draft extensions...)
// answer null even when a subclass claims them.
template <MisbehaviourHandler h, CheckingLevel l>
const void* Plugin<h, l>::builtInExtension(const char* id) const {
  auto is = [id](const char* candidate) { return std::strcmp(id, candidate) == 0; };
  if (is("clap.state")) return implementsState() ? &sState : nullptr;
  if (is("clap.latency")) return implementsLatency() ? &sLatency : nullptr;
  if (is("clap.audio-ports")) return implementsAudioPorts() ? &sAudioPorts : nullptr;
  if (is("clap.params")) return implementsParams() ? &sParams : nullptr;
  if (is("clap.note-ports")) return implementsNotePorts() ? &sNotePorts : nullptr;
  if (is("clap.timer-support")) return implementsTimerSupport() ? &sTimerSupport : nullptr;
  if (is("clap.gui")) return implementsGui() ? &sGui : nullptr;
  return nullptr;
}

template class Plugin<MisbehaviourHandler::Ignore, CheckingLevel::Minimal>;

}  // namespace clap::helpers
