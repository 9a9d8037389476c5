// A WebKitGTK web view in an undecorated GTK window whose X11 window is reparented into the host's window
// (a GtkPlug would take the host down when the host destroys its window first).
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/RestartBackoff.h"
#include "platform/WebView.h"

namespace platform {

class GtkWebViewPeer : public WebViewPeer {
public:
  explicit GtkWebViewPeer(WebView& webView);
  ~GtkWebViewPeer() override;
  GtkWebViewPeer(const GtkWebViewPeer&) = delete;
  GtkWebViewPeer& operator=(const GtkWebViewPeer&) = delete;

  void loadHTML(const char* html, size_t size, const std::string& baseUrl) override;
  void evaluate(const std::string& script, ScriptCompletion completion) override;
  void place(uint64_t parentWindow, Rect frame) override;
  void setHidden(bool hidden) override;
  void setZoom(double zoom) override;
  void setKeyboardFocus(bool focused) override;

private:
  // One script-message handler name registered with WebKit.
  struct Channel {
    GtkWebViewPeer* peer;
    std::string name;
  };

  static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data);
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);
  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data);
  static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data);
  static gboolean onReloadDue(gpointer data);
  static gboolean onWindowDestroyed(GtkWidget*, GdkEvent*, gpointer data);
  static GdkFilterReturn onXEvent(GdkXEvent* event, GdkEvent*, gpointer data);
  static void onPageDrawn(GObject* source, GAsyncResult* result, gpointer data);
  static gboolean onCoverDue(gpointer data);
  void removeCover();
  unsigned long xWindow() const;
  void show();

  WebView& owner;
  GtkWidget* window = nullptr;  // our reference; GTK's own goes with gtk_widget_destroy
  WebKitWebView* view = nullptr;
  WebKitUserContentManager* content = nullptr;
  std::vector<std::unique_ptr<Channel>> channels;
  uint64_t parent = 0;  // the host's X11 window while embedded
  bool hidden = false;
  bool gone = false;  // the host destroyed the window our window lived in
  // Reloads after the content process died.
  guint reloadSource = 0;
  RestartBackoff reloads;
  unsigned long focusBefore = 0;  // the X11 focus window the page took the keyboard from
  // Hides the page until it has drawn at its size after the first load (owned by the window).
  GtkWidget* cover = nullptr;
  guint coverSource = 0;
  GCancellable* coverWait = g_cancellable_new();
};

}  // namespace platform
