// tavrin-editor: the editor's helper program, started by the plug-in module with its socket as descriptor
// 3. It shows the editor page until that socket closes (the editor or the host went), then ends.
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/EditorFrames.h"
#include "platform/PlatformLog.h"
#include "platform/WindowSystem.h"
#include "platform/gtk/EditorHelper.h"
#include "platform/gtk/EditorProbe.h"
#include "platform/gtk/GtkWindowSystem.h"

namespace {

using platform::frames::FrameWriter;
using platform::frames::Kind;

// GLib's criticals and errors (of GTK, WebKit and ours) are failures of the helper: they go to the host's
// log with the rest, the first kForwardedFailures of them (one repeated at every frame must not flood the
// host's log). Warnings keep GLib's own way: GDK warns of what a host may do, such as destroying its
// window before the editor.
constexpr int kForwardedFailures = 20;
std::atomic<int> s_forwarded{0};

GLogWriterOutput forwardFailures(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
  if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) == 0 || ++s_forwarded > kForwardedFailures)
    return g_log_writer_default(level, fields, count, nullptr);
  std::string domain;
  std::string message;
  for (gsize i = 0; i < count; ++i) {
    const std::string key = fields[i].key;
    if (fields[i].length >= 0 || (key != "GLIB_DOMAIN" && key != "MESSAGE")) continue;
    (key == "MESSAGE" ? message : domain) = static_cast<const char*>(fields[i].value);
  }
  platform::log("tavrin-editor: " + (domain.empty() ? "" : domain + ": ") + message);
  return G_LOG_WRITER_HANDLED;
}

gboolean onSocket(gint, GIOCondition, gpointer data) {
  if (static_cast<platform::EditorHelper*>(data)->readSome()) return G_SOURCE_CONTINUE;
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main() {
  const int socketFd = platform::frames::kHelperSocketFd;
  if (fcntl(socketFd, F_GETFD) < 0) {
    std::fputs(
        "tavrin-editor: the Tavrin plug-in starts this program for its editor; it is not run by hand\n",
        stderr);
    return 2;
  }
  platform::EditorHelper helper(socketFd);
  // What the helper has to say goes to the module, which writes it to the host's log.
  const platform::LogRoute toModule(
      [&helper](const std::string& line) { helper.send(FrameWriter(Kind::log).text(line).finish()); });
  g_log_set_writer_func(forwardFailures, nullptr, nullptr);
  platform::WindowSystem& system = platform::gtkWindowSystem();
  platform::setWindowSystem(&system);
  std::string whyNot;
  if (!system.start(whyNot)) {
    helper.send(FrameWriter(Kind::failed).text(whyNot).finish());
    return 1;
  }
  const auto area = system.workArea();
  helper.send(FrameWriter(Kind::ready)
                  .u8(area.has_value())
                  .f64(area ? area->width : 0.0)
                  .f64(area ? area->height : 0.0)
                  .finish());
  // The host destroyed the window the page lived in: the module is told, and the helper ends.
  platform::setHostWindowGoneHandler([&helper] {
    helper.send(FrameWriter(Kind::parentGone).finish());
    gtk_main_quit();
  });
  g_unix_fd_add(socketFd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onSocket, &helper);
  platform::connectEditorProbe();
  gtk_main();
  return 0;
}
