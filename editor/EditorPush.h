// The editor's 30 Hz push of engine values: what was sent last, and the scripts that send the page only
// what moved since (meters, LFOs, lanes, envelopes, modulation positions, lamps, the kit playhead, the
// tuning and every parameter changed outside the page).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "editor/ControllerMapView.h"
#include "editor/GuiPollData.h"
#include "engine/ParamTable.h"
#include "tuning/LocalTuning.h"

// The values of the last batch sent to the page. Main thread only.
struct PollSnapshot {
  float voice[GuiPollData::kNumVoices]{};
  bool mts{false};
  bool limiter{false};
  float lfo[4]{};
  int32_t seqStep[kSeqLanes]{};
  bool seqActive[kSeqTiedLanes]{};
  int32_t seqCount[kSeqTiedLanes]{};
  float seqValues[kSeqTiedLanes][kSeqSteps]{};
  uint32_t kitPlayhead{0};
  float levels[4]{};
  float keyTrack[2]{};
  float modPos[2]{};
  float oscModPos[GuiPollData::kNumOscModPositions]{};
  float env1Value{0.0f};
  float env1Pos{0.0f};
  int32_t env1Stage{0};
  float env2Value{0.0f};
  float env2Pos{0.0f};
  int32_t env2Stage{0};
  float note{0.0f};
  float velocity{0.0f};
};

// What the push remembers between ticks: the mirror, whether the page has had every group since it
// loaded, and the tuning version it was last sent (kResendTuning sends the tuning at the next tick).
struct PushState {
  static constexpr uint32_t kResendTuning = 0xFFFFFFFF;

  PollSnapshot mirror;
  ControllerMapView controllers;
  bool primed{false};
  uint32_t lastTuningVersion{0};

  void clear() { *this = PushState{}; }
};

// The scripts of one tick; an empty text is not evaluated. The tuning script goes first.
struct PushScripts {
  std::string tuning;
  std::string batch;
};

// The canonical name of each parameter id (its first row in the parameter name map).
extern const std::array<const char*, kNumParams> kParamNames;

// A float value moved when its difference from the one last sent is above 0.0001.
bool pollMoved(float a, float b);

// One tick: the value groups that moved (all of them while not primed), the controller map when one is
// given and it differs from the one sent last, then the parameters the engine and the host changed,
// whose flags are taken. Marks the state primed. Non-finite values are sent as 0.
PushScripts buildPushScripts(GuiPollData& poll, PushState& state,
                             const ControllerMapView* controllers = nullptr);

// "mlibSetControllerMap" with {map: [[controller, parameter], ...] for every mapped controller in
// controller order, learn: the parameter learn waits for or -1}.
std::string controllerMapScript(const ControllerMapView& controllers);

// The tuning statement when the published version differs from lastTuningVersion, which then takes it;
// empty when nothing changed, or when the audio thread published again while the fields were copied
// (the next tick retries).
std::string takeTuningScript(const GuiPollData& poll, uint32_t& lastTuningVersion);

// "try{...mlibSetTuningData(...)}catch(e){}" for a tuning summary: null without a valid one; else its
// intervals, the labels (only digits, "/" and "." of each) when withLabels, period, scale size, name and
// source ('mts', the encoded "file:" + name for a local tuning, or null).
std::string tuningDataScript(const TuningSnapshot& tuning, bool withLabels);

// Appends printf-formatted text; numbers take a full stop whatever the process locale.
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
