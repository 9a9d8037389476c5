// The events-to-signals voice allocator.
#include "foundation/MLEventsToSignals.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "foundation/MLSafeValue.h"
#include "foundation/MLScalarMath.h"

namespace ml {

namespace {
constexpr size_t kAllSoundOffController = 120;
constexpr size_t kAllNotesOffController = 123;
constexpr size_t kXController = 73;
constexpr size_t kYController = 74;
constexpr uint32_t kKeyOff = 0;
constexpr uint32_t kKeyOn = 1;
constexpr uint32_t kKeySustained = 2;

bool isKeyedEvent(uint8_t type) {
  return type == Event::kNoteOn || type == Event::kNoteOff || type == Event::kNotePressure ||
         type == Event::kKeyFree;
}
}  // namespace

void EventsToSignals::SmoothedController::process() {
  // At rest the output already holds the glide's row.
  if (!recalcNeeded && glide.settledAt(inputValue)) return;
  if (recalcNeeded) {
    glide.setGlideTimeInSamples(std::trunc(static_cast<float>(Voice::kControllerGlideSeconds * sampleRate)));
    recalcNeeded = false;
  }
  output = glide(inputValue);
}

EventsToSignals::EventsToSignals() : voices(kMaxVoices + 1), controllers(kNumControllers), protocol("MIDI") {
  for (size_t i = 0; i < voices.size(); ++i) {
    Voice& v = voices[i];
    v.voiceIndex = static_cast<int32_t>(i);
    v.reset();
    float* number = v.outputs.row(Voice::kVoiceNumberRow);
    std::fill(number, number + kFloatsPerDSPVector, static_cast<float>(v.voiceIndex - 1));
  }
  events.reserve(kEventCapacity);
}

void EventsToSignals::setSampleRate(double sr) {
  if (!(sr >= 0.0) || !std::isfinite(sr)) return;
  sampleRate = sr;
  for (Voice& v : voices) v.setSampleRate(sr);
  for (size_t c = 0; c < controllers.size(); ++c) {
    controllers[c].sampleRate = sr;
    controllers[c].recalcNeeded = true;
    setControllerInput(c, controllers[c].inputValue);
  }
}

void EventsToSignals::setControllerInput(size_t c, float value) {
  controllers[c].inputValue = value;
  if (!controllerMoving[c]) ++movingControllers;
  controllerMoving[c] = true;
}

void EventsToSignals::processControllers() {
  if (movingControllers == 0) return;
  for (size_t c = 0; c < controllers.size(); ++c) {
    if (!controllerMoving[c]) continue;
    SmoothedController& controller = controllers[c];
    controller.process();
    if (controller.glide.settledAt(controller.inputValue)) {
      controllerMoving[c] = false;
      --movingControllers;
    }
  }
}

void EventsToSignals::setPolyphony(size_t n) {
  clear();
  polyphony = std::min(n, kMaxVoices);
}

void EventsToSignals::setPitchGlideInSeconds(float seconds) {
  if (!std::isfinite(seconds)) return;
  for (Voice& v : voices) v.setPitchGlideInSeconds(seconds);
}

void EventsToSignals::setPitchBendInSemitones(float semitones) {
  pitchBendRangeInSemitones = finiteOr(semitones, pitchBendRangeInSemitones);
}

void EventsToSignals::setMPEPitchBendInSemitones(float semitones) {
  mpePitchBendRangeInSemitones = finiteOr(semitones, mpePitchBendRangeInSemitones);
}

void EventsToSignals::setAgeRows(bool on) {
  for (Voice& v : voices) v.writesAgeRow = on;
}

void EventsToSignals::setDriftAmount(float amount) {
  if (!std::isfinite(amount)) return;
  for (Voice& v : voices) v.driftAmount = amount;
}

void EventsToSignals::addEvent(const Event& e) {
  if (isKeyedEvent(e.type) && e.sourceIdx >= kNumKeys) return;
  if (!std::isfinite(e.value1) || !std::isfinite(e.value2)) return;
  hasReceivedEvents = true;
  if (events.size() >= kEventCapacity) {
    ++droppedEvents;
    return;
  }
  events.insert(std::upper_bound(events.begin(), events.end(), e, soonerThan), e);
}

void EventsToSignals::freeKey(int key, int time) {
  if (key < 0 || key >= static_cast<int>(kNumKeys)) return;
  Event e;
  e.type = Event::kKeyFree;
  e.sourceIdx = static_cast<uint16_t>(key);
  e.time = time;
  addEvent(e);
}

void EventsToSignals::clear() {
  events.clear();
  for (Voice& v : voices) v.reset();
  lastFreeVoiceFound = 0;
}

void EventsToSignals::processVector(int startTime) {
  if (!hasReceivedEvents || sampleRate == 0.0) return;
  for (Voice& v : voices) v.beginProcess();

  const int64_t windowStart = startTime;
  const int64_t windowEnd = windowStart + static_cast<int64_t>(kFloatsPerDSPVector);
  bool eventsHere = false;
  // By index, re-reading the size: an all-sound-off controller clears the buffer while it is walked.
  for (size_t i = 0; i < events.size(); ++i) {
    Event e = events[i];
    if (e.time >= windowStart && e.time < windowEnd) {
      e.time = static_cast<int32_t>(e.time - windowStart);
      processEvent(e);
      eventsHere = true;
    }
  }

  processControllers();
  const DSPVector& channelPressure = controllers[kChannelPressureController].output;
  const bool pressureAtRest = !controllerMoving[kChannelPressureController];
  // Without events a pressure that rested in the last block rests at the same value.
  const auto bendBits = std::bit_cast<uint32_t>(pitchBendRangeInSemitones);
  const bool inputsAsBefore = !eventsHere && bendBits == lastBendRangeBits;
  lastBendRangeBits = bendBits;
  voices[0].endProcess(pitchBendRangeInSemitones, nullptr, true, inputsAsBefore);
  for (size_t v = 1; v <= polyphony; ++v)
    voices[v].endProcess(pitchBendRangeInSemitones, &channelPressure, pressureAtRest, inputsAsBefore);
}

void EventsToSignals::resetTimes() {
  events.clear();
  for (Voice& v : voices) v.ageInSamples = 0;
  lastFreeVoiceFound = 0;
}

void EventsToSignals::dumpVoices() const {
  static constexpr const char* kStateNames[]{"off", " on", "sus"};
  std::printf("\n\npolyphony: %zu\nchannel voices:\n", polyphony);
  for (size_t v = 1; v <= polyphony; ++v) {
    const Voice& voice = voices[v];
    const uint32_t state = keyStates[voice.creatorKeyIdx].state;
    std::printf("%zu[key: %zu] %s x:%f y:%f z:%f pitch:%f mod:%f\n", v, voice.creatorKeyIdx,
                state < 3 ? kStateNames[state] : " ? ", voice.outputs.constRow(Voice::kXRow)[0],
                voice.outputs.constRow(Voice::kYRow)[0], voice.outputs.constRow(Voice::kZRow)[0],
                voice.outputs.constRow(Voice::kPitchRow)[0], voice.outputs.constRow(Voice::kModRow)[0]);
  }
}

void EventsToSignals::processEvent(const Event& e) {
  switch (e.type) {
    case Event::kNoteOn:
      processNoteOnEvent(e);
      break;
    case Event::kNoteOff:
      processNoteOffEvent(e);
      break;
    case Event::kSustainPedal:
      processSustainEvent(e);
      break;
    case Event::kController:
      processControllerEvent(e);
      break;
    case Event::kPitchWheel:
      for (size_t v = 1; v <= polyphony; ++v) voices[v].currentPitchBend = e.value1;
      break;
    case Event::kNotePressure:
      for (size_t v = 1; v <= polyphony; ++v) {
        if (voices[v].creatorKeyIdx == e.sourceIdx) voices[v].currentZ = e.value1;
      }
      break;
    case Event::kChannelPressure:
      setControllerInput(kChannelPressureController, e.value1);
      break;
    case Event::kKeyFree:
      processKeyFreeEvent(e);
      break;
    default:
      break;
  }
}

void EventsToSignals::processNoteOnEvent(const Event& e) {
  const size_t key = e.sourceIdx;
  keyStates[key] = KeyState{kKeyOn, e.value1, noteOnCounter++};

  if (unison) {
    // Legato: a note played while another is held glides there without restarting.
    const bool legato = heldKeyCount() != 1;
    for (size_t v = 1; v <= polyphony; ++v) voices[v].writeNoteEvent(e, key, legato, !legato);
    return;
  }
  const int free = findFreeVoice();
  if (free >= 1) {
    voices[static_cast<size_t>(free)].writeNoteEvent(e, key, true, true);
    return;
  }
  Event retrigger = e;
  retrigger.type = Event::kNoteRetrig;
  voices[findNearestVoice(key)].writeNoteEvent(retrigger, key, true, true);
}

void EventsToSignals::processNoteOffEvent(const Event& e) {
  const size_t key = e.sourceIdx;
  keyStates[key].state = sustain ? kKeySustained : kKeyOff;

  if (!unison) {
    if (!sustain) releaseVoicesOfKey(e, key);
    return;
  }
  if (heldKeyCount() == 0) {
    for (size_t v = 1; v <= polyphony; ++v) voices[v].writeNoteEvent(e, key, false, false);
    return;
  }
  if (key != voices[1].creatorKeyIdx) return;

  // Return to the most recently played key that is still held.
  bool found = false;
  size_t newest = 0;
  for (size_t k = 0; k < kNumKeys; ++k) {
    if (keyStates[k].state == kKeyOn &&
        (!found || keyStates[k].noteOnIndex > keyStates[newest].noteOnIndex)) {
      newest = k;
      found = true;
    }
  }
  Event back = e;
  back.type = Event::kNoteOn;
  back.sourceIdx = static_cast<uint16_t>(newest);
  back.value1 = keyStates[newest].pitch;
  back.value2 = voices[1].currentVelocity;
  for (size_t v = 1; v <= polyphony; ++v) voices[v].writeNoteEvent(back, newest, true, true);
}

void EventsToSignals::processSustainEvent(const Event& e) {
  sustain = e.value1 > 0.5f;
  if (sustain) return;
  Event off;
  off.type = Event::kNoteOff;
  for (size_t v = 1; v <= polyphony; ++v) {
    if (keyStates[voices[v].creatorKeyIdx].state == kKeySustained) {
      voices[v].writeNoteEvent(off, voices[v].creatorKeyIdx, false, false);
    }
  }
}

void EventsToSignals::processControllerEvent(const Event& e) {
  const size_t c = std::min<size_t>(e.sourceIdx, kChannelPressureController);
  setControllerInput(c, e.value1);
  if (c == kAllSoundOffController && e.value1 == 0.f) {
    clear();
  } else if (c == kAllNotesOffController && e.value1 == 0.f) {
    Event off = e;
    off.type = Event::kNoteOff;
    for (Voice& v : voices) v.writeNoteEvent(off, 0, false, true);
  } else {
    for (size_t v = 1; v <= polyphony; ++v) {
      if (c == modCC) voices[v].currentMod = e.value1;
      if (c == kXController) voices[v].currentX = e.value1;
      if (c == kYController) voices[v].currentY = e.value1;
    }
  }
}

void EventsToSignals::processKeyFreeEvent(const Event& e) {
  keyStates[e.sourceIdx].state = kKeyOff;
  releaseVoicesOfKey(e, e.sourceIdx);
}

int EventsToSignals::findFreeVoice() {
  const auto count = static_cast<int32_t>(polyphony);
  for (int32_t tries = 0; tries < count; ++tries) {
    if (++lastFreeVoiceFound > count) lastFreeVoiceFound = 1;
    if (voices[static_cast<size_t>(lastFreeVoiceFound)].creatorKeyIdx == 0) return lastFreeVoiceFound;
  }
  return -1;
}

size_t EventsToSignals::findNearestVoice(size_t key) const {
  size_t nearest = 0;
  size_t bestDistance = kNumKeys;
  for (size_t v = 1; v <= polyphony; ++v) {
    const size_t k = voices[v].creatorKeyIdx;
    const size_t distance = key > k ? key - k : k - key;
    if (distance < bestDistance) {
      bestDistance = distance;
      nearest = v;
    }
  }
  return nearest;
}

size_t EventsToSignals::heldKeyCount() const {
  return static_cast<size_t>(
      std::count_if(keyStates.begin(), keyStates.end(), [](const KeyState& k) { return k.state == kKeyOn; }));
}

void EventsToSignals::releaseVoicesOfKey(const Event& e, size_t key) {
  Event off = e;
  off.type = Event::kNoteOff;
  for (size_t v = 1; v <= polyphony; ++v) {
    if (voices[v].creatorKeyIdx == key) voices[v].writeNoteEvent(off, key, false, false);
  }
}

}  // namespace ml
