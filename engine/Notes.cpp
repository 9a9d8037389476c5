// The host's notes into allocator events, and the engine's key book beside the allocator.
#include <algorithm>
#include <cmath>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kWildcardKey = -1;
constexpr int kMaxChannel = 15;

}  // namespace

int PluginProcessor::clampEventOffset(int offset) {
  return std::clamp(offset, 0, static_cast<int>(ml::kFloatsPerDSPVector) - 1);
}

void PluginProcessor::postNoteEvent(uint8_t type, int channel, int key, float velocity, int offset) {
  ml::Event e;
  e.type = type;
  e.channel = static_cast<uint8_t>(std::clamp(channel, 0, kMaxChannel));
  e.sourceIdx = static_cast<uint16_t>(key);
  e.time = clampEventOffset(offset);
  e.value1 = static_cast<float>(key);
  e.value2 = velocity;
  allocator.addEvent(e);
}

void PluginProcessor::postSustainEvent(bool down, int offset) {
  ml::Event e;
  e.type = ml::Event::kSustainPedal;
  e.time = clampEventOffset(offset);
  e.value1 = down ? 1.0f : 0.0f;
  allocator.addEvent(e);
}

bool PluginProcessor::handleNoteOn(int channel, int key, double velocity, int offset) {
  if (!KeyBook::validKey(key) || tuning.shouldFilterNote(key, channel)) return false;
  const auto vel = static_cast<float>(ml::safeClamp(velocity, 0.0, 1.0));
  keyBook.press(key, static_cast<int8_t>(std::clamp(channel, 0, kMaxChannel)), vel);
  postNoteEvent(ml::Event::kNoteOn, channel, key, vel, offset);
  return true;
}

void PluginProcessor::handleNoteOff(int channel, int key, int offset) {
  if (key == kWildcardKey) {
    for (int k = 0; k < kNumKeys; ++k) {
      if (keyBook.held(k)) handleNoteOff(keyBook.channel[k], k, offset);
    }
    return;
  }
  if (!KeyBook::validKey(key)) return;
  keyBook.keyUp(key);
  postNoteEvent(ml::Event::kNoteOff, channel, key, 0.0f, offset);
}

void PluginProcessor::setSustainPedal(bool down, int offset) {
  keyBook.sustainPedal = down;
  postSustainEvent(down, offset);
}

void PluginProcessor::setPitchBend(float bend) {
  if (!std::isfinite(bend)) return;
  pitchBend.store(std::clamp(bend, -1.0f, 1.0f), std::memory_order_relaxed);
}

void PluginProcessor::clearVoice(int v) {
  voices[v].clear();
  voiceActivity[v].store(0.0f, std::memory_order_relaxed);
}

void PluginProcessor::chokeKey(int channel, int key) {
  if (key == kWildcardKey) {
    allSoundOff();
    return;
  }
  if (!KeyBook::validKey(key)) return;
  for (int v = 0; v < kNumVoices; ++v) {
    const ml::EventsToSignals::Voice& av = allocator.getVoice(v);
    // Key 0 is also the allocator's mark of a free voice: only an open gate says it plays key 0.
    const bool playsKey =
        static_cast<int>(av.creatorKeyIdx) == key &&
        (key > 0 ||
         av.outputs.constRow(ml::EventsToSignals::Voice::kGateRow)[ml::kLastSampleInVector] > 0.0f);
    if (playsKey) clearVoice(v);
  }
  keyBook.keyUp(key);
  // Frees the key's voices from sample 0 whatever the pedal, so the cleared voice cannot start again.
  allocator.freeKey(key, 0);
}

void PluginProcessor::allSoundOff() {
  for (int v = 0; v < kNumVoices; ++v) {
    clearVoice(v);
    stuckBlocks[v] = 0;
  }
  for (ReleaseVoice& tail : releaseVoices) tail.active = false;
  allocator.clearEvents();
  allNotesOff();
}

void PluginProcessor::allNotesOff() {
  handleNoteOff(0, kWildcardKey, 0);
  if (keyBook.sustainPedal) setSustainPedal(false, 0);
  pitchBend.store(0.0f, std::memory_order_relaxed);
}

int PluginProcessor::debugVoiceLedger(int notes[kNumVoices], float gates[kNumVoices], bool held[128]) const {
  if (notes == nullptr || gates == nullptr || held == nullptr) return 0;
  int stuck = 0;
  for (int v = 0; v < kNumVoices; ++v) {
    const ml::EventsToSignals::Voice& av = allocator.getVoice(v);
    notes[v] = static_cast<int>(av.creatorKeyIdx);
    gates[v] = av.outputs.constRow(ml::EventsToSignals::Voice::kGateRow)[ml::kLastSampleInVector];
    if (gates[v] > 0.5f && KeyBook::validKey(notes[v]) && notes[v] > 0 && !keyBook.held(notes[v])) ++stuck;
  }
  for (int k = 0; k < kNumKeys; ++k) held[k] = keyBook.held(k);
  return stuck;
}
