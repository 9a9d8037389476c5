#pragma once
// A plug-in with its editor open in a window, as a host opens it through the gui extension: the page's
// side is played through the web view stand-in (posted messages, finished loads, script completions).

#include <clap/ext/gui.h>

#include <string>

#include "editor/MlibWebView.h"
#include "editor/PluginEditor.h"
#include "platform/DispatchQueue.h"
#include "platform/PlatformView.h"
#include "plugin/PluginFixture.h"

struct EditorSession {
  // A session whose editor is not open yet: the instance as a host has it before anyone opens the editor.
  struct Closed {};

  EditorSession() { open(); }
  explicit EditorSession(Closed) {}
  ~EditorSession() {
    if (gui != nullptr) gui->destroy(p.instance.plugin());
  }

  void open() {
    platform::mainQueue().clear();
    gui = p.instance.extension<clap_plugin_gui>(CLAP_EXT_GUI);
    gui->create(p.instance.plugin(), CLAP_WINDOW_API_COCOA, false);
    clap_window clapWindow{};
    clapWindow.api = CLAP_WINDOW_API_COCOA;
    clapWindow.cocoa = &window.contentView();
    gui->set_parent(p.instance.plugin(), &clapWindow);
    view().clearScripts();
  }

  MlibWebView& view() { return *plugin().editor->webView(); }
  CLAPPlugin& plugin() { return *p.object; }

  // The page posts {name, value}; value is JSON text.
  void post(const std::string& name, const std::string& valueJson) {
    view().postMessage("mlib", "{\"name\":\"" + name + "\",\"value\":" + valueJson + "}");
  }
  // One timer tick, whenever the timer last fired.
  void tick() { plugin().editor->pollTick(); }

  PluginFixture p;
  platform::Window window;
  const clap_plugin_gui* gui = nullptr;
};
