#include "tools/host/PluginInstance.h"

#include "tools/host/Host.h"

namespace tavrin::host {

PluginInstance::PluginInstance(const clap_plugin_factory* factory, const Host& host, const char* pluginId)
    : _plugin(factory->create_plugin(factory, host.clapHost(), pluginId)) {}

void PluginInstance::destroy() {
  if (_plugin) _plugin->destroy(_plugin);
  _plugin = nullptr;
}

}  // namespace tavrin::host
