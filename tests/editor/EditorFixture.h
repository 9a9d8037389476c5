#pragma once
// An editor in a host window with a preset library of its own, slots that record their calls, a log
// that is read instead of printed, and platform stand-ins emptied before and after each test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/MlibWebView.h"
#include "editor/PluginEditor.h"
#include "platform/Desktop.h"
#include "platform/DispatchQueue.h"
#include "platform/PlatformLog.h"
#include "state/LibraryFixture.h"
#include "state/PresetLibrary.h"

// Every slot call as text: the slot's name and its arguments.
struct SlotRecorder {
  std::vector<std::string> calls;

  void fill(PluginEditor& editor) {
    editor.onSetValue = [this](const char* name, double value) { add("setValue", name, value); };
    editor.onUIState = [this](const char* json) { add("uiState", json); };
    editor.onSeqSteps = [this](int lane, const float* steps, int count) {
      std::string text = "seqSteps " + std::to_string(lane) + " " + std::to_string(count) + " [";
      for (int i = 0; i < 64; ++i) text += (i ? "," : "") + number(steps[i]);
      calls.push_back(text + "]");
    };
    editor.onSeqTies = [this](int lane, const unsigned char* ties, int count) {
      std::string text = "seqTies " + std::to_string(lane) + " " + std::to_string(count) + " ";
      for (int i = 0; i < 8; ++i) text += std::to_string(ties[i]);
      calls.push_back(text);
    };
    editor.onRatioSelection = [this](const int* degrees, const int* octaves, int count) {
      std::string text = "ratioSelection " + std::to_string(count);
      for (int i = 0; i < count; ++i)
        text += " " + std::to_string(degrees[i]) + "/" + std::to_string(octaves[i]);
      calls.push_back(text);
    };
    editor.onLoadTuning = [this](const char* name, const char* text, size_t length) {
      add("loadTuning", name, std::string(text, length));
      return true;
    };
    editor.onClearTuning = [this] { calls.push_back("clearTuning"); };
    editor.onTuningEmbed = [this](const char* name, double period, const double* intervals, int count,
                                  const char* const* labels) {
      std::string text =
          "tuningEmbed " + std::string(name) + " " + number(period) + " " + std::to_string(count);
      for (int i = 0; i < 64; ++i) text += (i ? "," : " [") + number(intervals[i]);
      text += "]";
      if (labels == nullptr) text += " nolabels";
      for (int i = 0; labels != nullptr && i < count; ++i) text += std::string(" '") + labels[i] + "'";
      calls.push_back(text);
    };
    editor.onSnapshot = [this](int which, const char* json) { add("snapshot", std::to_string(which), json); };
    editor.onSnapshotClear = [this](int which) { add("snapshotClear", std::to_string(which)); };
    editor.onSlotSnap = [this](int slot, int note, const char* json) {
      add("slotSnap", std::to_string(slot) + " " + std::to_string(note), json);
    };
    editor.onSlotClear = [this](int slot) { add("slotClear", std::to_string(slot)); };
    editor.onKitFile = [this](int op, const char* path) {
      add("kitFile", std::to_string(op), path);
      return FileOutcome{true, path, ""};
    };
  }

  static std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }
  void add(const char* slot, const std::string& a) { calls.push_back(std::string(slot) + " " + a); }
  void add(const char* slot, const std::string& a, const std::string& b) {
    calls.push_back(std::string(slot) + " " + a + " " + b);
  }
  void add(const char* slot, const std::string& a, double b) { add(slot, a, number(b)); }
};

// Resets the process-wide stand-ins and catches the log for the life of a test.
struct PlatformScope {
  PlatformScope() {
    platform::mainQueue().clear();
    platform::resetDesktop();
    previousSink = platform::setLogSink([this](const std::string& line) { logLines.push_back(line); });
  }
  ~PlatformScope() {
    platform::setLogSink(previousSink);
    platform::mainQueue().clear();
    platform::resetDesktop();
  }
  std::vector<std::string> logLines;
  std::function<void(const std::string&)> previousSink;
};

class EditorTest : public ::testing::Test {
protected:
  EditorTest() : home(folder.path.string()) {
    window.contentView().setFrame({0, 0, 1000, 600});
    host->setFrame({0, 0, 840, 480});
    window.contentView().addSubview(host);
    base = presetsBasePath();
    ensurePresetFolders();
  }

  // The editor with recording slots, its view built inside the host view.
  PluginEditor& open() {
    slots.fill(editor);
    editor.createPlatformView(host.get());
    return editor;
  }
  MlibWebView& view() { return *editor.webView(); }

  // Posts a message body (JSON text) from the document.
  void post(const std::string& body) { view().postMessage("mlib", body); }
  void post(const std::string& name, const std::string& valueJson) {
    post("{\"name\":\"" + name + "\",\"value\":" + valueJson + "}");
  }
  // A JSON string literal holding text (for values that are JSON text themselves).
  static std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  PlatformScope platformScope;
  TempFolder folder;
  ScopedHome home;
  fs::path base;
  platform::Window window{2.0};
  std::shared_ptr<platform::View> host = std::make_shared<platform::View>();
  SlotRecorder slots;
  PluginEditor editor;
};
