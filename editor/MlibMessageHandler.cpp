#include "editor/MlibMessageHandler.h"

#include <cjson/cJSON.h>

#include <exception>
#include <string>

#include "editor/MessageValues.h"
#include "editor/PluginEditor.h"
#include "platform/PlatformLog.h"

namespace {

constexpr const char* kDocumentBaseUrl = "file:///usr/local/share/tavrin/";

void logFailure(const std::string& name, const std::string& reason) {
  platform::log("tavrin: message handler exception: " + name + " \xE2\x80\x94 " + reason);
}

}  // namespace

void loadEditorDocument(platform::WebView& webView, PluginEditor& editor) {
  const std::string document = editor.startDocument();
  webView.loadHTMLString(document.data(), document.size(), kDocumentBaseUrl);
}

void MlibMessageHandler::didReceiveScriptMessage(const platform::ScriptMessage& message) {
  if (message.webView == nullptr) return;
  try {
    const JsonTree body(cJSON_ParseWithLength(message.bodyJson.data(), message.bodyJson.size()));
    handleScriptMessage(*message.webView, body.get());
  } catch (const MessageError& error) {
    logFailure(error.name, error.what());
  } catch (const std::exception& error) {
    logFailure("std::exception", error.what());
  } catch (...) {
    logFailure("unknown", "(no reason)");
  }
}

void MlibMessageHandler::didFinishNavigation(platform::WebView&) {
  ranInitialLoad = true;
  if (editor != nullptr) editor->resetPollDeltaTracking();
}

void MlibMessageHandler::webContentProcessDidTerminate(platform::WebView& webView) {
  if (editor != nullptr) loadEditorDocument(webView, *editor);
}
