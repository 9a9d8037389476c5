#pragma once
// One plug-in instance held by the host: created through a factory (or adopted from a handle), called
// only through the CLAP interface, destroyed with the wrapper.

#include <cstdint>
#include <vector>

#include "clap/plugin-factory.h"
#include "clap/plugin.h"

namespace tavrin::host {

class Host;

class PluginInstance {
public:
  // Creates an instance with the factory; valid() tells whether the factory gave one.
  PluginInstance(const clap_plugin_factory* factory, const Host& host, const char* pluginId);
  // Takes over a handle made elsewhere (null allowed).
  explicit PluginInstance(const clap_plugin* plugin) : clapPlugin(plugin) {}
  ~PluginInstance() { destroy(); }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  bool valid() const { return clapPlugin != nullptr; }
  const clap_plugin* plugin() const { return clapPlugin; }

  bool init() { return clapPlugin->init(clapPlugin); }
  bool activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames) {
    return clapPlugin->activate(clapPlugin, sampleRate, minFrames, maxFrames);
  }
  void deactivate() { clapPlugin->deactivate(clapPlugin); }
  bool startProcessing() { return clapPlugin->start_processing(clapPlugin); }
  void stopProcessing() { clapPlugin->stop_processing(clapPlugin); }
  void reset() { clapPlugin->reset(clapPlugin); }
  clap_process_status process(const clap_process& block) { return clapPlugin->process(clapPlugin, &block); }
  void onMainThread() { clapPlugin->on_main_thread(clapPlugin); }
  // Hands a host state stream to the plug-in's clap.state load (main thread); false when the plug-in
  // offers no state extension or refuses the bytes.
  bool loadState(const std::vector<uint8_t>& bytes);
  // Fires each of the host's timers once through the plug-in's timer-support extension.
  void fireTimers(const Host& host);

  template <class Table>
  const Table* extension(const char* id) const {
    return static_cast<const Table*>(clapPlugin->get_extension(clapPlugin, id));
  }

  // Destroys the instance now (the wrapper then holds nothing).
  void destroy();

private:
  const clap_plugin* clapPlugin = nullptr;
};

}  // namespace tavrin::host
