#pragma once
// One instance of the instrument as the host sees it: the engine, the values published for the editor,
// the per-parameter flags that report edits to the host, the MIDI controller map and the side data kept
// for the state stream, on top of the host-call layer that checks and dispatches the host's calls. One
// heap allocation holds a whole instance.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "editor/ControllerMapView.h"
#include "editor/GuiPollData.h"
#include "editor/PluginEditor.h"
#include "engine/PluginProcessor.h"
#include "platform/MainThreadWake.h"
#include "platform/PlatformLog.h"
#include "platform/PlatformView.h"
#include "plugin/ParamText.h"
#include "plugin/plugin.h"

class CLAPPlugin : public clap::helpers::TavrinPluginBase {
  // The platform log's lines to the host's log while this instance lives (set at init when the host
  // offers a log). Declared first so that it goes last: the editor's and the engine's teardown may log.
  std::optional<platform::LogRoute> hostLogRoute;

public:
  static constexpr uint32_t kNumControllers = ControllerMapView::kControllers;
  static constexpr uint32_t kCcUnmapped = 0xFFFFFFFF;  // any map entry of kNumParams or more is unmapped

  explicit CLAPPlugin(const clap_host* host);

  // Audio thread: dispatches one input event. Notes and the sustain pedal take effect exactly 63 frames
  // after the frame the engine's output has reached when they are dispatched; a choke silences at once.
  void processEvent(const clap_event_header& event);
  // Dispatches events 0 .. count-1 of the queue in queue order, with no regard to their time: a flush
  // renders no audio.
  void processEvents(const clap_input_events& in, uint32_t count);

  // Main thread: the edit side of a change made in the editor. Sets parameter id to the normalised value
  // (clamped to 0..1, NaN gives 0), folds the edit into the morph poles unless the editor is restoring
  // its view, holds the parameter against host automation for 25 ms of processed
  // audio, raises its edit flag so the next scan reports it inside a gesture, and asks the host for a
  // flush when the host offers the params extension. False, and nothing changed, for an unknown id.
  bool applyEditorEdit(uint32_t id, double normalised);

  // Main thread: the kit to and from a kit file (CLAPPluginState.cpp). A load replaces the kit only
  // when the whole file is good.
  bool saveKitToFile(const char* path, std::error_code& error);
  bool loadKitFromFile(const char* path, std::string& reason);

  // Main thread: sends the page of an open editor the whole engine state (parameters, snapshot numbers,
  // UI state, kit, controller map, MTS-ESP lamps and tuning) (CLAPPluginEditorSync.cpp).
  void syncEditorToEngineState();
  // Main thread: the page reported ready. It is sent the whole engine state unless it started with that
  // same state, and the push sends every group at once.
  void answerEditorReady();
  // The controller map and the parameter learn waits for, as the editor page shows them (any thread).
  ControllerMapView controllerMapView() const;

  std::atomic<bool> editorNeedsSync{false};  // a state load waits to be shown in the editor
  PluginProcessor engine;
  GuiPollData guiPoll;
  std::atomic<uint32_t> editorWidth{840};  // editor size (points, or pixels on X11), kept in the state stream
  std::atomic<uint32_t> editorHeight{480};
  double editorScale = 1.0;        // the host's screen scale (set_scale), also the page zoom
  bool sizeFollowsScreen = false;  // the size is the default from the screen, not the host's or the state's
  // Asks the host for main-thread calls while an editor exists, which run the main queue.
  std::unique_ptr<platform::MainThreadWake> mainThreadWake;
  // The host's window as a view (X11), kept while the editor lives in it; declared before the editor.
  std::shared_ptr<platform::View> hostWindow;
  // The open editor, empty while closed. Declared after guiPoll, which it reads, so that it goes first.
  std::unique_ptr<PluginEditor> editor;
  double sampleRate = 44100.0;  // the rate given by the last activate, in Hz
  uint32_t publishCounter = 0;  // frames processed since the last publish into guiPoll
  // Per parameter id: a plug-in-side edit waits to be reported inside a gesture; frames until the
  // parameter's open edit gesture ends; a gesture-begin was sent and its end not yet; an engine-side
  // change waits to be reported.
  std::array<std::atomic<bool>, kNumParams> editDirty{};
  std::array<std::atomic<int32_t>, kNumParams> gestureCountdown{};
  std::array<bool, kNumParams> gestureActive{};
  std::array<std::atomic<bool>, kNumParams> valueDirty{};
  // A flag above was raised since the last report; gestures begun and not yet ended. A report with
  // neither has nothing to send or count down.
  std::atomic<bool> paramsToReport{false};
  uint32_t openGestures = 0;
  // MIDI controller number -> parameter id, and controller learn. Written on the main thread (editor,
  // state load) and on the audio thread (learn), hence relaxed atomics.
  std::array<std::atomic<uint32_t>, kNumControllers> ccMap;
  std::atomic<bool> ccLearnArmed{false};
  std::atomic<int32_t> ccLearnParam{-1};
  // Guards the four strings, the morph poles and the kit slots against the editor while the state and
  // kit files are written and read; never taken on the audio thread.
  std::mutex stateMutex;
  std::string uiStateJson;   // the editor document's UI-state JSON
  std::string localTuning;   // name of the local tuning
  std::string tuningFile;    // file stem of the local tuning
  std::string tuningSource;  // "file" or "embed"

protected:
  // Routes the platform log to the host's, then prepares the preset library folders and the factory bank.
  bool init() override;
  bool activate(double rate, uint32_t minFrameCount, uint32_t maxFrameCount) override;
  clap_process_status process(const clap_process* process) override;
  void reset() override { engine.resetAll(); }
  // Takes a state load's request to bring the open editor up to date (CLAPPluginEditorSync.cpp).
  void onMainThread() override;

  bool implementsLatency() const override { return true; }
  uint32_t latencyGet() const override { return engine.latencySamples(); }

  // The host state stream (CLAPPluginState.cpp): parameters, controller map, side data and kit.
  bool implementsState() const override { return true; }
  bool stateSave(const clap_ostream* stream) override;
  bool stateLoad(const clap_istream* stream) override;

  bool implementsAudioPorts() const override { return true; }
  uint32_t audioPortsCount(bool isInput) const override;
  bool audioPortsInfo(uint32_t index, bool isInput, clap_audio_port_info* info) const override;

  bool implementsNotePorts() const override { return true; }
  uint32_t notePortsCount(bool isInput) const override;
  bool notePortsInfo(uint32_t index, bool isInput, clap_note_port_info* info) const override;

  // Parameters for the host (CLAPPluginParams.cpp). Values cross the boundary normalised to 0..1.
  bool implementsParams() const override { return true; }
  uint32_t paramsCount() const override { return kNumParams; }
  bool paramsInfo(uint32_t paramIndex, clap_param_info* info) const override;
  bool paramsValue(clap_id paramId, double* value) override;
  bool paramsValueToText(clap_id paramId, double value, char* display, uint32_t size) override;
  bool paramsTextToValue(clap_id paramId, const char* display, double* value) override;
  // Takes the host's events at once, then reports pending changes. While active (audio thread) gesture
  // countdowns keep running in process; while inactive (main thread) no process will run them, so every
  // countdown ends and every open gesture is closed.
  void paramsFlush(const clap_input_events* in, const clap_output_events* out) override;

  // The editor (CLAPPluginGui.cpp): embedded in a window of the window system's API only, resizable at a
  // fixed 840:480 aspect.
  bool implementsGui() const override { return true; }
  bool guiIsApiSupported(const char* api, bool isFloating) override;
  bool guiCreate(const char* api, bool isFloating) override;
  void guiDestroy() override;
  bool guiSetScale(double scale) override;
  bool guiShow() override;
  bool guiHide() override;
  bool guiGetSize(uint32_t* width, uint32_t* height) override;
  bool guiCanResize() const override { return true; }
  bool guiGetResizeHints(clap_gui_resize_hints* hints) override;
  bool guiAdjustSize(uint32_t* width, uint32_t* height) override;
  bool guiSetSize(uint32_t width, uint32_t height) override;
  bool guiSetParent(const clap_window* window) override;

private:
  // Main thread: what the editor's window system reported and the main queue's due timers.
  void runEditorQueue();
  // The default size: the largest step of the base size times the scale that fits the screen's share.
  void applyDefaultEditorSize();
  // Fills the editor's callback slots with the calls into this plug-in, in the order 1, 8-12, 2-7, 0, and
  // gives it the sync scripts to start a page with.
  void fillEditorCallbacks(PluginEditor& target);
  // Reports plug-in-side edits inside gestures and engine-side changes as bare values, and runs every
  // gesture countdown down by `frames` (CLAPPluginParams.cpp).
  void outputDirtyParams(const clap_output_events* out, uint32_t frames);
  // Raises one of the flags above for the next report.
  void raiseParamFlag(std::atomic<bool>& flag);
  LfoSyncModes lfoSyncModes() const;
  void applyTransport(const clap_event_transport& transport);
  void publish(uint32_t frames);
  void publishTuning();
  // Sequencer lanes (CLAPPluginSequencer.cpp): a note-on's lane advance, and the published lane values.
  void triggerSequencer(int key);
  void publishSequencer();

  // Event kinds (CLAPPluginEvents.cpp).
  void handleNoteEvent(const clap_event_note& note, uint16_t type);
  void handleParamValue(const clap_event_param_value& event);
  void handleMidi(const uint8_t (&data)[3]);
  void handleController(uint32_t cc, uint32_t value);
  // The offset into the next engine block at which an event dispatched now is heard 63 frames later.
  int32_t eventOffset() const;
};
