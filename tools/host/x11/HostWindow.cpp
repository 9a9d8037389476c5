#include "tools/host/x11/HostWindow.h"

namespace tavrin::host {

HostWindow::HostWindow(int width, int height) : connection(XOpenDisplay(nullptr)) {
  if (connection == nullptr) return;
  const int screen = DefaultScreen(connection);
  topLevel = XCreateSimpleWindow(connection, RootWindow(connection, screen), 0, 0,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                 BlackPixel(connection, screen), BlackPixel(connection, screen));
  XStoreName(connection, topLevel, "Tavrin test host");
  XMapWindow(connection, topLevel);
  XSync(connection, False);
}

HostWindow::~HostWindow() {
  destroyWindow();
  if (connection != nullptr) XCloseDisplay(connection);
}

void HostWindow::resize(int width, int height) {
  if (topLevel == 0) return;
  XResizeWindow(connection, topLevel, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(connection, False);
}

void HostWindow::destroyWindow() {
  if (topLevel == 0) return;
  XDestroyWindow(connection, topLevel);
  XSync(connection, False);
  topLevel = 0;
}

void HostWindow::takeFocus() {
  if (topLevel == 0) return;
  XSetInputFocus(connection, topLevel, RevertToParent, CurrentTime);
  XSync(connection, False);
}

uint64_t HostWindow::focusedWindow() const {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(connection, &focus, &revert);
  return focus;
}

std::vector<uint64_t> HostWindow::children() const {
  std::vector<uint64_t> found;
  Window root = 0;
  Window parent = 0;
  Window* list = nullptr;
  unsigned count = 0;
  if (topLevel != 0 && XQueryTree(connection, topLevel, &root, &parent, &list, &count) != 0) {
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
  if (XGetGeometry(connection, window, &root, &x, &y, &w, &h, &border, &depth) == 0) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

}  // namespace tavrin::host
