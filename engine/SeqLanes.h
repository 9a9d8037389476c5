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
struct SeqLanes {
  std::array<SeqLane, kSeqLanes> lanes;
  std::atomic<int32_t> lane1Target{0};
  std::atomic<bool> latchRestorePending{false};
  std::array<std::atomic<bool>, kSeqTiedLanes> latchedEditBroke{};
  std::array<bool, kSeqTiedLanes> laneMorph{};  // the lane's steps morph between the poles this block
  double polePosition{0.0};                     // the morph position 0..1
};
