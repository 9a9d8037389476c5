#include "platform/WebView.h"

#include <utility>

#include "platform/WindowSystem.h"

namespace platform {

void UserContentController::addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                                    const std::string& name) {
  handlersByName[name] = std::move(handler);
}

void UserContentController::removeScriptMessageHandler(const std::string& name) {
  handlersByName.erase(name);
}

std::shared_ptr<ScriptMessageHandler> UserContentController::handler(const std::string& name) const {
  const auto found = handlersByName.find(name);
  return found == handlersByName.end() ? nullptr : found->second;
}

std::vector<std::string> UserContentController::handlerNames() const {
  std::vector<std::string> names;
  for (const auto& entry : handlersByName) names.push_back(entry.first);
  return names;
}

WebView::WebView(Rect frame, WebViewConfiguration configuration)
    : View(frame), config(std::move(configuration)) {
  if (WindowSystem* system = windowSystem()) peer = system->makeWebView(*this);
}

WebView::~WebView() = default;

void WebView::loadHTMLString(const char* html, size_t size, const std::string& baseUrl) {
  if (peer)
    peer->loadHTML(html, size, baseUrl);
  else
    loadedDocuments.push_back({std::string(html, size), baseUrl});
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
  if (peer) {
    peer->evaluate(script, std::move(completion));
    return;
  }
  scriptLog.push_back(script);
  if (completion) waitingCompletions.push_back(std::move(completion));
}

void WebView::setHidden(bool hidden) {
  isHidden = hidden;
  if (peer) peer->setHidden(hidden);
}

void WebView::setPageZoom(double zoom) {
  zoomFactor = zoom;
  if (peer) peer->setZoom(zoom);
}

void WebView::setKeyboardFocus(bool focused) {
  if (peer) peer->setKeyboardFocus(focused);
}

void WebView::viewDidMoveToSuperview() {
  placePeer();
}

void WebView::frameDidChange() {
  placePeer();
}

void WebView::placePeer() {
  if (peer) peer->place(superview() != nullptr ? superview()->nativeWindow : 0, frame());
}

void WebView::postMessage(const std::string& name, const std::string& bodyJson) {
  // The handler may be removed while it handles the message: it is kept alive for the call.
  if (const auto handler = config.userContentController->handler(name))
    handler->didReceiveScriptMessage({this, name, bodyJson});
}

void WebView::finishNavigation() {
  if (navDelegate != nullptr) navDelegate->didFinishNavigation(*this);
}

void WebView::failNavigation() {
  if (navDelegate != nullptr) navDelegate->didFailNavigation(*this);
}

void WebView::terminateContentProcess() {
  if (navDelegate != nullptr) navDelegate->webContentProcessDidTerminate(*this);
}

void WebView::completeScripts(const std::optional<std::string>& error) {
  std::vector<ScriptCompletion> completions;
  completions.swap(waitingCompletions);
  for (auto& completion : completions) completion(error);
}

}  // namespace platform
