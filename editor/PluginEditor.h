// The plug-in's editor: a web view showing the editor document inside the host's view, the bridge that
// receives the document's messages, and the callback slots through which those messages reach the
// engine. The editor knows nothing of the engine: the plug-in fills the slots. Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/FileOutcome.h"

struct ControllerMapView;
struct GuiPollData;
class MlibWebView;

class PluginEditor {
public:
  // Callback slots 0-12, called by the bridge; a slot left empty drops its messages. Strings live only
  // for the call.
  std::function<void(const char* name, double value)> onSetValue;                           // 0
  std::function<void(const char* json)> onUIState;                                          // 1
  std::function<void(int lane, const float* steps, int count)> onSeqSteps;                  // 2
  std::function<void(int lane, const unsigned char* ties, int count)> onSeqTies;            // 3
  std::function<void(const int* degrees, const int* octaves, int count)> onRatioSelection;  // 4
  std::function<bool(const char* name, const char* text, size_t length)> onLoadTuning;  // 5: false: no Scala
  std::function<void()> onClearTuning;                                                  // 6
  // labels: count texts, or null.
  std::function<void(const char* name, double period, const double* intervals, int count,
                     const char* const* labels)>
      onTuningEmbed;                                                     // 7
  std::function<void(int which, const char* json)> onSnapshot;           // 8: which 0 = A, 1 = B
  std::function<void(int which)> onSnapshotClear;                        // 9
  std::function<void(int slot, int note, const char* json)> onSlotSnap;  // 10: note -1 when none given
  std::function<void(int slot)> onSlotClear;                             // 11
  std::function<FileOutcome(int op, const char* path)> onKitFile;        // 12: op 0 save, 1 load

  struct Impl;
  std::unique_ptr<Impl> impl;

  PluginEditor();
  ~PluginEditor();
  PluginEditor(const PluginEditor&) = delete;
  PluginEditor& operator=(const PluginEditor&) = delete;

  // Builds the web view inside parentView (a platform::View*, the host's view; null gives a view of no
  // size), loads the document and starts the push timer. Does nothing while a web view exists.
  void createPlatformView(void* parentView);
  // Stops the timer and takes the web view out; no message, tick or page event reaches the editor after.
  void destroyPlatformView();
  // Sets the web view's frame to (0, 0, width, height) while it exists.
  void resizePlatformView(int width, int height);
  // Hides or shows the web view and sets its page zoom, now and for a view built later.
  void setPlatformViewHidden(bool hidden);
  void setPageZoom(double zoom);
  // The web view while it exists, else null.
  MlibWebView* webView() const;

  // Engine-value push, callbacks and sync
  void setGuiPollData(GuiPollData* data);
  // Where the timer reads the controller map it shows the page; without one the map is not pushed.
  void setControllerMapSource(std::function<ControllerMapView()> source);
  // Where the editor reads the scripts that bring a page up to the engine's whole state; a document
  // loaded while one is set starts with them.
  void setSyncSource(std::function<std::vector<std::string>()> source);
  // The editor document to load: with the engine's state to start from when a sync source is set.
  std::string startDocument();
  // True when the page loaded last started with exactly these scripts and needs none of them again. Asked
  // once per load: later calls are false.
  bool takeStartState(const std::vector<std::string>& scripts);
  void evaluateJS(const char* script);
  void setParamNormalized(const char* id, double value);
  void resetPollDeltaTracking();
  void resetPushMirrorsForReady();
  void resetTuningVersionTracking();
  void pollTick();
};
