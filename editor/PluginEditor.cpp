#include "editor/PluginEditor.h"

#include "editor/EditorResources.h"
#include "editor/EditorSync.h"
#include "editor/PluginEditorImpl.h"
#include "state/PresetLibrary.h"

namespace {

constexpr uint64_t kPushIntervalNs = 33'333'333;  // about 30 ticks a second
constexpr uint64_t kPushLeewayNs = 16'666'666;
// Pixel density used until the view's window says otherwise (also when it has no window yet).
constexpr double kFallbackContentsScale = 2.0;
// The document crosses to the editor's helper in one message: a start state longer than this (a huge view
// state) stays out of it, and the page has it from the sync that answers "__ready".
constexpr size_t kLongestStartStateBytes = 1u << 20;

size_t totalSize(const std::vector<std::string>& scripts) {
  size_t bytes = 0;
  for (const std::string& script : scripts) bytes += script.size();
  return bytes;
}

}  // namespace

PluginEditor::PluginEditor() : impl(std::make_unique<Impl>()) {}

PluginEditor::~PluginEditor() {
  destroyPlatformView();
}

void PluginEditor::createPlatformView(void* parentView) {
  if (impl->webView) return;
  auto* parent = static_cast<platform::View*>(parentView);

  impl->handler = std::make_shared<MlibMessageHandler>();
  impl->handler->editor = this;
  platform::WebViewConfiguration configuration;
  configuration.userContentController->addScriptMessageHandler(impl->handler,
                                                               MlibMessageHandler::kHandlerName);
  impl->webView =
      std::make_shared<MlibWebView>(parent != nullptr ? parent->bounds() : platform::Rect{}, configuration);
  MlibWebView& view = *impl->webView;
  view.autoresizingMask = platform::View::kWidthSizable | platform::View::kHeightSizable;
  view.setNavigationDelegate(impl->handler.get());
  view.wantsLayer = true;
  const platform::Window* window = parent != nullptr ? parent->window() : nullptr;
  const double scale = window != nullptr ? window->backingScaleFactor() : 0.0;
  view.layerContentsScale = scale < 1.0 ? kFallbackContentsScale : scale;
  view.setDrawsBackground(false);
  view.setHidden(impl->hidden);
  view.setPageZoom(impl->pageZoom);
  loadEditorDocument(view, *this);
  if (parent != nullptr) parent->addSubview(impl->webView);

  ensurePresetFolders();

  if (impl->pollData != nullptr) {
    impl->timer = platform::mainQueue().makeTimer(kPushIntervalNs, kPushLeewayNs, [this] { pollTick(); });
    impl->timer->resume();
  }
}

void PluginEditor::destroyPlatformView() {
  if (impl->timer) {
    impl->timer->cancel();
    impl->timer.reset();
  }
  if (impl->webView) {
    // Replies still queued for the web view may keep it alive: it must no longer reach this editor.
    impl->webView->configuration().userContentController->removeScriptMessageHandler(
        MlibMessageHandler::kHandlerName);
    impl->webView->setNavigationDelegate(nullptr);
    impl->webView->removeFromSuperview();
    impl->webView.reset();
    impl->handler.reset();
  }
}

void PluginEditor::resizePlatformView(int width, int height) {
  if (impl->webView)
    impl->webView->setFrame({0.0, 0.0, static_cast<double>(width), static_cast<double>(height)});
}

void PluginEditor::setPlatformViewHidden(bool hidden) {
  impl->hidden = hidden;
  if (impl->webView) impl->webView->setHidden(hidden);
}

void PluginEditor::setPageZoom(double zoom) {
  impl->pageZoom = zoom;
  if (impl->webView) impl->webView->setPageZoom(zoom);
}

MlibWebView* PluginEditor::webView() const {
  return impl->webView.get();
}

void PluginEditor::setSyncSource(std::function<std::vector<std::string>()> source) {
  impl->syncSource = std::move(source);
}

std::string PluginEditor::startDocument() {
  impl->startState.clear();
  if (impl->syncSource) impl->startState = impl->syncSource();
  if (totalSize(impl->startState) > kLongestStartStateBytes) impl->startState.clear();
  return documentWithStartState({resources::ui_html, resources::ui_html_size}, impl->startState);
}

bool PluginEditor::takeStartState(const std::vector<std::string>& scripts) {
  const bool same = !impl->startState.empty() && impl->startState == scripts;
  impl->startState.clear();
  return same;
}
