// The private part of PluginEditor: the platform objects it owns and the push state of its timer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorPush.h"
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
  std::function<ControllerMapView()> controllerMap;
  std::function<std::vector<std::string>()> syncSource;
  std::vector<std::string> startState;  // what the document loaded last started with
  bool hidden = false;
  double pageZoom = 1.0;

  // Engine-value push, callbacks and sync
  PushState push;  // what the page was sent last
  // True while a batch is being evaluated; its completion keeps the bool alive after the editor is gone.
  std::shared_ptr<bool> busy = std::make_shared<bool>(false);
};
