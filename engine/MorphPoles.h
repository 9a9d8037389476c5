// The two morph poles A and B: their hand-over from the main thread to the audio thread, the capture
// sequence, the rebase flags and the post-load grace, and what the morph stage publishes for the block.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/ParamSnapshot.h"
#include "engine/voice/FilterStage.h"
#include "foundation/MLHandOver.h"

// A filter's calibration blend for the block while the morph crosses two captured filter modes: the
// block's truncated mode, the poles' modes and the morph position t (0..1). Inactive when the poles'
// modes agree or the morph is off.
struct CalibModeBlend {
  int32_t mode{0};
  int32_t fromMode{0};
  int32_t toMode{0};
  float t{0.0f};
  bool active{false};

  // The blend as a filter playing filterMode takes it: active only while its mode is the block's mode
  // (a kit voice with a mode of its own plays without the blend).
  FilterCalibBlend forFilterMode(int32_t filterMode) const {
    return {active && filterMode == mode, fromMode, toMode, t};
  }
};

// What the morph stage tells the rest of the block.
struct MorphBlock {
  bool active{false};   // both live poles hold a capture
  float octaveA{0.0f};  // the poles' Octave values
  float octaveB{0.0f};
  bool octaveDiffers{false};  // active, both captured Octave and the values differ
  bool faderPastHalf{false};  // the cached Morph Fader (0..1) is 0.5 or more
  double position{0.0};       // morph position t, 0..1 (the lanes read it as their pole position)
};

// Pole state shared by the main thread and the audio thread. The main thread is the one writer of the
// staged poles: it publishes through the hand-over, and the audio thread takes a published pole into its
// live copy at the start of a block. Index 0 is pole A, 1 is pole B.
struct MorphPoles {
  static constexpr int kNumPoles = 2;
  static constexpr int32_t kPostLoadGraceCalls = 3;

  std::array<ml::HandOver<ParamSnapshot>, kNumPoles> staged;
  std::array<std::atomic<bool>, kNumPoles> present{};  // the staged pole holds a capture
  std::array<ParamSnapshot, kNumPoles> live;           // audio thread
  // captureSeq of the last hand-over or fold on the audio side, per pole.
  std::array<std::atomic<uint64_t>, kNumPoles> stamp{};
  std::atomic<uint64_t> captureCounter{0};
  // Rebase flags by key: the audio thread folds engine-fold keys into the live poles, a state save
  // folds save-fold keys into the staged poles.
  std::array<std::atomic<bool>, kNumRebaseKeys> engineFold{};
  std::array<std::atomic<bool>, kNumRebaseKeys> saveFold{};
  std::atomic<int32_t> postLoadGrace{0};

  // Audio thread: the epoch the fader last saw, whether both live poles held a capture last block, and
  // this block's morph outputs.
  uint32_t epochSeen{0};
  bool activeBefore{false};
  MorphBlock block;
  std::array<CalibModeBlend, 2> calib{};  // filter A, filter B

  static bool validPole(int i) { return i >= 0 && i < kNumPoles; }

  // Main thread. setSnapshot publishes a copy (sanitised) for the next block; clearSnapshot publishes
  // an empty one. Neither waits for a block.
  void setSnapshot(int i, const ParamSnapshot& s);
  void clearSnapshot(int i);
  bool getSnapshotCopy(int i, ParamSnapshot& out) const;
  bool hasSnapshot(int i) const;
  uint64_t engineSnapSeq(int i) const;
  bool snapshotSeqOlder(int i, uint64_t seq) const;

  // Any thread.
  uint64_t nextCaptureSeq() { return captureCounter.fetch_add(1, std::memory_order_acq_rel) + 1; }
  void rebaseParamEdit(uint32_t key);
  void clearRebasePending();
  void openPostLoadRebaseGrace() { postLoadGrace.store(kPostLoadGraceCalls, std::memory_order_release); }
  void tickPostLoadRebaseGrace();
  bool postLoadRebaseGraceActive() const { return postLoadGrace.load(std::memory_order_acquire) > 0; }

  // Audio thread: takes each published pole into its live copy and stamps it. Returns a bit per pole
  // taken (1 = A, 2 = B).
  uint32_t takePublished();
  bool bothLive() const { return live[0].valid && live[1].valid; }
};

// Takes one rebase flag: true when it was set. A plain load first spares the exchange for idle keys.
inline bool takeRebaseFlag(std::atomic<bool>& flag) {
  return flag.load(std::memory_order_relaxed) && flag.exchange(false, std::memory_order_acquire);
}
