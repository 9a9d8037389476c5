// The window system of Linux desktops inside the editor's helper: GTK 3 on X11, with WebKitGTK web views
// embedded in the host's X11 windows. GTK's main loop runs it.
#pragma once

#include <functional>

#include "platform/WindowSystem.h"

namespace platform {

WindowSystem& gtkWindowSystem();

// Called when the host destroyed the window a web view lived in (the view is gone with it).
void setHostWindowGoneHandler(std::function<void()> handler);
void hostWindowGone();

}  // namespace platform
