// Where this platform keeps the user's files and the plug-in's own resource files.
#pragma once

#include <optional>
#include <string>

// The user's home folder: HOME when that is an absolute path, else the user database's entry for this
// user. Empty when no absolute home folder is known.
std::string userHomeFolder();

// The user's data folder: XDG_DATA_HOME when that is an absolute path, else ".local/share" in the home
// folder. Empty when neither is known.
std::string userDataFolder();

// The resource folder shipped with the module that holds this code, with symbolic links to the module
// resolved first: the folder "Tavrin.resources" next to Tavrin.clap; when that is missing and the module
// sits in <prefix>/lib/clap, "<prefix>/share/tavrin" when that exists. None when the module's file
// cannot be located.
std::optional<std::string> moduleResourcesFolder();

// The editor's helper program shipped with the module that holds this code (links to the module
// resolved first): beside the module in a build tree, in its resource folder ("Tavrin.resources") in a
// user's plug-in folder, or in <prefix>/libexec/tavrin when the module sits in <prefix>/lib/clap. The
// first of these that exists, or the first when none does; none when the module's file cannot be located.
std::optional<std::string> moduleEditorHelper();
