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
  explicit PluginInstance(const clap_plugin* plugin) : _plugin(plugin) {}
  ~PluginInstance() { destroy(); }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  bool valid() const { return _plugin != nullptr; }
  const clap_plugin* plugin() const { return _plugin; }

  bool init() { return _plugin->init(_plugin); }
  bool activate(double sampleRate, uint32_t minFrames, uint32_t maxFrames) {
    return _plugin->activate(_plugin, sampleRate, minFrames, maxFrames);
  }
  void deactivate() { _plugin->deactivate(_plugin); }
  bool startProcessing() { return _plugin->start_processing(_plugin); }
  void stopProcessing() { _plugin->stop_processing(_plugin); }
  void reset() { _plugin->reset(_plugin); }
  clap_process_status process(const clap_process& block) { return _plugin->process(_plugin, &block); }
  void onMainThread() { _plugin->on_main_thread(_plugin); }
  // Hands a host state stream to the plug-in's clap.state load (main thread); false when the plug-in
  // offers no state extension or refuses the bytes.
  bool loadState(const std::vector<uint8_t>& bytes);
  // Fires each of the host's timers once through the plug-in's timer-support extension.
  void fireTimers(const Host& host);

  template <class Table>
  const Table* extension(const char* id) const {
    return static_cast<const Table*>(_plugin->get_extension(_plugin, id));
  }

  // Destroys the instance now (the wrapper then holds nothing).
  void destroy();

private:
  const clap_plugin* _plugin = nullptr;
};

}  // namespace tavrin::host
