#pragma once
// A small plug-in on the host-call layer for testing the layer alone: three parameters, a resizable
// GUI whose sizes snap to multiples of 10, latency, state, and counters of what reached it.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clap/plugin.h"
#include "plugin/plugin.h"
#include "tools/host/Host.h"

inline const char* s_probeFeatures[] = {"instrument", nullptr};
inline const clap_plugin_descriptor s_probeDescriptor = {
    {1, 2, 7}, "test.probe", "Probe", "", "", "", "", "1", "", s_probeFeatures};

class ProbePlugin : public clap::helpers::TavrinPluginBase {
public:
  explicit ProbePlugin(const clap_host* host) : clap::helpers::TavrinPluginBase(&s_probeDescriptor, host) {}

  int activateCalls = 0;
  int deactivateCalls = 0;
  int processCalls = 0;
  int guiDestroyCalls = 0;
  int flushCalls = 0;
  uint32_t lastSetWidth = 0, lastSetHeight = 0;
  bool throwFromState = false;
  std::vector<std::string>* journal = nullptr;  // outlives the object: deactivate, guiDestroy, destructor

  ~ProbePlugin() override { note("destroyed"); }
  void note(const char* what) {
    if (journal) journal->push_back(what);
  }

  // Asks the host for a parameter flush the way the plug-in does: only when its params table is usable.
  bool requestFlush() {
    if (!_hostProxy.canUseParams()) return false;
    _hostProxy.paramsRequestFlush();
    return true;
  }
  bool canUseTrackInfo() const { return _hostProxy.canUseTrackInfo(); }

protected:
  bool activate(double, uint32_t, uint32_t) override {
    ++activateCalls;
    return true;
  }
  void deactivate() override {
    ++deactivateCalls;
    note("deactivate");
  }
  clap_process_status process(const clap_process*) override {
    ++processCalls;
    return CLAP_PROCESS_CONTINUE;
  }

  bool implementsLatency() const override { return true; }
  uint32_t latencyGet() const override { return 32; }

  bool implementsState() const override { return true; }
  bool stateSave(const clap_ostream*) override {
    if (throwFromState) throw std::runtime_error("state failure");
    return true;
  }

  bool implementsAudioPorts() const override { return true; }
  uint32_t audioPortsCount(bool isInput) const override { return isInput ? 0 : 1; }
  bool audioPortsInfo(uint32_t, bool, clap_audio_port_info* info) const override {
    info->id = 0;
    return true;
  }

  bool implementsParams() const override { return true; }
  uint32_t paramsCount() const override { return 3; }
  bool paramsInfo(uint32_t index, clap_param_info* info) const override {
    *info = {};
    info->id = 10 + index;  // ids 10, 11, 12
    return true;
  }
  bool paramsValue(clap_id, double* value) override {
    *value = 0.5;
    return true;
  }
  bool paramsValueToText(clap_id, double value, char* display, uint32_t size) override {
    std::snprintf(display, size, "%.2f", value);
    return true;
  }
  bool paramsTextToValue(clap_id, const char* display, double* value) override {
    *value = std::atof(display);
    return true;
  }
  void paramsFlush(const clap_input_events*, const clap_output_events*) override { ++flushCalls; }

  bool implementsGui() const override { return true; }
  bool guiIsApiSupported(const char*, bool) override { return true; }
  bool guiCreate(const char*, bool) override { return true; }
  void guiDestroy() override {
    ++guiDestroyCalls;
    note("guiDestroy");
  }
  bool guiCanResize() const override { return true; }
  bool guiAdjustSize(uint32_t* width, uint32_t* height) override {
    *width -= *width % 10;
    *height -= *height % 10;
    return true;
  }
  bool guiSetSize(uint32_t width, uint32_t height) override {
    lastSetWidth = width;
    lastSetHeight = height;
    return true;
  }
  bool guiSetParent(const clap_window*) override { return true; }
  bool guiSetTransient(const clap_window*) override { return true; }
  bool guiShow() override { return true; }
};

// Swaps the buffers of std::cerr and std::clog (both write to descriptor 2) for the scope.
class StreamCapture {
public:
  StreamCapture()
      : savedCerr(std::cerr.rdbuf(errText.rdbuf())), savedClog(std::clog.rdbuf(logText.rdbuf())) {}
  ~StreamCapture() {
    std::cerr.rdbuf(savedCerr);
    std::clog.rdbuf(savedClog);
  }
  std::string err() const { return errText.str(); }
  std::string log() const { return logText.str(); }

private:
  std::ostringstream errText, logText;
  std::streambuf *savedCerr, *savedClog;
};

// A probe made for a host that names this thread its audio thread too, unless a test says otherwise.
struct Probe {
  explicit Probe(tavrin::host::HostOptions options = {}) : host(options) {
    host.setAudioThread(std::this_thread::get_id());
    object = new ProbePlugin(host.clapHost());
    plugin = object->clapPlugin();
  }
  ~Probe() {
    if (plugin) plugin->destroy(plugin);
  }
  template <class T>
  const T* extension(const char* id) const {
    return static_cast<const T*>(plugin->get_extension(plugin, id));
  }
  bool activate(double rate = 48000, uint32_t minFrames = 1, uint32_t maxFrames = 512) {
    return plugin->activate(plugin, rate, minFrames, maxFrames);
  }
  clap_process_status process() {
    clap_process block{};
    return plugin->process(plugin, &block);
  }
  int logged(const std::string& text) const { return host.countLogged(text); }
  // Whether exactly one message was logged since the last call, and it holds fragment.
  bool reported(const std::string& fragment) {
    const auto log = host.logEntries();
    host.clearLog();
    return log.size() == 1 && log[0].message.find(fragment) != std::string::npos;
  }

  tavrin::host::Host host;
  ProbePlugin* object;
  const clap_plugin* plugin;
};
