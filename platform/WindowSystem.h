// The windowing system the editor is shown in. Until the plug-in module installs another one, the
// system is this library's stand-in, which shows nothing: host windows are platform::View objects handed
// over as "cocoa" views, web views only record what they are given, and the desktop services are those
// of Desktop.h. A native system embeds real web views in the host's windows and is driven from the
// host's main thread through pump().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Desktop.h"
#include "platform/WebView.h"

namespace platform {

class WindowSystem {
public:
  virtual ~WindowSystem() = default;

  // The CLAP window API whose windows this system embeds in ("cocoa", "x11").
  virtual const char* windowApi() const = 0;
  // True when nothing runs this system's work unless pump() is called regularly.
  virtual bool needsPump() const = 0;
  // Main thread: makes the system ready (once per process; later calls answer the first result).
  virtual bool start() = 0;
  // Main thread: runs the work that is due without ever waiting for more.
  virtual void pump() = 0;
  // True when the host window exists (an X11 window id for "x11").
  virtual bool windowExists(uint64_t window) = 0;
  // The native view behind a new web view; null where web views only record.
  virtual std::unique_ptr<WebViewPeer> makeWebView(WebView& owner) = 0;

  virtual std::optional<ScreenArea> workArea() = 0;
  virtual void runPanel(PanelRequest request) = 0;
  virtual void openFolder(const std::string& path) = 0;
};

// The installed system, or null when the editor has none (it then offers no window API).
WindowSystem* windowSystem();
void setWindowSystem(WindowSystem* system);
// The stand-in, installed from the start.
WindowSystem& headlessWindowSystem();

}  // namespace platform
