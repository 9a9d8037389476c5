// The events-to-signals voice allocator: timing of notes, stealing, pedal, unison and its guards.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/MLEventsToSignals.h"
#include "tools/ProcessAllocations.h"

namespace {

using ml::Event;
using ml::EventsToSignals;

constexpr float kVel = 0.8f;

Event makeEvent(uint8_t type, int key, int time, float value1, float value2 = 0.f) {
  Event e;
  e.type = type;
  e.sourceIdx = static_cast<uint16_t>(key);
  e.time = time;
  e.value1 = value1;
  e.value2 = value2;
  return e;
}

// The allocator as the engine drives it: events, then one processVector and clearEvents per block.
struct Rig {
  EventsToSignals ets;

  explicit Rig(size_t polyphony, bool unison = false, double sampleRate = 48000.0) {
    ets.setSampleRate(sampleRate);
    ets.setPolyphony(polyphony);
    ets.setUnison(unison);
  }
  void on(int key, int time, float velocity = kVel) {
    ets.addEvent(makeEvent(Event::kNoteOn, key, time, static_cast<float>(key), velocity));
  }
  void off(int key, int time) {
    ets.addEvent(makeEvent(Event::kNoteOff, key, time, static_cast<float>(key)));
  }
  void pedal(bool down, int time) {
    ets.addEvent(makeEvent(Event::kSustainPedal, 0, time, down ? 1.f : 0.f));
  }
  void block() {
    ets.processVector(0);
    ets.clearEvents();
  }
  const float* row(int voice, size_t r) const { return ets.getVoice(voice).outputs.constRow(r); }
  const float* gate(int voice) const { return row(voice, EventsToSignals::Voice::kGateRow); }
  const float* pitch(int voice) const { return row(voice, EventsToSignals::Voice::kPitchRow); }
  size_t key(int voice) const { return ets.getVoice(voice).creatorKeyIdx; }
};

// Expects the gate to be `before` on [from, gapAt), 0 at gapAt and `after` from gapAt + 1 to the end.
void expectGateGap(const float* gate, size_t from, size_t gapAt, float before, float after) {
  for (size_t i = from; i < gapAt; ++i) ASSERT_EQ(gate[i], before) << "sample " << i;
  EXPECT_EQ(gate[gapAt], 0.f) << "sample " << gapAt;
  for (size_t i = gapAt + 1; i < 64; ++i) ASSERT_EQ(gate[i], after) << "sample " << i;
}

TEST(EventsToSignals, FifthNoteStealsTheNearestKeyWithAGateGap) {
  Rig r(4);
  for (int key : {60, 64, 67, 72}) r.on(key, 0);
  r.on(62, 20, 0.5f);  // 60 and 64 are both 2 away: the lower voice wins
  r.block();
  EXPECT_EQ(r.key(0), 62u);
  EXPECT_EQ(r.key(1), 64u);
  expectGateGap(r.gate(0), 0, 19, kVel, 0.5f);
  // Without glide a new pitch holds the old one for one more sample.
  EXPECT_EQ(r.pitch(0)[20], 60.f);
  EXPECT_EQ(r.pitch(0)[21], 62.f);
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(1)[i], kVel);
}

// A block with a steal's gate gap, after and before blocks without events that hold the same velocity:
// the gap does not outlive its block.
TEST(EventsToSignals, GateGapDoesNotOutliveItsBlock) {
  Rig r(1);
  r.on(60, 0);
  r.block();
  r.on(62, 40);
  r.block();
  EXPECT_EQ(r.gate(0)[39], 0.f);
  r.block();
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(0)[i], kVel) << "sample " << i;
}

TEST(EventsToSignals, RowsTwoAndSevenHoldVoiceNumberAndAge) {
  Rig r(2);
  for (int v = -1; v < 16; ++v) EXPECT_EQ(r.row(v, EventsToSignals::Voice::kVoiceNumberRow)[5], float(v));
  r.on(60, 10);
  r.block();
  // The age counts from the block start of the note's block, one sample per sample.
  const float* age = r.row(0, EventsToSignals::Voice::kAgeRow);
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(age[i], ml::samplesToSeconds(i + 1, 48000.f));
  r.block();
  EXPECT_EQ(age[0], ml::samplesToSeconds(65, 48000.f));
  r.off(60, 0);
  r.on(61, 0);
  r.block();
  EXPECT_EQ(r.row(1, EventsToSignals::Voice::kAgeRow)[0], ml::samplesToSeconds(1, 48000.f));
  // Past 2^31 samples (12 hours at 48 kHz) the ages keep counting.
  const uint32_t before = uint32_t{INT32_MAX} - 10u;
  r.ets.voices[1].ageInSamples = before;
  r.block();
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(age[i], ml::samplesToSeconds(before + i + 1, 48000.f)) << i;
}

// Without age rows the rows stay as they were while the ages count on: rows written again read the age as
// if written all along.
TEST(EventsToSignals, AgesCountOnWithoutTheirRows) {
  Rig r(1);
  r.ets.setAgeRows(false);
  r.on(60, 10);
  const float* age = r.row(0, EventsToSignals::Voice::kAgeRow);
  for (int b = 0; b < 3; ++b) r.block();
  EXPECT_EQ(age[63], 0.f);
  EXPECT_EQ(r.gate(0)[63], kVel);
  r.ets.setAgeRows(true);
  r.block();
  for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(age[i], ml::samplesToSeconds(3 * 64 + i + 1, 48000.f)) << i;
}

// Same-key off-then-on at one time, as hosts send repeated notes: the new note restarts the gate.
TEST(EventsToSignals, RepeatedNoteAtOneTimeRestartsTheGate) {
  struct Mode {
    const char* name;
    size_t polyphony;
    bool unison;
  };
  for (const Mode& mode : {Mode{"poly", 2, false}, Mode{"mono", 1, false}, Mode{"legato", 1, true}}) {
    SCOPED_TRACE(mode.name);
    Rig r(mode.polyphony, mode.unison);
    r.on(60, 0);
    if (mode.polyphony == 2) r.on(64, 0);  // the other voice is busy, so the note comes back to voice 0
    r.block();
    r.off(60, 10);
    r.on(60, 10, 0.5f);
    r.block();
    expectGateGap(r.gate(0), 0, 9, kVel, 0.5f);
    EXPECT_EQ(r.key(0), 60u);
    // At the first sample of a block the gap takes sample 0 and the note starts at sample 1.
    r.off(60, 0);
    r.on(60, 0, 0.25f);
    r.block();
    expectGateGap(r.gate(0), 0, 0, 0.f, 0.25f);
  }
  // In poly with a free voice elsewhere the repeated note lands on the other voice, which starts clean.
  Rig poly(2);
  poly.on(60, 0);
  poly.block();
  poly.off(60, 10);
  poly.on(60, 10, 0.5f);
  poly.block();
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(poly.gate(0)[i], i < 10 ? kVel : 0.f);
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(poly.gate(1)[i], i < 10 ? 0.f : 0.5f);
}

TEST(EventsToSignals, EventsOfOneTimeKeepTheirArrivalOrder) {
  // On then off at one time is a zero-length note.
  Rig r(2);
  r.on(60, 10);
  r.off(60, 10);
  r.block();
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(0)[i], 0.f);
  EXPECT_EQ(r.ets.keyStates[60].state, 0u);

  // Pedal down then up at one time leaves the pedal up: the note-off that follows releases at once.
  r.on(62, 0);
  r.pedal(true, 5);
  r.pedal(false, 5);
  r.off(62, 20);
  r.block();
  EXPECT_TRUE(r.gate(1)[19] == kVel && r.gate(1)[20] == 0.f);

  // Events added out of time order are still processed by time.
  r.off(64, 30);
  r.on(64, 5);
  r.block();
  EXPECT_TRUE(r.gate(0)[5] == kVel && r.gate(0)[30] == 0.f);
}

TEST(EventsToSignals, UnisonReturnsToTheHeldNoteWithGlideAndNoGap) {
  Rig r(3, true);
  r.ets.setPitchGlideInSeconds(0.001f);  // 48 samples at 48 kHz
  r.on(60, 0);                           // the very first note has note-on index 0 and must still be found
  r.block();
  r.on(67, 0);
  r.block();
  r.off(67, 10);
  r.block();
  for (int v = 0; v < 3; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(r.key(v), 60u);
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(v)[i], kVel);
    EXPECT_EQ(r.pitch(v)[10], 67.f);
    EXPECT_LT(r.pitch(v)[11], 67.f);
    for (size_t i = 11; i < 58; ++i) ASSERT_LT(r.pitch(v)[i + 1], r.pitch(v)[i]);
    EXPECT_EQ(r.pitch(v)[58], 60.f);
  }
  // Releasing a key that is not the sounding one changes nothing.
  r.on(72, 0);
  r.block();
  r.off(67, 0);
  r.off(60, 5);
  r.block();
  EXPECT_EQ(r.key(0), 72u);
  EXPECT_EQ(r.gate(0)[63], kVel);
  // Releasing the last held key closes every voice.
  r.off(72, 7);
  r.block();
  for (int v = 0; v < 3; ++v) EXPECT_EQ(r.gate(v)[7], 0.f);
}

TEST(EventsToSignals, SustainPedalHoldsAndFreeKeyReleasesWhateverThePedal) {
  Rig r(3);
  r.on(60, 0);
  r.on(64, 0);
  r.pedal(true, 1);
  r.block();
  r.ets.freeKey(60, 12);
  r.ets.freeKey(200, 3);
  r.ets.freeKey(-1, 3);
  r.block();
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(0)[i], i < 12 ? kVel : 0.f);
  EXPECT_EQ(r.ets.keyStates[60].state, 0u);
  // The pedal release no longer touches the freed key; the other key still follows the pedal.
  r.off(64, 0);
  r.block();
  EXPECT_EQ(r.gate(1)[63], kVel);
  r.pedal(false, 30);  // releases from the block start
  r.block();
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(1)[i], 0.f);
}

TEST(EventsToSignals, KeyZeroReadsAsFree) {
  Rig r(2);
  r.on(0, 0);
  r.on(5, 0);
  r.on(7, 10, 0.5f);  // voice 0 plays key 0 and is handed over without a gap
  r.block();
  EXPECT_EQ(r.key(0), 7u);
  EXPECT_EQ(r.key(1), 5u);
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(0)[i], i < 10 ? kVel : 0.5f);
}

TEST(EventsToSignals, SetPolyphonyDropsEventsAndClosesEveryGate) {
  Rig r(4);
  for (int key : {60, 62, 64, 65}) r.on(key, 0);
  r.block();
  r.on(70, 3);
  r.ets.setPolyphony(4);
  EXPECT_TRUE(r.ets.events.empty());
  r.block();
  for (int v = 0; v < 4; ++v) {
    EXPECT_EQ(r.key(v), 0u);
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(r.gate(v)[i], 0.f);
  }
  r.ets.setPolyphony(99);
  EXPECT_EQ(r.ets.getPolyphony(), EventsToSignals::kMaxVoices);
}

TEST(EventsToSignals, IgnoresKeysOutsideTheKeyboardAndNonFiniteValues) {
  Rig r(2);
  r.on(60, 0);
  r.block();
  const auto keysBefore = r.ets.keyStates;
  r.ets.addEvent(makeEvent(Event::kNoteOff, 200, 4, 200.f));
  r.ets.addEvent(makeEvent(Event::kNoteOn, 128, 4, 128.f, kVel));
  r.ets.addEvent(makeEvent(Event::kNotePressure, 300, 4, 1.f));
  r.ets.addEvent(makeEvent(Event::kNoteOn, 61, 4, std::numeric_limits<float>::quiet_NaN(), kVel));
  EXPECT_TRUE(r.ets.events.empty());
  r.block();
  for (size_t k = 0; k < keysBefore.size(); ++k)
    EXPECT_EQ(r.ets.keyStates[k].state, keysBefore[k].state) << k;
  EXPECT_EQ(r.key(1), 0u);
}

TEST(EventsToSignals, FullEventBufferDropsAndCountsTheNewest) {
  Rig r(8);
  const Event* storage = r.ets.events.data();
  const size_t extra = 76;
  for (size_t i = 0; i < EventsToSignals::kEventCapacity + extra; ++i) {
    r.ets.addEvent(makeEvent(Event::kPitchWheel, 0, static_cast<int>(i % 64), static_cast<float>(i)));
  }
  EXPECT_EQ(r.ets.events.size(), EventsToSignals::kEventCapacity);
  EXPECT_EQ(r.ets.events.data(), storage);
  EXPECT_EQ(r.ets.getDroppedEventCount(), extra);
  for (const Event& e : r.ets.events) ASSERT_LT(e.value1, float(EventsToSignals::kEventCapacity));
}

TEST(EventsToSignals, AllSoundOffInsideTheBlockEmptiesTheBuffer) {
  Rig r(2);
  r.on(60, 0);
  r.ets.addEvent(makeEvent(Event::kController, 120, 5, 0.f));
  r.on(62, 10);
  r.ets.processVector(0);
  EXPECT_TRUE(r.ets.events.empty());
  EXPECT_EQ(r.key(0) + r.key(1), 0u);
}

TEST(EventsToSignals, DriftPicksNewTargetsEveryEightToSixteenSeconds) {
  const double sampleRate = 6400.0;  // 800 to 1600 blocks between targets
  Rig r(1, false, sampleRate);
  r.ets.setDriftAmount(1.f);
  r.on(60, 0);
  const EventsToSignals::Voice& voice = r.ets.voices[1];
  int targets = 0;
  float last = voice.driftValue;
  for (int b = 0; b < 3300; ++b) {
    r.block();
    ASSERT_LE(voice.driftCounter, voice.driftInterval);
    ASSERT_GE(voice.driftInterval, int32_t(8 * sampleRate));
    ASSERT_LE(voice.driftInterval, int32_t(16 * sampleRate));
    if (voice.driftValue != last) ++targets;
    last = voice.driftValue;
  }
  EXPECT_GE(targets, 3);
  for (size_t i = 0; i < 64; ++i) ASSERT_TRUE(std::isfinite(r.pitch(0)[i]));
}

TEST(EventsToSignals, NothingRendersBeforeEventsOrSampleRate) {
  EventsToSignals ets;
  ets.setPolyphony(2);
  ets.processVector(0);
  EXPECT_EQ(ets.getVoice(0).outputs.constRow(1)[0], 0.f);
  ets.addEvent(makeEvent(Event::kNoteOn, 60, 0, 60.f, kVel));
  ets.processVector(0);
  EXPECT_EQ(ets.getVoice(0).outputs.constRow(1)[0], 0.f);
  ets.setSampleRate(48000.0);
  ets.processVector(0);
  EXPECT_EQ(ets.getVoice(0).outputs.constRow(1)[1], kVel);
}

// After construction, a block of events, processVector and clearEvents allocate nothing.
TEST(EventsToSignals, BlockCycleAllocatesNothing) {
  Rig r(8);
  r.ets.setPitchGlideInSeconds(0.05f);
  r.ets.setDriftAmount(0.5f);
  const uint64_t before = process_allocations::counted().allocations;
  process_allocations::arm(true);
  for (int b = 0; b < 200; ++b) {
    for (int i = 0; i < 256; ++i) {
      const int key = 36 + (b * 7 + i) % 60;
      r.on(key, (i * 5) % 64, 0.5f);
      r.off(key, (i * 11) % 64);
    }
    r.pedal(b % 2 == 0, 17);
    r.ets.freeKey(40, 3);
    r.ets.addEvent(makeEvent(Event::kController, 1, 9, 0.5f));
    r.ets.addEvent(makeEvent(Event::kPitchWheel, 0, 9, 0.25f));
    r.block();
  }
  process_allocations::arm(false);
  EXPECT_EQ(process_allocations::counted().allocations - before, 0u);
}

TEST(EventsToSignals, ControllerRowsGlideRestAndMoveAgain) {
  using Voice = EventsToSignals::Voice;
  Rig r(2);
  r.on(60, 0);
  r.ets.addEvent(makeEvent(Event::kController, 73, 0, 0.5f));
  r.ets.addEvent(makeEvent(Event::kChannelPressure, 0, 0, 0.25f));
  r.ets.addEvent(makeEvent(Event::kNotePressure, 60, 0, 0.125f));
  const float* x = r.row(0, Voice::kXRow);
  const float* z = r.row(0, Voice::kZRow);
  // Twice over: landed on the values, then at rest, where z takes the channel pressure only once.
  for (int blocks : {40, 1}) {
    for (int b = 0; b < blocks; ++b) r.block();
    for (size_t i = 0; i < 64; ++i) {
      ASSERT_EQ(x[i], 0.5f) << i;
      ASSERT_EQ(z[i], 0.375f) << i;
    }
  }
  r.ets.addEvent(makeEvent(Event::kController, 73, 0, 0.0f));
  r.block();
  EXPECT_LT(x[63], x[0]);
  EXPECT_GT(x[63], 0.0f);
  for (int b = 0; b < 40; ++b) r.block();
  EXPECT_EQ(x[0], 0.0f);
  EXPECT_EQ(x[63], 0.0f);
}

// The pitch row is the note plus bend and drift in every sample, block after block, whether the row is
// rewritten or held; without drift a moving drift glide leaves it whole.
TEST(EventsToSignals, PitchRowFollowsBendAndDriftAndHoldsAtRest) {
  Rig r(1);
  const float* pitch = r.pitch(0);
  const auto expectWhole = [&](float value) {
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(pitch[i], value) << i;
  };
  r.on(60, 0);
  r.ets.addEvent(makeEvent(Event::kPitchWheel, 0, 0, 0.5f));
  for (int blocks : {40, 1}) {
    for (int b = 0; b < blocks; ++b) r.block();
    expectWhole(60.f + 0.5f * 7.f * 0.083333336f);
  }
  r.ets.addEvent(makeEvent(Event::kPitchWheel, 0, 0, 0.f));
  r.block();
  EXPECT_LT(pitch[63], pitch[0]);
  for (int b = 0; b < 40; ++b) r.block();
  expectWhole(60.f);
  // The drift glide moves from the first block on, for eight seconds.
  r.ets.setDriftAmount(1.f);
  for (int b = 0; b < 100; ++b) r.block();
  EXPECT_NE(pitch[0], 60.f);
  r.ets.setDriftAmount(0.f);
  r.block();
  expectWhole(60.f);
}

// Rows resting without events still follow what reaches a voice without one: a new bend range, a clear.
TEST(EventsToSignals, RestingRowsFollowABendRangeAndAClear) {
  Rig r(1);
  const float* pitch = r.pitch(0);
  r.on(60, 0);
  r.ets.addEvent(makeEvent(Event::kPitchWheel, 0, 0, 0.5f));
  for (int b = 0; b < 40; ++b) r.block();
  EXPECT_EQ(pitch[63], 60.f + 0.5f * 7.f * 0.083333336f);
  r.ets.setPitchBendInSemitones(12.f);
  r.block();
  EXPECT_EQ(pitch[0], 60.f + 0.5f * 12.f * 0.083333336f);
  EXPECT_EQ(pitch[63], pitch[0]);
  r.ets.clear();
  r.block();
  r.block();
  EXPECT_EQ(pitch[63], 0.f);
  EXPECT_EQ(r.gate(0)[63], 0.f);
}

// The drift glide moves on unread while no drift amount is set; the rows that read it afterwards are those
// of a voice that read it every block.
TEST(EventsToSignals, DriftReadLateMatchesDriftReadEveryBlock) {
  Rig late(1), always(1);
  always.ets.setDriftAmount(0.5f);
  for (Rig* r : {&late, &always}) r->on(60, 0);
  for (int b = 0; b < 1000; ++b) {
    if (b == 700) late.ets.setDriftAmount(0.5f);
    late.block();
    always.block();
    if (b < 700) continue;
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(late.pitch(0)[i], always.pitch(0)[i]) << b << " " << i;
  }
}

TEST(EventGlides, SampleGlideHoldsStepsAndLands) {
  ml::SampleAccurateLinearGlide glide;
  glide.setGlideTimeInSamples(4.9f);
  const std::vector<float> expected{0.f, 0.25f, 0.5f, 0.75f, 1.f, 1.f};
  for (float e : expected) EXPECT_EQ(glide.nextSample(1.f), e);
  glide.setGlideTimeInSamples(0.f);
  EXPECT_EQ(glide.nextSample(3.f), 1.f);
  EXPECT_EQ(glide.nextSample(3.f), 3.f);
}

TEST(EventGlides, VectorGlideRampsPerVector) {
  ml::LinearGlide glide;
  glide.setGlideTimeInSamples(128.f);
  ml::DSPVector v = glide(1.f);
  EXPECT_TRUE(v[0] == 0.5f / 64.f && v[63] == 0.5f);
  v = glide(1.f);
  EXPECT_TRUE(v[0] == 0.5f + 0.5f / 64.f && v[63] == 1.f);
  v = glide(1.f);
  EXPECT_EQ(v[0], 1.f);
  glide.setValue(-2.f);
  EXPECT_EQ(glide(-2.f)[17], -2.f);
}

// Steps counted unread and taken later give the vectors of steps taken one call at a time, through a new
// target in mid-glide and a landing that drops the steps counted.
TEST(EventGlides, UnreadStepsCatchUpToEveryCall) {
  ml::LinearGlide read, unread;
  for (ml::LinearGlide* g : {&read, &unread}) g->setGlideTimeInSamples(64.f * 7.f);
  const auto expectSame = [&](int call) {
    const ml::DSPVector& caughtUp = unread.caughtUp();
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(caughtUp[i], read.currentVector[i]) << call << " " << i;
  };
  for (int call = 0; call < 24; ++call) {
    const float target = call < 4 ? 0.3f : -0.7f;
    read(target);
    unread.advanceUnread(target);
    if (call == 2 || call == 6 || call == 23) expectSame(call);
  }
  EXPECT_EQ(unread(-0.7f)[0], -0.7f);
}

TEST(EventGlides, RandomScalarSourceSequence) {
  ml::RandomScalarSource source;
  EXPECT_EQ(source.getFloat(), -0.5278642177581787f);
  EXPECT_EQ(source.seed, 0x3c6ef35fu);
  EXPECT_EQ(source.getFloat(), -0.44286632537841797f);
}

}  // namespace
