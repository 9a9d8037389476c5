#include "platform/WebView.h"

#include <utility>

#include "platform/WindowSystem.h"

namespace platform {

void UserContentController::addScriptMessageHandler(std::shared_ptr<ScriptMessageHandler> handler,
                                                    const std::string& name) {
  mHandlers[name] = std::move(handler);
}

void UserContentController::removeScriptMessageHandler(const std::string& name) {
  mHandlers.erase(name);
}

std::shared_ptr<ScriptMessageHandler> UserContentController::handler(const std::string& name) const {
  const auto found = mHandlers.find(name);
  return found == mHandlers.end() ? nullptr : found->second;
}

std::vector<std::string> UserContentController::handlerNames() const {
  std::vector<std::string> names;
  for (const auto& entry : mHandlers) names.push_back(entry.first);
  return names;
}

WebView::WebView(Rect frame, WebViewConfiguration configuration)
    : View(frame), mConfiguration(std::move(configuration)) {
  if (WindowSystem* system = windowSystem()) mPeer = system->makeWebView(*this);
}

WebView::~WebView() = default;

void WebView::loadHTMLString(const char* html, size_t size, const std::string& baseUrl) {
  mLoads.push_back({html, size, baseUrl});
  if (mPeer) mPeer->loadHTML(html, size, baseUrl);
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
  if (mPeer) {
    mPeer->evaluate(script, std::move(completion));
    return;
  }
  mScripts.push_back(script);
  if (completion) mCompletions.push_back(std::move(completion));
}

void WebView::setHidden(bool hidden) {
  mHidden = hidden;
  if (mPeer) mPeer->setHidden(hidden);
}

void WebView::setPageZoom(double zoom) {
  mPageZoom = zoom;
  if (mPeer) mPeer->setZoom(zoom);
}

void WebView::setKeyboardFocus(bool focused) {
  if (mPeer) mPeer->setKeyboardFocus(focused);
}

void WebView::viewDidMoveToSuperview() {
  placePeer();
}

void WebView::frameDidChange() {
  placePeer();
}

void WebView::placePeer() {
  if (mPeer) mPeer->place(superview() != nullptr ? superview()->nativeWindow : 0, frame());
}

void WebView::postMessage(const std::string& name, const std::string& bodyJson) {
  // The handler may be removed while it handles the message: it is kept alive for the call.
  if (const auto handler = mConfiguration.userContentController->handler(name))
    handler->didReceiveScriptMessage({this, name, bodyJson});
}

void WebView::finishNavigation() {
  if (mNavigationDelegate != nullptr) mNavigationDelegate->didFinishNavigation(*this);
}

void WebView::failNavigation() {
  if (mNavigationDelegate != nullptr) mNavigationDelegate->didFailNavigation(*this);
}

void WebView::terminateContentProcess() {
  if (mNavigationDelegate != nullptr) mNavigationDelegate->webContentProcessDidTerminate(*this);
}

void WebView::completeScripts(const std::optional<std::string>& error) {
  std::vector<ScriptCompletion> completions;
  completions.swap(mCompletions);
  for (auto& completion : completions) completion(error);
}

}  // namespace platform
