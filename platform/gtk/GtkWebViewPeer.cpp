#include "platform/gtk/GtkWebViewPeer.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/PlatformLog.h"
#include "platform/gtk/GtkWindowSystem.h"

namespace platform {

namespace {

// The host owns the X11 window this one lives in and may destroy it at any time: every X11 request on
// our window runs under a trap, since GDK ends the process on an untrapped X11 error.
template <class F>
void trapped(GtkWidget* widget, F&& requests) {
  GdkDisplay* display = gtk_widget_get_display(widget);
  gdk_x11_display_error_trap_push(display);
  requests(GDK_DISPLAY_XDISPLAY(display));
  gdk_x11_display_error_trap_pop_ignored(display);
}

void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<ScriptCompletion> completion(static_cast<ScriptCompletion*>(data));
  GError* error = nullptr;
  if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error))
    g_object_unref(value);
  std::optional<std::string> failure;
  if (error != nullptr) {
    failure = error->message != nullptr ? error->message : "(unknown)";
    g_error_free(error);
  }
  (*completion)(failure);
}

gboolean noContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;
}

// The page's own background colour, shown until the page has drawn.
gboolean paintCover(GtkWidget*, cairo_t* cairo, gpointer) {
  cairo_set_source_rgb(cairo, 0x15 / 255.0, 0x12 / 255.0, 0x1c / 255.0);
  cairo_paint(cairo);
  return TRUE;
}

// Resolves once every face the page declares is in and two frames have been drawn after that: what the
// page shows then has all its text. Each face is asked for, since one the page has not laid out text in
// yet is not loading, and "document.fonts.ready" does not wait for it.
constexpr const char* kDrawnProbe =
    "await Promise.all([...document.fonts].map(f => f.load()));"
    " await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));"
    " return 1;";
// The cover goes after this long even when the page never says it has drawn.
constexpr guint kLongestCoverMs = 3000;

}  // namespace

GtkWebViewPeer::GtkWebViewPeer(WebView& webView) : owner(webView) {
  content = webkit_user_content_manager_new();
  for (const std::string& name : owner.configuration().userContentController->handlerNames()) {
    channels.push_back(std::make_unique<Channel>(Channel{this, name}));
    g_signal_connect(content, ("script-message-received::" + name).c_str(), G_CALLBACK(onScriptMessage),
                     channels.back().get());
    webkit_user_content_manager_register_script_message_handler(content, name.c_str());
  }
  view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
  // Drawn by the CPU: where there is no GPU, WebKit's GL path renders through software GL at several
  // times the cost, and shows a grey first frame.
  webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view),
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  const GdkRGBA transparent{0.0, 0.0, 0.0, 0.0};
  webkit_web_view_set_background_color(view, &transparent);
  g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
  g_signal_connect(view, "context-menu", G_CALLBACK(noContextMenu), nullptr);

  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref(window);
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_widget_set_app_paintable(window, TRUE);
  g_signal_connect(window, "destroy-event", G_CALLBACK(onWindowDestroyed), this);
  // Until the page has drawn at its size, a cover in its colour hides the half-laid-out first frames.
  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay), GTK_WIDGET(view));
  cover = gtk_drawing_area_new();
  g_signal_connect(cover, "draw", G_CALLBACK(paintCover), nullptr);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), cover);
  gtk_container_add(GTK_CONTAINER(window), overlay);
  const Rect frame = owner.frame();
  gtk_window_set_default_size(GTK_WINDOW(window), std::max(1, static_cast<int>(std::lround(frame.width))),
                              std::max(1, static_cast<int>(std::lround(frame.height))));
}

GtkWebViewPeer::~GtkWebViewPeer() {
  if (reloadSource != 0) g_source_remove(reloadSource);
  if (coverSource != 0) g_source_remove(coverSource);
  g_cancellable_cancel(coverWait);
  g_object_unref(coverWait);
  if (gone) {
    g_object_unref(window);
    g_object_unref(content);
    return;
  }
  if (GdkWindow* realized = gtk_widget_get_window(window)) gdk_window_remove_filter(realized, onXEvent, this);
  g_signal_handlers_disconnect_by_data(view, this);
  for (const auto& channel : channels) {
    g_signal_handlers_disconnect_by_data(content, channel.get());
    webkit_user_content_manager_unregister_script_message_handler(content, channel->name.c_str());
  }
  if (focusBefore != 0) setKeyboardFocus(false);
  // The view's content process ends with it (WebKit would keep it for a while).
  webkit_web_view_terminate_web_process(view);
  trapped(window, [this](Display* display) {
    gtk_widget_destroy(window);
    XSync(display, False);  // the host sees its window empty as soon as the editor is gone
  });
  g_object_unref(window);
  g_object_unref(content);
}

unsigned long GtkWebViewPeer::xWindow() const {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  return gdkWindow != nullptr ? GDK_WINDOW_XID(gdkWindow) : 0;
}

gboolean GtkWebViewPeer::onWindowDestroyed(GtkWidget*, GdkEvent*, gpointer data) {
  // The host destroyed its window and ours with it. Nothing more is asked of the window (GTK would
  // report requests on a window the X server no longer has): the helper is told, and ends.
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  self.gone = true;
  if (self.reloadSource != 0) g_source_remove(self.reloadSource);
  self.reloadSource = 0;
  g_signal_handlers_disconnect_by_data(self.view, &self);
  for (const auto& channel : self.channels) g_signal_handlers_disconnect_by_data(self.content, channel.get());
  g_signal_handlers_disconnect_by_data(self.window, &self);
  self.focusBefore = 0;
  self.view = nullptr;
  hostWindowGone();
  return TRUE;
}

GdkFilterReturn GtkWebViewPeer::onXEvent(GdkXEvent* event, GdkEvent*, gpointer data) {
  // Without a compositor, what another window uncovers must be drawn again at once: GTK leaves parts of
  // a window reparented into another process's window unpainted (black) until the page next changes, so
  // the last of a series of exposures draws the whole window.
  const auto* x = static_cast<const XEvent*>(event);
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  if (x->type == Expose && x->xexpose.count == 0 && !self.gone) gtk_widget_queue_draw(self.window);
  return GDK_FILTER_CONTINUE;
}

void GtkWebViewPeer::loadHTML(const char* html, size_t size, const std::string& baseUrl) {
  if (gone) return;
  // The document is not NUL-terminated within size: WebKit takes a terminated copy.
  const std::string document(html, size);
  webkit_web_view_load_html(view, document.c_str(), baseUrl.c_str());
}

void GtkWebViewPeer::evaluate(const std::string& script, ScriptCompletion completion) {
  if (gone) {
    if (completion) completion("the web view is gone");
    return;
  }
  auto* pending = completion ? new ScriptCompletion(std::move(completion)) : nullptr;
  webkit_web_view_evaluate_javascript(view, script.data(), static_cast<gssize>(script.size()), nullptr,
                                      nullptr, nullptr, pending != nullptr ? onEvaluated : nullptr, pending);
}

void GtkWebViewPeer::place(uint64_t parentWindow, Rect frame) {
  if (gone) return;
  const int x = static_cast<int>(std::lround(frame.x));
  const int y = static_cast<int>(std::lround(frame.y));
  const int width = std::max(1, static_cast<int>(std::lround(frame.width)));
  const int height = std::max(1, static_cast<int>(std::lround(frame.height)));
  gtk_window_resize(GTK_WINDOW(window), width, height);
  if (parentWindow == parent) {
    if (parent != 0)
      trapped(window, [&](Display* display) { XMoveResizeWindow(display, xWindow(), x, y, width, height); });
    return;
  }
  if (parentWindow == 0) {
    gtk_widget_hide(window);
    parent = 0;
    return;
  }
  parent = parentWindow;
  if (!gtk_widget_get_realized(window)) {
    gtk_widget_realize(window);
    gdk_window_add_filter(gtk_widget_get_window(window), onXEvent, this);
  }
  trapped(window, [&](Display* display) {
    XReparentWindow(display, xWindow(), static_cast<::Window>(parent), x, y);
    XMoveResizeWindow(display, xWindow(), x, y, width, height);
  });
  if (!hidden) show();
}

void GtkWebViewPeer::show() {
  trapped(window, [this](Display*) { gtk_widget_show_all(window); });
}

void GtkWebViewPeer::setHidden(bool hide) {
  hidden = hide;
  if (gone) return;
  if (hidden)
    trapped(window, [this](Display*) { gtk_widget_hide(window); });
  else if (parent != 0)
    show();
}

void GtkWebViewPeer::setZoom(double zoom) {
  if (gone) return;
  webkit_web_view_set_zoom_level(view, zoom);
}

void GtkWebViewPeer::setKeyboardFocus(bool focused) {
  if (gone) return;
  if (focused && parent != 0 && !hidden) {
    // Under a window manager the host's top-level holds the X11 focus: the page takes it while it asks
    // for keys, and gives it back afterwards.
    trapped(window, [this](Display* display) {
      ::Window current = 0;
      int revert = 0;
      XGetInputFocus(display, &current, &revert);
      if (current != xWindow()) focusBefore = current;
      XSetInputFocus(display, xWindow(), RevertToParent, CurrentTime);
    });
    gtk_widget_grab_focus(GTK_WIDGET(view));
  } else if (!focused && focusBefore != 0) {
    trapped(window, [this](Display* display) {
      XSetInputFocus(display, static_cast<::Window>(focusBefore), RevertToParent, CurrentTime);
    });
    focusBefore = 0;
  }
}

void GtkWebViewPeer::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                     gpointer data) {
  const auto* channel = static_cast<Channel*>(data);
  char* json = jsc_value_to_json(webkit_javascript_result_get_js_value(result), 0);
  const std::string body = json != nullptr ? json : "null";
  g_free(json);
  channel->peer->owner.postMessage(channel->name, body);
}

void GtkWebViewPeer::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  if (self.cover != nullptr && self.coverSource == 0) {
    webkit_web_view_call_async_javascript_function(self.view, kDrawnProbe, -1, nullptr, nullptr, nullptr,
                                                   self.coverWait, onPageDrawn, &self);
    self.coverSource = g_timeout_add(kLongestCoverMs, onCoverDue, &self);
  }
  self.owner.finishNavigation();
}

void GtkWebViewPeer::onPageDrawn(GObject* source, GAsyncResult* result, gpointer data) {
  GError* error = nullptr;
  if (JSCValue* value =
          webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error))
    g_object_unref(value);
  // Cancelled: the peer is gone.
  const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (error != nullptr) g_error_free(error);
  if (!cancelled) static_cast<GtkWebViewPeer*>(data)->removeCover();
}

gboolean GtkWebViewPeer::onCoverDue(gpointer data) {
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  self.coverSource = 0;
  self.removeCover();
  return G_SOURCE_REMOVE;
}

void GtkWebViewPeer::removeCover() {
  if (coverSource != 0) g_source_remove(coverSource);
  coverSource = 0;
  if (cover != nullptr) gtk_widget_destroy(cover);
  cover = nullptr;
}

gboolean GtkWebViewPeer::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data) {
  static_cast<GtkWebViewPeer*>(data)->owner.failNavigation();
  return FALSE;
}

void GtkWebViewPeer::onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                         gpointer data) {
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  if (self.reloadSource != 0) return;
  const uint64_t waitMs = self.reloads.afterDeath(static_cast<uint64_t>(g_get_monotonic_time() / 1000));
  log(std::string("tavrin: the editor page's content process ") +
      (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "went over its memory limit" : "crashed") +
      "; the page loads again in " + std::to_string(waitMs) + " ms");
  if (waitMs == 0)
    self.owner.terminateContentProcess();
  else
    self.reloadSource = g_timeout_add(static_cast<guint>(waitMs), onReloadDue, &self);
}

gboolean GtkWebViewPeer::onReloadDue(gpointer data) {
  auto& self = *static_cast<GtkWebViewPeer*>(data);
  self.reloadSource = 0;
  self.owner.terminateContentProcess();
  return G_SOURCE_REMOVE;
}

}  // namespace platform
