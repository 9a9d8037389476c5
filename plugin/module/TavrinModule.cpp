// The module's own translation unit; everything it exports lives in the folder libraries linked whole.
// It installs the window system the editor is shown in: X11 windows of the editor's helper process, or
// none in a build without the editor (the gui extension then offers no window API).
#include "platform/WindowSystem.h"
#ifdef TAVRIN_EDITOR
#include "platform/RemoteWindowSystem.h"
#endif

namespace {

platform::WindowSystem* moduleWindowSystem() {
#ifdef TAVRIN_EDITOR
  return &platform::remoteWindowSystem();
#else
  return nullptr;
#endif
}

const bool s_installed = (platform::setWindowSystem(moduleWindowSystem()), true);

}  // namespace
