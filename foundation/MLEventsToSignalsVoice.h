// One voice of the events-to-signals allocator: turns the note events it is given into output rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/MLDSPVector.h"
#include "foundation/MLEvent.h"
#include "foundation/MLEventGlides.h"

namespace ml {

// Linear congruential source of floats in [-1, 1) for the slow analog drift.
struct RandomScalarSource {
  uint32_t seed{0};

  void step() { seed = seed * 1664525u + 1013904223u; }
  float getFloat() {
    step();
    const uint32_t bits = 0x3F800000u | (seed >> 9);
    float oneToTwo;
    std::memcpy(&oneToTwo, &bits, sizeof oneToTwo);
    return 2.0f * oneToTwo - 3.0f;
  }
};

// A voice's state between blocks and its eight 64-sample output rows:
// 0 pitch (note number, glided, plus bend and drift), 1 gate (velocity while held, else 0),
// 2 voice number (voiceIndex - 1), 3 z (pressure), 4 x (controller 73), 5 y (controller 74),
// 6 mod controller, 7 seconds since the note-on.
// Note events are written sample-accurately: rows are filled up to each event's time with the values
// before it.
struct EventsToSignalsVoice {
  static constexpr size_t kPitchRow = 0;
  static constexpr size_t kGateRow = 1;
  static constexpr size_t kVoiceNumberRow = 2;
  static constexpr size_t kZRow = 3;
  static constexpr size_t kXRow = 4;
  static constexpr size_t kYRow = 5;
  static constexpr size_t kModRow = 6;
  static constexpr size_t kAgeRow = 7;
  static constexpr float kControllerGlideSeconds = 0.02f;  // smoothing of controller rows

  // A row filled whole with one value: which value, by its bits, while nothing else has written the row.
  struct SteadyRow {
    bool whole{false};
    uint32_t bits{0};
  };

  DSPVectorArray<8> outputs{};
  size_t writePos{0};
  // The gate and age rows of a voice without events hold one value block after block, and so do its pitch
  // and z rows while nothing glides: they are not rewritten then.
  SteadyRow steadyGate{}, steadyAge{}, steadyPitch{}, steadyZ{};
  // Whether the age row is written; without it the age still counts, but the row is left as it is.
  bool writesAgeRow{true};
  float currentVelocity{0.f};
  float currentPitch{0.f};
  float currentPitchBend{0.f};
  float currentMod{0.f};
  float currentX{0.f};
  float currentY{0.f};
  float currentZ{0.f};
  size_t creatorKeyIdx{0};  // key of the note being played; 0 means free
  uint32_t ageInSamples{0};
  uint32_t ageStep{0};
  SampleAccurateLinearGlide pitchGlide{};
  LinearGlide pitchBendGlide{}, modGlide{}, xGlide{}, yGlide{}, zGlide{};
  // The last block found the rows resting (see restingRowsHold) in a way that only an event, a new bend
  // range, moving pressure or a drift amount can end: a block without them rests again.
  bool restsWithoutInput{false};
  float pitchGlideTimeInSeconds{0.f};
  int32_t pitchGlideTimeInSamples{0};
  bool noGlide{false};
  RandomScalarSource driftSource{};
  LinearGlide driftGlide{};
  int32_t driftCounter{0};
  float driftValue{0.f};
  float driftAmount{0.f};
  int32_t driftInterval{0};
  double sampleRate{0.};
  int32_t voiceIndex{0};
  bool recalcNeeded{false};

  void setSampleRate(double sr);
  void setPitchGlideInSeconds(float seconds);
  // Frees the voice and zeroes its current values; the pitch glide, drift glide and rows keep theirs.
  void reset();
  // Inline: every voice begins every block, and usually only the drift's countdown moves.
  void beginProcess() {
    if (recalcNeeded) recalculateGlideTimes();
    writePos = 0;
    // Reaching or passing the interval fires: intervals are not multiples of the block length.
    driftCounter += static_cast<int32_t>(kFloatsPerDSPVector);
    if (driftCounter >= driftInterval) drawDriftTarget();
  }
  // Fills the rest of the block, adds pitch bend (bendRange semitones at full bend) and drift to the pitch
  // row and pressure (a row, or none when null) to the z row. pressureAtRest: pressure holds one value.
  // inputsAsBefore: no event reached the allocator this block, and bendRange and pressure are the last
  // block's.
  void endProcess(float bendRange, const DSPVector* pressure, bool pressureAtRest, bool inputsAsBefore);
  // Writes a note-on, retrigger or note-off at the event's time (clamped to 0..64).
  void writeNoteEvent(const Event& e, size_t keyIdx, bool glide, bool resetAge);

private:
  void recalculateGlideTimes();
  // The next drift target and the interval until the one after it.
  void drawDriftTarget();
  // Writes samples writePos..limit-1 with the current values.
  void fillUntil(size_t limit);
  // Samples from..limit-1 of the pitch row, and of the gate and age rows.
  void fillPitch(size_t from, size_t limit);
  // Inlined where it is defined: a resting voice calls it every block.
  [[gnu::always_inline]] inline void fillGateAndAge(size_t from, size_t limit);
  // The age row's samples from..limit-1 of a voice whose age counts. Out of line, so that its loops keep
  // the vector form the compiler gives them on their own.
  [[gnu::noinline]] void countAge(size_t from, size_t limit);
  // The whole pitch row as one value, when nothing in it moves this block; else false.
  // Inlined where it is defined: a resting voice asks it every block.
  [[gnu::always_inline]] inline bool steadyPitchValue(float bendRange, const DSPVector& bend,
                                                      float& value) const;
  // A block without events in which every glide but the drift's rests and the pitch and z rows already
  // hold what writePitchRow and writeZRow would fill them with: brings the gate and age rows up to date
  // and returns true. Otherwise changes nothing and returns false.
  bool restingRowsHold(float bendRange, const DSPVector* pressure, bool pressureAtRest);
  // The gate and age rows of a resting block; the pitch, z and controller rows hold as they are.
  void holdRestingRows();
  // Without drift amount the drift adds zeros of either sign to the pitch row, which change only a pitch
  // of -0: whether the pitch before drift is another value, so that no drift target changes the row.
  bool pitchFreeOfDrift(float bendRange) const;
  void writePitchRow(float bendRange, const DSPVector& bend);
  // Adds the drift glide's row, scaled by the drift amount, to the pitch row.
  void addDrift(float* pitch);
  void writeZRow(const DSPVector* pressure, bool pressureAtRest);
  // Gate of the sample just before writePos (the previous block's last one at the start of a block).
  float lastWrittenGate() const;
};

}  // namespace ml
