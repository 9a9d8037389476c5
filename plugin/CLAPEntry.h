#pragma once
// The plug-in's one descriptor, shared by the factory and every instance it creates. The entry record
// `clap_entry` itself is declared by the CLAP headers (clap/entry.h).

#include "clap/plugin.h"

const clap_plugin_descriptor* tavrinDescriptor();
