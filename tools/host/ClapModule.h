#pragma once
// A CLAP module loaded by path: resolves clap_entry, checks its version, calls init and finds the plug-in
// factory with at least one descriptor. deinit and unloading happen at destruction.

#include <string>

#include "clap/entry.h"
#include "clap/plugin-factory.h"

namespace tavrin::host {

class ClapModule {
public:
  ClapModule() = default;
  ~ClapModule();
  ClapModule(const ClapModule&) = delete;
  ClapModule& operator=(const ClapModule&) = delete;

  // Loads and checks the module at a file path (a bare name is a file in the current folder); on
  // failure answers false and error() tells why.
  bool load(const std::string& path);
  void unload();

  const std::string& error() const { return failure; }
  const clap_plugin_entry* entry() const { return entryTable; }
  const clap_plugin_factory* factory() const { return factoryTable; }
  // The descriptor at index 0 (the factory's first plug-in).
  const clap_plugin_descriptor* firstDescriptor() const;

private:
  bool fail(const std::string& message);

  void* library = nullptr;
  const clap_plugin_entry* entryTable = nullptr;
  const clap_plugin_factory* factoryTable = nullptr;
  bool entryInitialised = false;
  std::string failure;
};

}  // namespace tavrin::host
