#include "tools/host/ClapModule.h"

#include <dlfcn.h>

namespace tavrin::host {

ClapModule::~ClapModule() {
  unload();
}

bool ClapModule::fail(const std::string& message) {
  unload();
  _error = message;
  return false;
}

bool ClapModule::load(const std::string& path) {
  unload();
  _error.clear();
  // dlopen searches the library path for a name without a slash; the module is always a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  _handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!_handle) {
    const char* why = dlerror();
    return fail("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  _entry = static_cast<const clap_plugin_entry*>(dlsym(_handle, "clap_entry"));
  if (!_entry) return fail(path + " exports no clap_entry");
  if (!clap_version_is_compatible(_entry->clap_version))
    return fail("incompatible CLAP version " + std::to_string(_entry->clap_version.major));
  if (!_entry->init || !_entry->deinit || !_entry->get_factory) return fail("clap_entry has a null function");
  if (!_entry->init(path.c_str())) return fail("clap_entry.init failed");
  _entryInitialised = true;
  _factory = static_cast<const clap_plugin_factory*>(_entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  if (!_factory) return fail("the module offers no plug-in factory");
  if (!_factory->get_plugin_count || !_factory->get_plugin_descriptor || !_factory->create_plugin)
    return fail("the plug-in factory has a null function");
  if (_factory->get_plugin_count(_factory) < 1) return fail("the plug-in factory offers no plug-in");
  const clap_plugin_descriptor* desc = firstDescriptor();
  if (!desc || !desc->id || !desc->name) return fail("the plug-in factory's first descriptor is incomplete");
  return true;
}

void ClapModule::unload() {
  if (_entryInitialised && _entry) _entry->deinit();
  _entryInitialised = false;
  _factory = nullptr;
  _entry = nullptr;
  if (_handle) dlclose(_handle);
  _handle = nullptr;
}

const clap_plugin_descriptor* ClapModule::firstDescriptor() const {
  return _factory ? _factory->get_plugin_descriptor(_factory, 0) : nullptr;
}

}  // namespace tavrin::host
