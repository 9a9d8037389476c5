#include "tools/host/x11/HostWindow.h"

namespace tavrin::host {

HostWindow::HostWindow(int width, int height) : _display(XOpenDisplay(nullptr)) {
  if (_display == nullptr) return;
  const int screen = DefaultScreen(_display);
  _window = XCreateSimpleWindow(_display, RootWindow(_display, screen), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, BlackPixel(_display, screen),
                                BlackPixel(_display, screen));
  XStoreName(_display, _window, "Tavrin test host");
  XMapWindow(_display, _window);
  XSync(_display, False);
}

HostWindow::~HostWindow() {
  destroyWindow();
  if (_display != nullptr) XCloseDisplay(_display);
}

void HostWindow::resize(int width, int height) {
  if (_window == 0) return;
  XResizeWindow(_display, _window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(_display, False);
}

void HostWindow::destroyWindow() {
  if (_window == 0) return;
  XDestroyWindow(_display, _window);
  XSync(_display, False);
  _window = 0;
}

void HostWindow::takeFocus() {
  if (_window == 0) return;
  XSetInputFocus(_display, _window, RevertToParent, CurrentTime);
  XSync(_display, False);
}

uint64_t HostWindow::focusedWindow() const {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(_display, &focus, &revert);
  return focus;
}

std::vector<uint64_t> HostWindow::children() const {
  std::vector<uint64_t> found;
  Window root = 0;
  Window parent = 0;
  Window* list = nullptr;
  unsigned count = 0;
  if (_window != 0 && XQueryTree(_display, _window, &root, &parent, &list, &count) != 0) {
    found.assign(list, list + count);
    XFree(list);
  }
  return found;
}

bool HostWindow::windowSize(uint64_t window, int& width, int& height) const {
  Window root = 0;
  int x = 0;
  int y = 0;
  unsigned w = 0;
  unsigned h = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (XGetGeometry(_display, window, &root, &x, &y, &w, &h, &border, &depth) == 0) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

}  // namespace tavrin::host
