// Where this platform keeps the user's files and the plug-in's own resource files.
#pragma once

#include <optional>
#include <string>

// The user's Library folder: "Library" in the home folder, which is HOME when that is an absolute path
// and else the user database's entry for this user. Empty when no absolute home folder is known.
std::string userLibraryFolder();

// The resource folder shipped beside the module that holds this code: the folder "Tavrin.resources" next
// to Tavrin.clap, with symbolic links to the module resolved first. None when the module's file cannot be
// located.
std::optional<std::string> moduleResourcesFolder();
