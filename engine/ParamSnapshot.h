// One captured sound (a morph pole or a kit slot), the rules by which the morph blends two of them, and
// the keys an edit is folded into them by.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "engine/ParamTable.h"

// A captured sound: plain parameter values with a captured flag each, and the first two sequencer lanes
// (steps, ties, count, lane 1's target) with the lane settings the rebase keys name. Fields that were
// not captured hold the empty values below (-1 for the locks, runs, divisions and rates). Holds no
// pointers: it is copied whole between threads.
struct ParamSnapshot {
  static constexpr int kSeqLanes = 2;       // lanes 0 (ratio) and 1 (selectable target)
  static constexpr int kSeqMorphSteps = 8;  // steps of a lane
  static constexpr uint32_t kMaxSeq1Target = 4;

  std::array<double, kNumParams> value{};                               // plain values by id
  std::array<bool, kNumParams> has{};                                   // the parameter was captured
  bool valid{false};                                                    // the snapshot holds a capture
  std::array<std::array<float, kSeqMorphSteps>, kSeqLanes> seqSteps{};  // 0..1
  std::array<std::array<uint8_t, kSeqMorphSteps>, kSeqLanes> seqTies{};
  std::array<uint32_t, kSeqLanes> seqStepCount{};  // 0..8
  uint32_t seq1Target{0};                          // 0..4
  std::array<bool, kSeqLanes> seqLaneCaptured{};
  int32_t lockA{-1};  // filter A / B cutoff lock (0 or 1), -1 when absent
  int32_t lockB{-1};
  std::array<float, kSeqLanes> seqRate{-1.0f, -1.0f};  // free-running rate in Hz, -1 when absent
  std::array<int32_t, kSeqLanes> seqRun{-1, -1};       // run mode, -1 when absent
  std::array<int32_t, kSeqLanes> seqDiv{-1, -1};       // sync division, -1 when absent
  uint64_t captureSeq{0};                              // capture sequence number of the last capture or fold

  void clear() { *this = ParamSnapshot{}; }
};

static_assert(std::is_trivially_copyable_v<ParamSnapshot>);

// Rebase keys: 0..118 are parameter ids; the rest name the lock and lane settings a snapshot keeps.
inline constexpr uint32_t kRebaseKeyLockA = 119;
inline constexpr uint32_t kRebaseKeyLockB = 120;
inline constexpr uint32_t kRebaseKeySeqRate = 121;  // + lane (0, 1)
inline constexpr uint32_t kRebaseKeySeqRun = 123;   // + lane
inline constexpr uint32_t kRebaseKeySeqDiv = 125;   // + lane
inline constexpr uint32_t kNumRebaseKeys = 127;

// Morph rules by parameter id (false for ids outside the table).
bool isMorphExcludedParam(uint32_t id);  // never morphed: keeps its own value
bool isDiscreteMorphParam(uint32_t id);  // switches from pole A to pole B at the middle
bool isLogMorphParam(uint32_t id);       // blends geometrically
bool isMorphInputExempt(uint32_t id);    // an edit never rebases

// The morph of one parameter between pole values a and b at position t (0 = A, 1 = B): a when they are
// equal; else a discrete id switches at t = 0.5, a logarithmic one with both values positive and finite
// blends geometrically, and every other blends linearly.
double morphParamValue(uint32_t id, double a, double b, double t);

// The two snapshots hold equal values for a rebase key; false for keys outside 0..126.
bool slotEqual(const ParamSnapshot& a, const ParamSnapshot& b, uint32_t key);

// Every parameter not captured takes its default and counts as captured.
void completeSnapshotDefaults(ParamSnapshot& s);

// Makes a snapshot from outside safe to play: a parameter value that is not finite is dropped (not
// captured), the others are clamped to their ranges; lane steps become finite 0..1, ties 0 or 1, step
// counts at most 8, lane 1's target at most 4, and a rate that is not finite is absent.
void sanitizeSnapshot(ParamSnapshot& s);
