// The editor's side of the push: the timer's tick, the scripts it evaluates, and the resets that make the
// next tick send everything again.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "editor/EditorPush.h"
#include "editor/EditorSync.h"
#include "editor/PluginEditor.h"
#include "editor/PluginEditorImpl.h"

void PluginEditor::setGuiPollData(GuiPollData* data) {
  impl->pollData = data;
}

void PluginEditor::setControllerMapSource(std::function<ControllerMapView()> source) {
  impl->controllerMap = std::move(source);
}

// Script errors of the page are swallowed: its receivers are guarded, and nothing is retried.
void PluginEditor::evaluateJS(const char* script) {
  if (impl->webView && script != nullptr) impl->webView->evaluateJavaScript(script);
}

void PluginEditor::setParamNormalized(const char* id, double value) {
  if (!impl->webView || id == nullptr) return;
  impl->webView->evaluateJavaScript(setParamScript(id, value));
}

void PluginEditor::resetPollDeltaTracking() {
  impl->push.primed = false;
  // A batch lost with the old page no longer blocks the timer; its late completion clears the old bool.
  impl->busy = std::make_shared<bool>(false);
}

void PluginEditor::resetPushMirrorsForReady() {
  impl->push.primed = false;
  impl->push.lastTuningVersion = PushState::kResendTuning;
}

void PluginEditor::resetTuningVersionTracking() {
  impl->push.lastTuningVersion = PushState::kResendTuning;
}

void PluginEditor::pollTick() {
  if (!impl->webView || impl->pollData == nullptr || *impl->busy) return;
  std::optional<ControllerMapView> controllers;
  if (impl->controllerMap) controllers = impl->controllerMap();
  const PushScripts scripts =
      buildPushScripts(*impl->pollData, impl->push, controllers ? &*controllers : nullptr);
  if (!scripts.tuning.empty()) impl->webView->evaluateJavaScript(scripts.tuning);
  if (scripts.batch.empty()) return;
  *impl->busy = true;
  impl->webView->evaluateJavaScript(
      scripts.batch, [busy = impl->busy](const std::optional<std::string>&) { *busy = false; });
}
