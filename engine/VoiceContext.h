// The engine state the voice render steps read, and the places they publish to, by reference.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/ModRoutes.h"
#include "engine/PluginProcessor.h"
#include "engine/PublishedValues.h"
#include "engine/VoiceParams.h"

// What the voice steps publish: values for the editor, meters, and the release tails of retriggered
// voices.
struct VoiceOutputs {
  PublishedValues& published;
  std::atomic<uint32_t>& soundingSlotMask;  // bit s: slot s sounded in this block
  std::array<std::atomic<float>, PluginProcessor::kNumVoices>& voiceActivity;
  std::array<ReleaseVoice, PluginProcessor::kNumVoices>& releaseVoices;
  const double& sampleRate;

  // Starts a release tail of voice at pitch (a note number) and pan, offset samples into the block.
  void spawnReleaseTail(const VoiceState& voice, float pitch, float pan, int offset) const;
};

// Built once with the engine: each member refers to the engine's own state, so the steps see its values
// of the block being rendered. Nothing here is copied per block.
struct VoiceContext {
  using PP = PluginProcessor;

  const double& sampleRate;

  // Parameters, kit and tuning.
  VoiceParams params;
  const std::atomic<int32_t>& kitBaseKey;
  const std::atomic<uint32_t>& snapshotEpoch;
  TuningState& tuning;
  const std::atomic<double>& tempo;

  // Notes and pitch.
  const ml::EventsToSignals& allocator;
  const std::atomic<float>& pitchBend;
  const std::atomic<bool>& smoothGlide;
  const std::array<float, PP::kNumVoices>& voicePan;
  const DriftTargets& driftTargets;

  // The block's shared rows, last values and modulation.
  const std::array<ml::DSPVector, PP::kNumEngineRows>& engineRows;
  const std::array<ParamSmoother, PP::kNumEngineRows>& rowSmoothers;
  const std::array<float, PP::kNumEngineLasts>& engineLast;
  const std::array<ParamSmoother, PP::kNumEngineLasts>& lastSmoothers;
  const std::array<PP::ModulatedValue, PP::kNumModTargets>& modulated;
  const bool& ratioLockActive;
  const ModRoutes& routes;

  // Oscillator and filters.
  const CarrierBank& carrierBank;
  const MtsRatioSteps& ratioSteps;
  const std::array<CalibModeBlend, 2>& filterCalib;  // filter A, filter B

  VoiceOutputs out;

  double effParam(uint32_t id, const VoiceState& voice) const { return params.effParam(id, voice); }
  bool envFeelModern() const { return out.published.envModelModern.load(std::memory_order_relaxed); }
};
