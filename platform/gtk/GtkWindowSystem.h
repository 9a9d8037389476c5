// The window system of Linux desktops: GTK 3 on X11, with WebKitGTK web views embedded in the host's X11
// windows. Nothing runs GTK's work on its own: the host's main thread pumps it.
#pragma once

#include "platform/WindowSystem.h"

namespace platform {

WindowSystem& gtkWindowSystem();

}  // namespace platform
