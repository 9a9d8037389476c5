#pragma once
// The host's window for an embedded plug-in editor: an X11 top-level window on its own display
// connection, as a host on Linux gives to clap_plugin_gui.set_parent.

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace tavrin::host {

class HostWindow {
public:
  // Opens the display named by DISPLAY and maps a window of the given size; valid() tells whether it
  // could.
  HostWindow(int width, int height);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool valid() const { return topLevel != 0; }
  uint64_t id() const { return topLevel; }
  Display* display() const { return connection; }

  void resize(int width, int height);
  // Destroys the window as a host does when it closes it, whatever lives inside.
  void destroyWindow();
  // Gives the window the keyboard focus, as a window manager gives it to the active top-level.
  void takeFocus();
  uint64_t focusedWindow() const;

  // The windows inside this one, and the size of one of them.
  std::vector<uint64_t> children() const;
  bool windowSize(uint64_t window, int& width, int& height) const;

private:
  Display* connection = nullptr;
  Window topLevel = 0;
};

}  // namespace tavrin::host
