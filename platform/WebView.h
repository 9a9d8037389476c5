// A web view that shows one HTML document. There is no script engine behind it: every script handed to
// it is recorded and its completion waits until completeScripts is called, and the document's side of
// the conversation (script messages, finished loads, a crashed content process) is played by the caller
// through the post and finish functions, as a test or a host's page would.
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

private:
  std::map<std::string, std::shared_ptr<ScriptMessageHandler>> mHandlers;
};

struct WebViewConfiguration {
  std::shared_ptr<UserContentController> userContentController = std::make_shared<UserContentController>();
};

// Called once a script has run: with the error text when it failed.
using ScriptCompletion = std::function<void(const std::optional<std::string>& error)>;

class WebView : public View {
public:
  WebView(Rect frame, WebViewConfiguration configuration);

  const WebViewConfiguration& configuration() const { return mConfiguration; }

  // Not owned: the delegate must outlive the web view or be replaced first.
  void setNavigationDelegate(NavigationDelegate* delegate) { mNavigationDelegate = delegate; }
  NavigationDelegate* navigationDelegate() const { return mNavigationDelegate; }
  void setDrawsBackground(bool draws) { mDrawsBackground = draws; }
  bool drawsBackground() const { return mDrawsBackground; }

  // Starts loading a document: size bytes of UTF-8 HTML, relative links resolved against baseUrl.
  void loadHTMLString(const char* html, size_t size, const std::string& baseUrl);
  // Runs script in the document; completion, when given, is called by completeScripts.
  void evaluateJavaScript(const std::string& script, ScriptCompletion completion = nullptr);

  // What the view was given: the documents loaded (each load counts) and every script in order.
  struct LoadedDocument {
    const char* html = nullptr;
    size_t size = 0;
    std::string baseUrl;
  };
  const std::vector<LoadedDocument>& loads() const { return mLoads; }
  const std::vector<std::string>& scripts() const { return mScripts; }
  void clearScripts() { mScripts.clear(); }
  size_t pendingCompletions() const { return mCompletions.size(); }

  // The document's side. A message goes to the handler registered under name (dropped when there is
  // none); the navigation events go to the navigation delegate.
  void postMessage(const std::string& name, const std::string& bodyJson);
  void finishNavigation();
  void failNavigation();
  void terminateContentProcess();
  // Ends every script waiting for its completion, in order, with error (none for success).
  void completeScripts(const std::optional<std::string>& error = std::nullopt);

private:
  WebViewConfiguration mConfiguration;
  NavigationDelegate* mNavigationDelegate = nullptr;
  bool mDrawsBackground = true;
  std::vector<LoadedDocument> mLoads;
  std::vector<std::string> mScripts;
  std::vector<ScriptCompletion> mCompletions;
};

}  // namespace platform
