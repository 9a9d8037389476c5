// The exported entry record, the plug-in factory and the descriptor. Everything here is constant data;
// the only side effect is the allocation of a new plug-in object by the factory.
#include "plugin/CLAPEntry.h"

#include <cstring>

#include "clap/entry.h"
#include "clap/plugin-factory.h"
#include "plugin/CLAPPlugin.h"

namespace {

const char* s_features[] = {"instrument", "synthesizer", "stereo", nullptr};

const clap_plugin_descriptor s_descriptor = {
    {1, 2, 7},
    "com.nobrel.tavrin",
    "Tavrin",
    "Nobrels",
    "https://nobrels.com",
    "",
    "",
    "1.0.6.2",
    "Complex oscillator synthesizer",
    s_features,
};

uint32_t factory_get_plugin_count(const clap_plugin_factory*) {
  return 1;
}

const clap_plugin_descriptor* factory_get_descriptor(const clap_plugin_factory*, uint32_t index) {
  return index == 0 ? &s_descriptor : nullptr;
}

const clap_plugin* factory_create_plugin(const clap_plugin_factory*, const clap_host* host,
                                         const char* pluginId) {
  if (!host || !pluginId || std::strcmp(pluginId, s_descriptor.id) != 0) return nullptr;
  try {
    return (new CLAPPlugin(host))->clapPlugin();
  } catch (...) {  // nothing may throw across the C boundary
    return nullptr;
  }
}

const clap_plugin_factory s_factory = {
    factory_get_plugin_count,
    factory_get_descriptor,
    factory_create_plugin,
};

bool mlib_entry_init(const char*) {
  return true;
}

void mlib_entry_deinit() {}

const void* mlib_entry_get_factory(const char* factoryId) {
  if (factoryId && std::strcmp(factoryId, "clap.plugin-factory") == 0) return &s_factory;
  return nullptr;
}

}  // namespace

const clap_plugin_descriptor* tavrinDescriptor() {
  return &s_descriptor;
}

extern "C" CLAP_EXPORT const clap_plugin_entry clap_entry = {
    {1, 2, 7},
    mlib_entry_init,
    mlib_entry_deinit,
    mlib_entry_get_factory,
};
