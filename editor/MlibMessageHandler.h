// The native end of the editor bridge: receives every message that the editor document posts to the
// handler "mlib" and dispatches it by name (MessageDispatch.cpp), and follows the web view's page loads.
#pragma once

#include "platform/WebView.h"

class PluginEditor;
struct cJSON;

class MlibMessageHandler : public platform::ScriptMessageHandler, public platform::NavigationDelegate {
public:
  static constexpr const char* kHandlerName = "mlib";

  bool ranInitialLoad = false;     // a page load has finished
  PluginEditor* editor = nullptr;  // not owned; set once when the view is built

  // Handles the message; anything thrown on the way is caught and logged, and the message then has no
  // further effect.
  void didReceiveScriptMessage(const platform::ScriptMessage& message) override;
  // The dispatcher: body is the message's value in JSON form; anything that is not an object with a
  // name is ignored. May throw (MessageError for values of the wrong kind).
  void handleScriptMessage(platform::WebView& webView, const cJSON* body);

  void didFinishNavigation(platform::WebView& webView) override;
  void didFailNavigation(platform::WebView&) override {}
  // A crashed page is loaded again into the same view.
  void webContentProcessDidTerminate(platform::WebView& webView) override;
};

// Loads the editor's document into webView.
void loadEditorDocument(platform::WebView& webView, PluginEditor& editor);
