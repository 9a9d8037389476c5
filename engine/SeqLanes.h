// The engine's three sequencer lanes with what they share, and the views the lane targets and the morph
// read them through.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/SeqLane.h"

inline constexpr int32_t kSeqLastTarget = 4;        // lane 1 targets 0..4
inline constexpr int32_t kSeqTargetMorphFader = 4;  // lane 1 rests at 0 on this target, not 0.5

// One morph pole's captured lane as read in this block: step values and ties (count entries, at most
// 8 used), lane 1's target, and the free rate (-1 when absent). Empty (count 0) without a capture.
struct SeqPoleLane {
  const float* steps{nullptr};
  const uint8_t* ties{nullptr};
  uint32_t count{0};
  uint32_t target{0};
  float rate{-1.0f};
};

// A lane as the lane targets read it in one block (lanes 0 and 1). Values are lane values 0..1.
struct SeqLaneReading {
  bool read{false};     // enabled with steps: the lane acts when its step is active
  bool morphed{false};  // the values come from the two morph poles
  int step{0};          // current step mod count
  float frac{0.0f};     // progress through the step's glide, 0..1
  bool active{false};   // the step is not a rest
  bool glide{false};    // the step slides towards the next
  float value{0.0f};
  float from{0.0f};  // the glide's ends
  float to{0.0f};
  int32_t target{0};  // lane 1: the live target, or the captured one of the pole in force when morphed
};

// The three lanes and the state they share. The morph stage writes laneMorph and polePosition each
// block; state load requests the edit flags' latch restore, which the snapshot hand-over takes.
//
// The editing calls and getters: those that map lanes take 0, 1 and any other index as lane 2; the others
// ignore a lane outside their range or answer a neutral value. Setters on the main thread (editor, state
// load), getters from any thread.
struct SeqLanes {
  void setSteps(int lane, const float* steps, int n);
  void setTies(int lane, const unsigned char* ties, int n);  // lanes 0..1
  void setEnabled(int lane, bool on);
  void setTriggerKey(int lane, int key);
  void setRunMode(int lane, int mode);                      // lanes 0..2, mode clamped 0..3
  void setSyncDiv(int lane, int div);                       // lanes 0..2, clamped 0..18
  void setFreeRate(int lane, float hz);                     // lanes 0..2, clamped 0.1..50
  void setDelay(int lane, float division, int multiplier);  // lanes 0..2
  void setTarget(int lane, int target);                     // lane 1, clamped 0..4
  void setRateCommitted(int lane, float hz);                // lanes 0..1, clamped 0.1..50
  void resetRateCommitted();
  void setEditBroke(int lane, bool broke);  // lanes 0..1
  void stageLatchRestore(bool lane0, bool lane1);
  bool enabled(int lane) const;
  int triggerKey(int lane) const;
  int runMode(int lane) const;
  int syncDiv(int lane) const;
  float freeRate(int lane) const;
  int step(int lane) const;             // 0 for a bad lane
  int stepCount(int lane) const;        // 0 for a bad lane
  int delayMultiplier(int lane) const;  // 1 for a bad lane
  float delayDivision(int lane) const;  // 0 for a bad lane
  float rateCommitted(int lane) const;  // -1 for a bad lane
  bool editBroke(int lane) const;
  // Lanes 0..1: copies the active bank's values (at most max) and returns how many.
  int stepsCopy(int lane, float* out, int max) const;
  int tiesCopy(int lane, unsigned char* out, int max) const;

  // Audio thread: the lane clock at the tempo bpm and sampleRate. runFree and runSync advance lane l by
  // one block in its free or tempo-synced run mode (songPos in beats); stop is the transport's stop.
  void runFree(int l, double bpm, double sampleRate);
  void runSync(int l, double songPos, double bpm, double sampleRate);
  void stop();
  // A note-on's trigger delay check and step advance (blockClock: the engine's block count); a lane's
  // start offset still holding it; entering a step whose glide lasts durationSamples.
  bool shouldAdvance(int lane, double bpm, double sampleRate);
  void advanceStep(int lane, uint64_t blockClock, double sampleRate);
  bool offsetHolding(int lane, double bpm, double sampleRate);
  void enterStep(int lane, int step, int64_t durationSamples);
  // Lanes 0..1: the lane's value kept continuous across a change of its tie flag inside a step (phase
  // 0..1 within the step); other lanes pass value through.
  float tieReanchor(int lane, float value, bool tied, int step, float phase);

  std::array<SeqLane, kSeqLanes> lanes;
  std::atomic<int32_t> lane1Target{0};
  std::atomic<bool> latchRestorePending{false};
  std::array<std::atomic<bool>, kSeqTiedLanes> latchedEditBroke{};
  std::array<bool, kSeqTiedLanes> laneMorph{};  // the lane's steps morph between the poles this block
  double polePosition{0.0};                     // the morph position 0..1
};
