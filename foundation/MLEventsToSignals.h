// The events-to-signals voice allocator: timed note events in, per-voice pitch and gate rows out.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/MLDSPVector.h"
#include "foundation/MLEvent.h"
#include "foundation/MLEventGlides.h"
#include "foundation/MLEventsToSignalsVoice.h"
#include "foundation/MLSymbol.h"

namespace ml {

// State of one key: 0 off, 1 on, 2 released while the sustain pedal is down; the pitch and the note-on
// serial number of its last note-on.
struct KeyState {
  uint32_t state{0};
  float pitch{0.f};
  uint32_t noteOnIndex{0};
};

// Turns the events of one 64-sample block into per-voice rows (see EventsToSignalsVoice for the rows).
// Voices are taken round-robin among free ones; when none is free the voice playing the nearest key is
// stolen with a one-sample gate gap. Keeps per-key state with a sustain pedal, glides pitch from each
// voice's previous note, and in unison every voice plays the most recent held note, legato.
// Events of equal time are processed in the order they were added. The event buffer holds
// kEventCapacity events; events added beyond that are dropped and counted.
// Construction and setSampleRate belong on the main thread; everything else runs on the audio thread
// without allocating or locking.
class EventsToSignals {
public:
  using Voice = EventsToSignalsVoice;

  // A controller value smoothed over 20 ms at vector rate.
  struct SmoothedController {
    LinearGlide glide{};
    DSPVector output{};
    float inputValue{0.f};
    double sampleRate{0.};
    bool recalcNeeded{false};

    void process();
  };

  static constexpr size_t kMaxVoices = 16;
  static constexpr size_t kNumKeys = 128;
  static constexpr size_t kNumControllers = 129;  // MIDI controllers 0..127, then channel pressure
  static constexpr size_t kChannelPressureController = 128;
  static constexpr size_t kEventCapacity = 1024;

  EventsToSignals();

  // Ignored when sr is negative or not finite; 0 keeps processVector from rendering.
  void setSampleRate(double sr);
  // Clears everything (see clear) and plays on min(n, kMaxVoices) voices.
  void setPolyphony(size_t n);
  size_t getPolyphony() const { return polyphony; }
  void setUnison(bool u) { unison = u; }
  // Ignored when not finite.
  void setPitchGlideInSeconds(float seconds);
  void setPitchBendInSemitones(float semitones);
  void setMPEPitchBendInSemitones(float semitones);
  void setDriftAmount(float amount);
  // Whether the voices write their age rows (row 7; on by default). A caller that reads none spares the
  // count of its samples in every block; the ages count on all the same.
  void setAgeRows(bool on);

  // Queues a copy of e. Note, pressure and key-free events with a key above 127 and events with
  // non-finite values are ignored; when the buffer is full the event is dropped and counted.
  void addEvent(const Event& e);
  // Queues the release of every voice playing key at the given time, whatever the sustain pedal: the key
  // goes back to off and those voices' gates close from that sample on.
  void freeKey(int key, int time);
  void clearEvents() { events.clear(); }
  // Empties the event buffer, resets every voice and restarts the free-voice search.
  void clear();
  // Renders one block from the queued events whose time lies in startTime..startTime + 63.
  void processVector(int startTime);
  // Synthesis voice i (0-based); i is clamped to the voices that exist.
  const Voice& getVoice(int i) const {
    return voices[static_cast<size_t>(std::clamp(i + 1, 0, static_cast<int>(kMaxVoices)))];
  }
  void resetTimes();
  void dumpVoices() const;
  uint64_t getDroppedEventCount() const { return droppedEvents; }

  std::vector<Voice> voices;
  std::vector<SmoothedController> controllers;
  Symbol protocol;
  uint32_t modCC{16};
  std::array<KeyState, kNumKeys> keyStates{};
  std::vector<Event> events;
  size_t polyphony{0};
  int32_t lastFreeVoiceFound{-1};
  bool sustain{false};
  double sampleRate{0.};
  float pitchBendRangeInSemitones{7.f};
  float mpePitchBendRangeInSemitones{24.f};
  bool unison{false};
  uint32_t noteOnCounter{0};
  bool hasReceivedEvents{false};
  uint64_t droppedEvents{0};
  // The bits of the bend range of the last block.
  uint32_t lastBendRangeBits{0};

private:
  void processEvent(const Event& e);
  void processNoteOnEvent(const Event& e);
  void processNoteOffEvent(const Event& e);
  void processSustainEvent(const Event& e);
  void processControllerEvent(const Event& e);
  void processKeyFreeEvent(const Event& e);
  int findFreeVoice();
  size_t findNearestVoice(size_t key) const;
  // Number of keys in state 1.
  size_t heldKeyCount() const;
  // Sets a controller's input and marks it for smoothing.
  void setControllerInput(size_t c, float value);
  // Smooths every controller that is not at rest.
  void processControllers();

  // Per controller: it may not be at rest (a settled controller's process() changes nothing). Kept
  // apart from the controllers so that a block with none moving reads only this.
  std::array<bool, kNumControllers> controllerMoving{};
  size_t movingControllers{0};
  // Writes a note-off at the event's time to every playing voice whose key is key.
  void releaseVoicesOfKey(const Event& e, size_t key);
};

}  // namespace ml
