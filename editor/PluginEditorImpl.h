// The private part of PluginEditor: the platform objects it owns and the push state of its timer.
#pragma once

#include <cstdint>
#include <memory>

#include "editor/MlibMessageHandler.h"
#include "editor/MlibWebView.h"
#include "editor/PluginEditor.h"
#include "platform/DispatchQueue.h"

struct PluginEditor::Impl {
  // Members are released in reverse order: the push state first, then timer, handler and web view.
  std::shared_ptr<MlibWebView> webView;  // null while no view exists
  std::shared_ptr<MlibMessageHandler> handler;
  std::shared_ptr<platform::DispatchTimer> timer;  // the push timer while the view exists
  GuiPollData* pollData = nullptr;                 // not owned

  // Engine-value push, callbacks and sync
};
