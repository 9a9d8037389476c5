// The engine's kit: slot edits and their hand-over, kit mode and base key, the audition stage and the
// kit's part of the voice mix.
#include "engine/EngineKit.h"

#include <algorithm>

#include "engine/PluginProcessor.h"

namespace {

// Auditioned notes play on the first channel at full velocity, at the start of the block.
constexpr int kAuditionChannel = 1;
constexpr double kAuditionVelocity = 1.0;
constexpr int kMaxKey = 127;

}  // namespace

void EngineKit::setSound(int slot, const ParamSnapshot& s, int note) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) { putKitSlotSound(k, s, note); });
}

void EngineKit::setNote(int slot, int note) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) { k.note = kitSlotNote(note); });
}

void EngineKit::setGain(int slot, float gain) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) { k.gain = kitSlotGain(gain); });
}

void EngineKit::setPan(int slot, float pan) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) { k.pan = kitSlotPan(pan); });
}

void EngineKit::setSoundGainPan(int slot, const ParamSnapshot& s, int note, float gain, float pan) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) {
    putKitSlotSound(k, s, note);
    k.gain = kitSlotGain(gain);
    k.pan = kitSlotPan(pan);
  });
}

void EngineKit::clear(int slot, int baseKey) {
  if (!validKitSlot(slot)) return;
  staged.slots[slot].write([&](KitSlot& k) { k = emptyKitSlot(slot, baseKey); });
}

bool EngineKit::copySound(int slot, ParamSnapshot& out, int& note, bool& used) const {
  if (!validKitSlot(slot)) return false;
  const KitSlot& k = staged.slots[slot].lastWritten();
  out = k.snapshot;
  note = k.note;
  used = k.used;
  return true;
}

bool EngineKit::gainPan(int slot, float& gain, float& pan) const {
  if (!validKitSlot(slot)) return false;
  const KitSlot& k = staged.slots[slot].lastWritten();
  gain = k.gain;
  pan = k.pan;
  return true;
}

void PluginProcessor::setAfxBaseKey(int key) {
  kitBaseKey.store(std::clamp(key, 0, kMaxKey), std::memory_order_relaxed);
}

// Stage 2: queued auditions become note-ons on their slots' keys; held ones end after their countdown.
void PluginProcessor::stageAuditionRing() {
  const int base = afxBaseKeyValue();
  const int32_t blocks = auditionBlocks(sampleRate);
  kit.audition.drain([&](int slot) {
    // A slot whose key lies past the top key cannot be played, and its clamped key plays another slot.
    if (!validKitSlot(slot) || base + slot > kMaxKey) return;
    const int key = base + slot;
    handleNoteOn(kAuditionChannel, key, kAuditionVelocity, 0);
    const int32_t released = kit.audition.hold(key, blocks);
    if (released >= 0) handleNoteOff(kAuditionChannel, released, 0);
  });
  kit.audition.countDown([&](int32_t key) { handleNoteOff(kAuditionChannel, key, 0); });
}

StereoGains PluginProcessor::voiceMixGains(const VoiceState& voice, float pan) const {
  if (!afxModeOn() || !validKitSlot(voice.kitSlot)) return panLaw(pan, 1.0f);
  const KitSlot& slot = kitSlots[voice.kitSlot];
  return panLaw(pan + slot.pan, slot.gain);
}
