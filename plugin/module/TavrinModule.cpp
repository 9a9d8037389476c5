// The module's own translation unit; everything it exports lives in the folder libraries linked whole.
// It installs the window system the editor is shown in: GTK on X11, or none in a build without the editor
// (the gui extension then offers no window API).
#include "platform/WindowSystem.h"
#ifdef TAVRIN_EDITOR
#include "platform/gtk/GtkWindowSystem.h"
#endif

namespace {

platform::WindowSystem* moduleWindowSystem() {
#ifdef TAVRIN_EDITOR
  return &platform::gtkWindowSystem();
#else
  return nullptr;
#endif
}

const bool s_installed = (platform::setWindowSystem(moduleWindowSystem()), true);

}  // namespace
