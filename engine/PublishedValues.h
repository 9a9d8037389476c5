// The values the engine publishes for the editor, and the engine-wide flags the editor sets.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/voice/EnvelopeModels.h"

// The audio thread overwrites each published value every block with a relaxed store; readers load it
// relaxed and may see values of different blocks side by side. The flags are written by the main thread
// (editor callbacks, state load), relaxed except the three that guard other data (UI restoring: release
// and acquire; the ratio-selection request: release-stored, taken by an exchange).
struct PublishedValues {
  // Modulated positions 0..1 of the targets before the cutoffs, in the engine's modulation-target order
  // (the cutoffs' positions come from their smoothed rows).
  static constexpr int kNumModPositions = 7;

  // One envelope's display: level 0..1, stage (6 idle) and progress 0..1 within the stage.
  struct EnvPlayhead {
    std::atomic<float> value{0.0f};
    std::atomic<int32_t> stage{kEnvIdle};
    std::atomic<float> pos{0.0f};

    void show(const EnvWrap& env) {
      value.store(env.displayLevel, std::memory_order_relaxed);
      stage.store(env.displayStage, std::memory_order_relaxed);
      pos.store(env.displayProgress, std::memory_order_relaxed);
    }
    void showIdle() {
      value.store(0.0f, std::memory_order_relaxed);
      stage.store(kEnvIdle, std::memory_order_relaxed);
      pos.store(0.0f, std::memory_order_relaxed);
    }
  };

  // Audio thread: LFO index (0, 1) after its block: output, position in its cycle 0..1, pattern.
  void publishLfo(int index, float output, float cyclePos, int32_t pattern) {
    lfoOutput[index].store(output, std::memory_order_relaxed);
    lfoCyclePos[index].store(cyclePos, std::memory_order_relaxed);
    lfoPattern[index].store(pattern, std::memory_order_relaxed);
  }
  // Audio thread: the followed voice's envelopes, note and velocity, or idle when none is followed.
  void publishEnvelopes(const EnvWrap& env1, const EnvWrap& env2, float note, float velocity) {
    env1Play.show(env1);
    env2Play.show(env2);
    envPlayNote.store(note, std::memory_order_relaxed);
    envPlayVel.store(velocity, std::memory_order_relaxed);
  }
  void publishEnvelopesIdle() {
    env1Play.showIdle();
    env2Play.showIdle();
    envPlayNote.store(-1.0f, std::memory_order_relaxed);
    envPlayVel.store(0.0f, std::memory_order_relaxed);
  }

  // Main thread: turning a lock on asks for the ratio selection to be rebuilt from the tuning. The
  // cutoff locks: filter A for which = 0, filter B for any other value.
  void setRatioLocked(bool on) {
    ratioLockFlag.store(on, std::memory_order_relaxed);
    if (on) ratioSelectionDirty.store(true, std::memory_order_release);
  }
  void setFilterLocked(int which, bool on) {
    filterLock[which == 0 ? 0 : 1].store(on, std::memory_order_relaxed);
    if (on) ratioSelectionDirty.store(true, std::memory_order_release);
  }
  bool filterLocked(int which) const {
    return filterLock[which == 0 ? 0 : 1].load(std::memory_order_relaxed);
  }

  // Published by the audio thread.
  std::array<std::atomic<float>, 2> lfoOutput{};
  std::array<std::atomic<float>, 2> lfoCyclePos{};
  std::array<std::atomic<int32_t>, 2> lfoPattern{};
  std::atomic<float> cutoffPositionA{0.0f};
  std::atomic<float> cutoffPositionB{0.0f};
  std::array<std::atomic<float>, kNumModPositions> modPosition{};
  EnvPlayhead env1Play;
  EnvPlayhead env2Play;
  std::atomic<float> envPlayNote{-1.0f};
  std::atomic<float> envPlayVel{0.0f};
  // Written by the voice render path: the filters' key-tracking offsets and filter A's harmonic-snap
  // target (Hz, -1 when off).
  std::array<std::atomic<float>, 2> keyTrackOffset{};
  std::atomic<float> cutoffSnapTargetA{-1.0f};

  // Set by the editor and the state loader: UI state being restored, the ratio and cutoff locks with the
  // request to rebuild the ratio selection, the ratio lane's interpretation, the envelope model (true =
  // modern) and whether an editor is open.
  std::atomic<bool> uiRestoring{false};
  std::atomic<bool> ratioLockFlag{false};
  std::array<std::atomic<bool>, 2> filterLock{};
  std::atomic<bool> ratioSelectionDirty{false};
  std::atomic<bool> seqRatioAbsolute{false};
  std::atomic<bool> seqRatioRankEncoded{false};
  std::atomic<bool> envModelModern{true};  // a new sound's model; a state load sets its own
  std::atomic<bool> editorAttached{false};
};
