#include "platform/gtk/EditorProbe.h"

#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <cstring>
#include <string>

#include "platform/EditorFrames.h"

namespace platform {

namespace {

using frames::FieldReader;
using frames::FrameWriter;
using frames::Kind;

struct Probe {
  int fd = -1;
  frames::FrameReader reader;
};

WebKitWebView* findWebView(GtkWidget* widget) {
  if (WEBKIT_IS_WEB_VIEW(widget)) return WEBKIT_WEB_VIEW(widget);
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  WebKitWebView* found = nullptr;
  for (GList* item = children; item != nullptr && found == nullptr; item = item->next)
    found = findWebView(GTK_WIDGET(item->data));
  g_list_free(children);
  return found;
}

WebKitWebView* pageView() {
  GList* windows = gtk_window_list_toplevels();
  WebKitWebView* found = nullptr;
  for (GList* item = windows; item != nullptr && found == nullptr; item = item->next)
    found = findWebView(GTK_WIDGET(item->data));
  g_list_free(windows);
  return found;
}

void answer(Probe& probe, uint32_t id, bool failed, const std::string& text) {
  const std::string frame = FrameWriter(Kind::evaluated).u32(id).u8(failed).text(text).finish();
  [[maybe_unused]] const auto sent = send(probe.fd, frame.data(), frame.size(), MSG_NOSIGNAL);
}

void evaluate(Probe& probe, uint32_t id, const std::string& script) {
  WebKitWebView* view = pageView();
  if (view == nullptr) {
    answer(probe, id, true, "no page");
    return;
  }
  struct Pending {
    Probe* probe;
    uint32_t id;
  };
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const auto* pending = static_cast<Pending*>(data);
        GError* error = nullptr;
        std::string text;
        if (JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error)) {
          char* printed = jsc_value_to_string(value);
          text = printed != nullptr ? printed : "";
          g_free(printed);
          g_object_unref(value);
        }
        if (error != nullptr) {
          text = error->message;
          g_error_free(error);
        }
        answer(*pending->probe, pending->id, error != nullptr, text);
        delete pending;
      },
      new Pending{&probe, id});
}

gboolean onProbe(gint fd, GIOCondition, gpointer data) {
  auto& probe = *static_cast<Probe*>(data);
  char buffer[4096];
  const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR) ||
      (got > 0 && !probe.reader.feed(buffer, static_cast<size_t>(got)))) {
    close(fd);
    probe.fd = -1;
    return G_SOURCE_REMOVE;
  }
  while (const auto body = probe.reader.next()) {
    FieldReader fields(*body);
    const uint32_t id = fields.u32();
    const std::string script = fields.text();
    if (fields.ok() && fields.kind() == Kind::evaluate) evaluate(probe, id, script);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

void connectEditorProbe() {
  const char* path = g_getenv("TAVRIN_EDITOR_PROBE");
  if (path == nullptr || std::strlen(path) >= sizeof(sockaddr_un{}.sun_path)) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return;
  }
  // Lives as long as the helper.
  auto* probe = new Probe{fd, {}};
  g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onProbe, probe);
}

}  // namespace platform
