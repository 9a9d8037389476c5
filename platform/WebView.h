// A web view that shows one HTML document. Under a native window system a peer (the platform's web view)
// shows the document and runs the scripts, and calls the post and finish functions for the document's
// side. Without one there is no script engine behind it: every document and script handed to it is
// recorded, a script's completion waits until completeScripts is called, and the document's side of the
// conversation (script messages, finished loads, a crashed content process) is played by the caller, as a
// test would.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformView.h"

namespace platform {

class WebView;

// A message that the document posted to a named handler: the web view it came from and its body as
// JSON text (the document's value in JSON form).
struct ScriptMessage {
  WebView* webView = nullptr;
  std::string name;
  std::string bodyJson;
};

class ScriptMessageHandler {
public:
  virtual ~ScriptMessageHandler() = default;
  virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
};

class NavigationDelegate {
public:
  virtual ~NavigationDelegate() = default;
  virtual void didFinishNavigation(WebView& webView) = 0;
  virtual void didFailNavigation(WebView& webView) = 0;
  virtual void webContentProcessDidTerminate(WebView& webView) = 0;
};

// The script-message handlers of a web view by name; the controller keeps them alive.
class UserContentController {
public:
  void addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler, const std::string& name);
  void removeScriptMessageHandler(const std::string& name);
  std::shared_ptr<ScriptMessageHandler> handler(const std::string& name) const;
  std::vector<std::string> handlerNames() const;

private:
  std::map<std::string, std::shared_ptr<ScriptMessageHandler>> handlersByName;
};

struct WebViewConfiguration {
  std::shared_ptr<UserContentController> userContentController = std::make_shared<UserContentController>();
};

// Called once a script has run: with the error text when it failed.
using ScriptCompletion = std::function<void(const std::optional<std::string>& error)>;

// The platform's web view behind a WebView. It reports the document's side through the WebView's post
// and finish functions; the handler names are those of the configuration at construction.
class WebViewPeer {
public:
  virtual ~WebViewPeer() = default;
  virtual void loadHTML(const char* html, size_t size, const std::string& baseUrl) = 0;
  virtual void evaluate(const std::string& script, ScriptCompletion completion) = 0;
  // Puts the view into the native window parentWindow (0: out of every window) at frame.
  virtual void place(uint64_t parentWindow, Rect frame) = 0;
  virtual void setHidden(bool hidden) = 0;
  virtual void setZoom(double zoom) = 0;
  // Takes the keyboard focus from the host's window, or gives it back.
  virtual void setKeyboardFocus(bool focused) = 0;
};

class WebView : public View {
public:
  // The installed window system supplies the peer, if it has one.
  WebView(Rect frame, WebViewConfiguration configuration);
  ~WebView() override;

  const WebViewConfiguration& configuration() const { return config; }

  // Not owned: the delegate must outlive the web view or be replaced first.
  void setNavigationDelegate(NavigationDelegate* delegate) { navDelegate = delegate; }
  NavigationDelegate* navigationDelegate() const { return navDelegate; }
  void setDrawsBackground(bool draws) { paintsBackground = draws; }
  bool drawsBackground() const { return paintsBackground; }
  void setHidden(bool hidden);
  bool hidden() const { return isHidden; }
  // Scales the page (1 shows it at its own size).
  void setPageZoom(double zoom);
  double pageZoom() const { return zoomFactor; }
  // Takes the keyboard focus while the page asks for keys, and gives it back to the host's window.
  void setKeyboardFocus(bool focused);

  // Starts loading a document: size bytes of UTF-8 HTML, relative links resolved against baseUrl.
  void loadHTMLString(const char* html, size_t size, const std::string& baseUrl);
  // Runs script in the document; completion, when given, is called once it ran (by completeScripts
  // without a peer).
  void evaluateJavaScript(const std::string& script, ScriptCompletion completion = nullptr);

  // What a view without a peer was given: the documents loaded (each load counts) and every script in
  // order.
  struct LoadedDocument {
    std::string html;
    std::string baseUrl;
  };
  const std::vector<LoadedDocument>& loads() const { return loadedDocuments; }
  const std::vector<std::string>& scripts() const { return scriptLog; }
  void clearScripts() { scriptLog.clear(); }
  size_t pendingCompletions() const { return waitingCompletions.size(); }

  // The document's side. A message goes to the handler registered under name (dropped when there is
  // none); the navigation events go to the navigation delegate.
  void postMessage(const std::string& name, const std::string& bodyJson);
  void finishNavigation();
  void failNavigation();
  void terminateContentProcess();
  // Ends every script waiting for its completion, in order, with error (none for success).
  void completeScripts(const std::optional<std::string>& error = std::nullopt);

  void viewDidMoveToSuperview() override;
  void frameDidChange() override;

private:
  void placePeer();

  WebViewConfiguration config;
  NavigationDelegate* navDelegate = nullptr;
  bool paintsBackground = true;
  bool isHidden = false;
  double zoomFactor = 1.0;
  std::unique_ptr<WebViewPeer> peer;
  std::vector<LoadedDocument> loadedDocuments;
  std::vector<std::string> scriptLog;
  std::vector<ScriptCompletion> waitingCompletions;
};

}  // namespace platform
