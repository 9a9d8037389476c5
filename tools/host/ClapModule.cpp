#include "tools/host/ClapModule.h"

#include <dlfcn.h>

namespace tavrin::host {

ClapModule::~ClapModule() {
  unload();
}

bool ClapModule::fail(const std::string& message) {
  unload();
  failure = message;
  return false;
}

bool ClapModule::load(const std::string& path) {
  unload();
  failure.clear();
  // dlopen searches the library path for a name without a slash; the module is always a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    return fail("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  entryTable = static_cast<const clap_plugin_entry*>(dlsym(library, "clap_entry"));
  if (!entryTable) return fail(path + " exports no clap_entry");
  if (!clap_version_is_compatible(entryTable->clap_version))
    return fail("incompatible CLAP version " + std::to_string(entryTable->clap_version.major));
  if (!entryTable->init || !entryTable->deinit || !entryTable->get_factory)
    return fail("clap_entry has a null function");
  if (!entryTable->init(path.c_str())) return fail("clap_entry.init failed");
  entryInitialised = true;
  factoryTable = static_cast<const clap_plugin_factory*>(entryTable->get_factory(CLAP_PLUGIN_FACTORY_ID));
  if (!factoryTable) return fail("the module offers no plug-in factory");
  if (!factoryTable->get_plugin_count || !factoryTable->get_plugin_descriptor || !factoryTable->create_plugin)
    return fail("the plug-in factory has a null function");
  if (factoryTable->get_plugin_count(factoryTable) < 1) return fail("the plug-in factory offers no plug-in");
  const clap_plugin_descriptor* desc = firstDescriptor();
  if (!desc || !desc->id || !desc->name) return fail("the plug-in factory's first descriptor is incomplete");
  return true;
}

void ClapModule::unload() {
  if (entryInitialised && entryTable) entryTable->deinit();
  entryInitialised = false;
  factoryTable = nullptr;
  entryTable = nullptr;
  if (library) dlclose(library);
  library = nullptr;
}

const clap_plugin_descriptor* ClapModule::firstDescriptor() const {
  return factoryTable ? factoryTable->get_plugin_descriptor(factoryTable, 0) : nullptr;
}

}  // namespace tavrin::host
