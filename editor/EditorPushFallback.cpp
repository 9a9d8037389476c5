// Stand-in bodies of the engine-value push until the push lands (EditorPush.cpp, EditorSync.cpp): scripts
// are evaluated at once, the timer does nothing. Delete this file when those files define these.
#include "editor/PluginEditor.h"
#include "editor/PluginEditorImpl.h"

void PluginEditor::setGuiPollData(GuiPollData* data) {
  impl->pollData = data;
}

void PluginEditor::evaluateJS(const char* script) {
  if (impl->webView && script != nullptr) impl->webView->evaluateJavaScript(script);
}

void PluginEditor::setParamNormalized(const char*, double) {}
void PluginEditor::resetPollDeltaTracking() {}
void PluginEditor::resetPushMirrorsForReady() {}
void PluginEditor::resetTuningVersionTracking() {}
void PluginEditor::pollTick() {}
