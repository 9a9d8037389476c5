// The windowing system the editor is shown in. Until the plug-in module installs another one, the
// system is this library's stand-in, which shows nothing: host windows are platform::View objects handed
// over as "cocoa" views, web views only record what they are given, and the desktop services are those
// of Desktop.h. A native system embeds real web views in the host's windows; what it reports reaches the
// editor through the main queue.
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
  // Main thread: gets ready to show one editor; false, with the reason, when no editor can be had.
  virtual bool start(std::string& whyNot) = 0;
  // Main thread: the editor start() got ready for is gone; what it did not take is released.
  virtual void stop() = 0;
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
