#pragma once
// The values the audio thread publishes for the editor about 30 times a second, read by the editor's
// timer on the main thread. Atomics are written and read relaxed, except the flags that cover other
// values (seqActive, hostChanged, engineChanged, tuningVersion): those are stored with release order
// after their values and read with acquire. The plain tuning fields are written before the release
// store of tuningVersion and read only after an acquire load of it shows a new version.

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/ParamTable.h"
#include "engine/PluginProcessor.h"
#include "engine/SeqLane.h"
#include "engine/voice/EnvelopeModels.h"
#include "tuning/LocalTuning.h"

struct GuiPollData {
  static constexpr int kNumVoices = PluginProcessor::kNumVoices;
  // Ratio, fold, FM, fold bias, feedback, shape and fold character.
  static constexpr int kNumOscModPositions = 7;

  std::array<std::atomic<float>, kNumVoices> voiceActivity{};  // activity meter per voice, 0..1
  std::atomic<bool> mtsConnected{false};                       // an MTS-ESP tuning source is connected
  std::atomic<bool> limiterActive{false};                      // the output limiter is reducing gain
  std::array<std::atomic<float>, 4> levels{};                  // peak left, peak right, RMS left, RMS right
  std::array<std::atomic<float>, 4> lfo{};  // LFO 1 and 2 outputs, then their cycle positions 0..1
  // Envelope playheads of the voice whose envelopes are displayed: level, display stage (0 delay ...
  // 5 release, 6 idle) and position within the stage; its note (-1 for none) and velocity.
  std::atomic<float> env1Value{0.0f};
  std::atomic<int32_t> env1Stage{kEnvIdle};
  std::atomic<float> env1Pos{0.0f};
  std::atomic<float> env2Value{0.0f};
  std::atomic<int32_t> env2Stage{kEnvIdle};
  std::atomic<float> env2Pos{0.0f};
  std::atomic<float> envNote{-1.0f};
  std::atomic<float> envVelocity{0.0f};
  // Sequencer lanes: current steps (lanes 0..2); for lanes 0 and 1 whether morphed step values are
  // shown, how many and which; the run mode of each lane.
  std::array<std::atomic<int32_t>, kSeqLanes> seqStep{};
  std::array<std::atomic<bool>, kSeqTiedLanes> seqActive{};
  std::array<std::atomic<int32_t>, kSeqTiedLanes> seqCount{};
  std::array<std::array<std::atomic<float>, kSeqSteps>, kSeqTiedLanes> seqValues{};
  std::array<std::atomic<int32_t>, kSeqLanes> seqRunMode{1, 1, 1};
  std::array<std::atomic<float>, 2> keyTrackOffset{};  // filter A, filter B
  std::array<std::atomic<float>, 2> modPos{};          // modulated cutoff A and B positions, 0..1
  // Modulated positions of ratio, fold, FM, fold bias, feedback, shape and fold character, 0..1.
  std::array<std::atomic<float>, kNumOscModPositions> oscModPos{};
  std::atomic<uint32_t> kitPlayhead{0};  // bit i: kit slot i sounded in the last block
  // The published tuning (plain fields covered by tuningVersion).
  double tuningIntervals[kMaxTuningIntervals]{};
  char tuningLabels[kMaxTuningIntervals][kTuningTextBytes]{};  // NUL-terminated
  int32_t tuningCount{0};
  double tuningPeriod{2.0};
  int32_t tuningScaleSize{12};
  char tuningName[kTuningNameBytes]{};  // NUL-terminated
  int32_t tuningSourceKind{0};          // 1 MTS-ESP master, 2 local tuning, 0 none
  bool hasTuning{false};
  std::atomic<uint32_t> tuningVersion{0};
  // Per parameter id: the host or a MIDI controller changed it (normalised value 0..1), and the engine
  // changed it itself.
  std::array<std::atomic<bool>, kNumParams> hostChanged{};
  std::array<std::atomic<float>, kNumParams> hostValue{};
  std::array<std::atomic<bool>, kNumParams> engineChanged{};
  std::array<std::atomic<float>, kNumParams> engineValue{};
};
