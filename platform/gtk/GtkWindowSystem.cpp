#include "platform/gtk/GtkWindowSystem.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/PlatformLog.h"
#include "platform/gtk/GtkWebViewPeer.h"

namespace platform {

namespace {

// The top-level window of the host that holds window (the child of the root on its way up); 0 if none.
::Window hostTopLevel(Display* display, ::Window window) {
  for (int depth = 0; depth < 64 && window != 0; ++depth) {
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return 0;
    if (children != nullptr) XFree(children);
    if (parent == root) return window;
    window = parent;
  }
  return 0;
}

// The render node that WebKit falls back to when EGL cannot tell it one (the first the system has), or a
// name that is no device where there is none.
std::string firstRenderNode() {
  std::string first;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("renderD") && (first.empty() || name < first)) first = name;
  }
  return first.empty() ? "none" : "/dev/dri/" + first;
}

// Where there is no session bus (none named, none at its usual place in the user's runtime folder, no
// dbus-launch to ask for one), GLib and the accessibility bridge look for dbus-launch anyway, each time
// forking the helper, libraries and all, to find it missing: three times at every opening. Naming the
// usual place, where nothing listens, gives them the same answer at once.
std::optional<std::string> absentSessionBus() {
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) return std::nullopt;
  gchar* usualPlace = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
  gchar* launcher = g_find_program_in_path("dbus-launch");
  std::optional<std::string> address;
  if (launcher == nullptr && !g_file_test(usualPlace, G_FILE_TEST_EXISTS)) {
    gchar* escaped = g_dbus_address_escape_value(usualPlace);
    address = std::string("unix:path=") + escaped;
    g_free(escaped);
  }
  g_free(launcher);
  g_free(usualPlace);
  return address;
}

class GtkWindowSystem : public WindowSystem {
public:
  const char* windowApi() const override { return "x11"; }
  bool start(std::string& whyNot) override {
    if (state != State::unknown) return state == State::ready;
    state = State::failed;
    // GTK must not change the locale, and WebKit's views are embedded as X11 windows.
    gtk_disable_setlocale();
    gdk_set_allowed_backends("x11");
    // The page is drawn by the CPU (GtkWebViewPeer): WebKit's DMA-BUF renderer would only set up EGL in
    // this process before the page's content process is started, 60 to 200 ms of every opening.
    setUnlessChosen("WEBKIT_DISABLE_DMABUF_RENDERER", "1");
    // Nor does it need WebKit to start EGL here only to learn which render device the page's content
    // process would use: 150 to 300 ms of the CPU at every opening (Mesa's software GL where there is no
    // GPU), taken from the content process starting beside it.
    setUnlessChosen("WEBKIT_WEB_RENDER_DEVICE_FILE", firstRenderNode());
    // GTK draws without GL here too; the first GTK program on a display would otherwise start GL (Mesa's
    // software GL where there is no GPU) only to choose its window visuals, some 200 ms of the first
    // opening.
    setUnlessChosen("GDK_GL", "disable");
    if (const auto address = absentSessionBus()) setUnlessChosen("DBUS_SESSION_BUS_ADDRESS", *address);
    if (gtk_get_major_version() != 3 || !gtk_init_check(nullptr, nullptr) ||
        !GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
      whyNot = "GTK 3 on an X11 display is not available (DISPLAY is " +
               std::string(g_getenv("DISPLAY") != nullptr ? g_getenv("DISPLAY") : "not set") + ")";
      return false;
    }
    // The host destroys the window our views live in at any time, and GDK's requests on windows below
    // it then fail; GDK ends the process on an X11 error that nobody traps.
    gdk_x11_display_error_trap_push(gdk_display_get_default());
    // No cache of content processes: the process of a closed editor ends with it.
    webkit_web_context_set_cache_model(webkit_web_context_get_default(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    state = State::ready;
    return true;
  }

  void stop() override {}

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

  // One panel at a time: a second request brings the open one to the front and is answered as refused.
  void runPanel(PanelRequest request) override {
    if (state != State::ready || openPanel != nullptr) {
      if (openPanel != nullptr) gtk_window_present(GTK_WINDOW(openPanel));
      if (request.completion) request.completion(false, std::string());
      return;
    }
    const bool save = request.kind == PanelRequest::Kind::save;
    openPanel = gtk_file_chooser_dialog_new(
        save ? "Save" : "Open", nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        "_Cancel", GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* files = GTK_FILE_CHOOSER(openPanel);
    if (!request.allowedExtension.empty()) {
      GtkFileFilter* filter = gtk_file_filter_new();
      gtk_file_filter_add_pattern(filter, ("*." + request.allowedExtension).c_str());
      gtk_file_chooser_add_filter(files, filter);
    }
    const std::string& folder = lastFolder.empty() ? request.folder : lastFolder;
    if (!folder.empty()) gtk_file_chooser_set_current_folder(files, folder.c_str());
    if (save) {
      gtk_file_chooser_set_do_overwrite_confirmation(files, TRUE);
      gtk_file_chooser_set_current_name(files, request.suggestedName.c_str());
    }
    keepAbove(openPanel, request.transientFor);
    g_signal_connect(openPanel, "response", G_CALLBACK(onPanelResponse),
                     new PanelRequest(std::move(request)));
    gtk_widget_show(openPanel);
  }

  void openFolder(const std::string& path) override {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    // The file browser is the user's program: it gets the environment the helper was given.
    GAppLaunchContext* context = g_app_launch_context_new();
    for (const std::string& name : ownSettings) g_app_launch_context_unsetenv(context, name.c_str());
    GError* error = nullptr;
    if (uri == nullptr || !g_app_info_launch_default_for_uri(uri, context, &error))
      log("tavrin: cannot show the folder " + path +
          (error != nullptr ? ": " + std::string(error->message) : ""));
    if (error != nullptr) g_error_free(error);
    g_object_unref(context);
    g_free(uri);
  }

private:
  // Sets a variable of the helper's environment, which WebKit's processes inherit, unless the user chose
  // its value.
  void setUnlessChosen(const char* name, const std::string& value) {
    if (g_getenv(name) != nullptr) return;
    g_setenv(name, value.c_str(), TRUE);
    ownSettings.push_back(name);
  }

  // The panel stays above the host's top-level window (a window of another process, known to GDK as a
  // foreign window).
  static void keepAbove(GtkWidget* panel, uint64_t hostWindow) {
    if (hostWindow == 0) return;
    gtk_widget_realize(panel);
    GdkDisplay* display = gtk_widget_get_display(panel);
    const ::Window topLevel = hostTopLevel(GDK_DISPLAY_XDISPLAY(display), static_cast<::Window>(hostWindow));
    GdkWindow* host = topLevel != 0 ? gdk_x11_window_foreign_new_for_display(display, topLevel) : nullptr;
    if (host == nullptr) return;
    gdk_window_set_transient_for(gtk_widget_get_window(panel), host);
    g_object_unref(host);
  }

  static void onPanelResponse(GtkDialog* dialog, gint response, gpointer data) {
    const std::unique_ptr<PanelRequest> request(static_cast<PanelRequest*>(data));
    GtkWindowSystem& self = *static_cast<GtkWindowSystem*>(&gtkWindowSystem());
    const bool confirmed = response == GTK_RESPONSE_ACCEPT;
    std::string path;
    if (confirmed) {
      gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
      if (file != nullptr) path = file;
      g_free(file);
      gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
      if (folder != nullptr) self.lastFolder = folder;
      g_free(folder);
    }
    gtk_widget_destroy(GTK_WIDGET(dialog));
    self.openPanel = nullptr;
    if (request->completion) request->completion(confirmed && !path.empty(), path);
  }

  enum class State { unknown, ready, failed };
  State state = State::unknown;
  GtkWidget* openPanel = nullptr;        // the panel shown, owned by GTK
  std::string lastFolder;                // the folder of the last confirmed panel
  std::vector<std::string> ownSettings;  // the variables setUnlessChosen set
};

}  // namespace

namespace {

std::function<void()> s_hostWindowGone;

}  // namespace

void setHostWindowGoneHandler(std::function<void()> handler) {
  s_hostWindowGone = std::move(handler);
}

void hostWindowGone() {
  if (s_hostWindowGone) s_hostWindowGone();
}

WindowSystem& gtkWindowSystem() {
  static GtkWindowSystem s_system;
  return s_system;
}

}  // namespace platform
