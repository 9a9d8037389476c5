// One step-sequencer lane: its double-buffered step values and ties, settings, clock position, start
// delay, glide and tie re-anchor records.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

inline constexpr int kSeqSteps = 8;             // steps a lane holds at most
inline constexpr int kSeqLanes = 3;             // lane 0 ratio, lane 1 selectable target, lane 2 display only
inline constexpr int kSeqTiedLanes = 2;         // lanes 0 and 1 carry ties, committed rates and edit flags
inline constexpr float kSeqRestLevel = 0.001f;  // a step value at or below this is a rest
inline constexpr float kSeqMinFreeRate = 0.1f;  // Hz
inline constexpr float kSeqMaxFreeRate = 50.0f;

// Run modes of a lane, as the editor labels them.
enum SeqRunMode : int32_t {
  kSeqRunFree = 0,  // "Free": free-running at the lane's rate
  kSeqRunTrig = 1,  // "Trig": played notes advance it
  kSeqRunNote = 2,  // "Note": only the trigger key advances it
  kSeqRunSync = 3,  // "Sync": locked to the song position while the host plays
};
inline constexpr int32_t kSeqLastRunMode = kSeqRunSync;

// The slide a lane makes while one step lasts: a tied step moves from its value towards the next step's
// (or the rest level) over the step's length. Values 0..1; times in samples. Audio thread only.
struct SeqGlide {
  bool tied{false};  // a glide runs
  float from{0.5f};
  float to{0.5f};
  float current{0.5f};
  int64_t duration{0};
  int64_t elapsed{0};
  int64_t lastAdvance{-1};  // engine sample clock of the last note advance, -1 = none yet

  // Moves a running glide on by `samples`; it lands on `to` at its duration.
  void advance(int64_t samples);
};

// A lane's start delay: division (beats, 0 = no delay) times multiplier, written by the main thread;
// the hold countdown in samples belongs to the audio thread. The delay arms once and re-arms only after
// a transport stop.
struct SeqLaneDelay {
  std::atomic<float> division{0.0f};
  std::atomic<int32_t> multiplier{1};
  int64_t holdSamples{0};
  bool armed{false};
  bool holding{false};

  bool active() const;
  // The delay's length in beats (division x multiplier), 0 when there is none.
  double beats() const;
  // The delay's length in samples at a tempo (120 BPM when tempo is at or below 0), saturated.
  int64_t lengthSamples(double tempo, double sampleRate) const;
  // Arms the delay: holding starts when it lasts at least one sample.
  void arm(double tempo, double sampleRate);
  void countDown(int64_t samples);
  void disarm();
};

// Keeps a step's output continuous when its tie flag changes inside the step: the jump is faded out
// over the rest of the step. Phases are 0..1 within the step. Audio thread only.
struct SeqTieReanchor {
  bool valid{false};
  int32_t step{-1};
  bool tied{false};
  float phase{0.0f};
  float lastOutput{0.0f};
  bool active{false};
  float offset{0.0f};
  float anchorPhase{0.0f};

  float apply(float value, bool tiedNow, int stepNow, float phaseNow);
};

// One lane. Step values 0..1 and ties live in two banks each: the main thread fills the inactive bank
// and release-stores the count, then the bank index; the audio thread acquires count and bank before it
// reads. Bank entries are relaxed atomics so that a reader racing a second rewrite sees whole values.
struct SeqLane {
  std::array<std::array<std::atomic<float>, kSeqSteps>, 2> values{};
  std::atomic<int32_t> activeBank{0};
  std::atomic<int32_t> count{0};  // 0..8
  std::array<std::array<std::atomic<uint8_t>, kSeqSteps>, 2> ties{};
  std::atomic<int32_t> activeTieBank{0};
  std::atomic<int32_t> step{0};  // current step, written by the audio thread
  std::atomic<bool> enabled{false};
  std::atomic<int32_t> triggerKey{-1};  // -1 = none
  std::atomic<int32_t> runMode{kSeqRunTrig};
  std::atomic<float> freeRate{1.0f};  // Hz 0.1..50
  double freePhase{0.0};              // free-running clock, cycles
  std::atomic<int32_t> syncDiv{9};    // index into kSeqSyncDivBeats
  SeqLaneDelay delay;
  int32_t lastStep{-1};  // the step last entered, -1 = none yet
  SeqGlide glide;
  std::atomic<float> committedRate{-1.0f};  // the rate the editor committed, -1 = none (lanes 0 and 1)
  std::atomic<bool> editBroke{false};       // edited since the morph poles captured it (lanes 0 and 1)
  SeqTieReanchor reanchor;

  // Main thread. Publishes n values (n clamped 0..8; each clamped 0..1, NaN as 0) unless they equal
  // the active bank already; returns whether the bank changed.
  bool writeSteps(const float* steps, int n);
  // Main thread. Publishes the flags (i < n and ties[i] != 0) unless equal to the active tie bank.
  bool writeTies(const unsigned char* ties, int n);

  int32_t countNow() const { return count.load(std::memory_order_acquire); }
  int bankNow() const { return activeBank.load(std::memory_order_acquire); }
  // A bank's value at idx (clamped to 0..7).
  float valueAt(int bank, int idx) const;
  // The active tie bank's flag at idx (clamped to 0..7).
  bool tieAt(int idx) const;
  // idx wrapped into 0..count-1 (count > 0).
  static int wrap(int idx, int count);
};
