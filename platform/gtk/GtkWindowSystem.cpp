#include "platform/gtk/GtkWindowSystem.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <memory>

#include "platform/PlatformLog.h"
#include "platform/gtk/GtkWebViewPeer.h"

namespace platform {

namespace {

// One pump runs at most this many GLib dispatches and stops once this much time has passed, so that a
// host's timer tick stays short however much work is waiting.
constexpr int kMaxDispatches = 200;
constexpr gint64 kPumpBudgetUs = 8000;

void onPanelResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  const std::unique_ptr<PanelRequest> request(static_cast<PanelRequest*>(data));
  const bool confirmed = response == GTK_RESPONSE_ACCEPT;
  std::string path;
  if (confirmed) {
    gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (file != nullptr) path = file;
    g_free(file);
  }
  g_object_unref(dialog);
  if (request->completion) request->completion(confirmed && !path.empty(), path);
}

class GtkWindowSystem : public WindowSystem {
public:
  const char* windowApi() const override { return "x11"; }
  bool needsPump() const override { return true; }

  bool start() override {
    if (state != State::unknown) return state == State::ready;
    state = State::failed;
    // GTK must not change the host's locale, and WebKit's views are embedded as X11 windows.
    gtk_disable_setlocale();
    gdk_set_allowed_backends("x11");
    if (gtk_get_major_version() != 3 || !gtk_init_check(nullptr, nullptr) ||
        !GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
      log("tavrin: GTK 3 on an X11 display is not available");
      return false;
    }
    // No cache of content processes: the process of a closed editor ends with it.
    webkit_web_context_set_cache_model(webkit_web_context_get_default(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    state = State::ready;
    return true;
  }

  void pump() override {
    if (state != State::ready) return;
    // The host may destroy the window our views live in at any time, and GDK's requests on windows below
    // it then fail; GDK ends the process on an X11 error that nobody traps.
    GdkDisplay* display = gdk_display_get_default();
    gdk_x11_display_error_trap_push(display);
    const gint64 deadline = g_get_monotonic_time() + kPumpBudgetUs;
    for (int i = 0; i < kMaxDispatches && g_main_context_pending(nullptr); ++i) {
      g_main_context_iteration(nullptr, FALSE);
      if (g_get_monotonic_time() >= deadline) break;
    }
    gdk_x11_display_error_trap_pop_ignored(display);
  }

  bool windowExists(uint64_t window) override {
    if (state != State::ready || window == 0) return false;
    GdkDisplay* display = gdk_display_get_default();
    XWindowAttributes attributes;
    gdk_x11_display_error_trap_push(display);
    const Status found =
        XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), static_cast<::Window>(window), &attributes);
    return gdk_x11_display_error_trap_pop(display) == 0 && found != 0;
  }

  std::unique_ptr<WebViewPeer> makeWebView(WebView& owner) override {
    if (state != State::ready) return nullptr;
    return std::make_unique<GtkWebViewPeer>(owner);
  }

  std::optional<ScreenArea> workArea() override {
    if (state != State::ready) return std::nullopt;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0)
      monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return std::nullopt;
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    const int scale = gdk_monitor_get_scale_factor(monitor);
    return ScreenArea{static_cast<double>(area.width) * scale, static_cast<double>(area.height) * scale};
  }

  void runPanel(PanelRequest request) override {
    if (state != State::ready) {
      if (request.completion) request.completion(false, std::string());
      return;
    }
    const bool save = request.kind == PanelRequest::Kind::save;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        save ? "Save" : "Open", nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        save ? "_Save" : "_Open", "_Cancel");
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    if (!request.allowedExtension.empty()) {
      GtkFileFilter* filter = gtk_file_filter_new();
      gtk_file_filter_add_pattern(filter, ("*." + request.allowedExtension).c_str());
      gtk_file_chooser_add_filter(files, filter);
    }
    if (!request.folder.empty()) gtk_file_chooser_set_current_folder(files, request.folder.c_str());
    if (save) {
      gtk_file_chooser_set_do_overwrite_confirmation(files, TRUE);
      gtk_file_chooser_set_current_name(files, request.suggestedName.c_str());
    }
    g_signal_connect(chooser, "response", G_CALLBACK(onPanelResponse), new PanelRequest(std::move(request)));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  }

  void openFolder(const std::string& path) override {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    GError* error = nullptr;
    if (uri == nullptr || !g_app_info_launch_default_for_uri(uri, nullptr, &error))
      log("tavrin: cannot show the folder " + path +
          (error != nullptr ? ": " + std::string(error->message) : ""));
    if (error != nullptr) g_error_free(error);
    g_free(uri);
  }

private:
  enum class State { unknown, ready, failed };
  State state = State::unknown;
};

}  // namespace

WindowSystem& gtkWindowSystem() {
  static GtkWindowSystem s_system;
  return s_system;
}

}  // namespace platform
