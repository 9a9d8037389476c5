// The window system of Linux desktops, kept out of the host's process: each editor's web view lives in a
// helper program of ours (GTK 3 and WebKitGTK on X11) whose window is reparented into the host's X11
// window, reached over a socket pair. The module itself links no toolkit. The helper for an editor is
// started when the editor is created, so that it is up by the time the host gives the window.
#pragma once

#include "platform/WindowSystem.h"

namespace platform {

WindowSystem& remoteWindowSystem();

}  // namespace platform
