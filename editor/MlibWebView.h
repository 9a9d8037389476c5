// The editor's web view. It takes key presses only while the document says that one of its text fields
// has focus, and keeps its layer's pixel density equal to its window's.
#pragma once

#include "platform/WebView.h"

class MlibWebView : public platform::WebView {
public:
  using platform::WebView::WebView;

  bool wantsKeyboard = false;  // a text field of the document has focus

  bool acceptsFirstResponder() const override { return wantsKeyboard; }
  void viewDidChangeBackingProperties() override {
    if (wantsLayer && window() != nullptr) layerContentsScale = window()->backingScaleFactor();
  }
};
