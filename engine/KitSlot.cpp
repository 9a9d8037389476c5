#include "engine/KitSlot.h"

#include <algorithm>

#include "foundation/MLSafeValue.h"

namespace {

constexpr int kMaxNote = 127;
constexpr float kMaxGain = 4.0f;

}  // namespace

uint16_t kitSlotNote(int note) {
  return static_cast<uint16_t>(std::clamp(note, 0, kMaxNote));
}

float kitSlotGain(float gain) {
  return ml::safeClamp(ml::finiteOr(gain, 1.0f), 0.0f, kMaxGain);
}

float kitSlotPan(float pan) {
  return ml::safeClamp(ml::finiteOr(pan, 0.0f), -1.0f, 1.0f);
}

int kitSlotKey(int baseKey, int slot) {
  // Widened so that no base key or slot from outside overflows the sum.
  return static_cast<int>(std::clamp<int64_t>(int64_t{baseKey} + slot, 0, kMaxNote));
}

KitSlot emptyKitSlot(int slot, int baseKey) {
  KitSlot k;
  k.note = static_cast<uint16_t>(kitSlotKey(baseKey, slot));
  return k;
}

void putKitSlotSound(KitSlot& k, const ParamSnapshot& s, int note) {
  k.snapshot = s;
  sanitizeSnapshot(k.snapshot);
  if (note >= 0) k.note = kitSlotNote(note);
  k.used = k.snapshot.valid;
}

KitSlotStage::KitSlotStage() {
  for (int s = 0; s < kNumKitSlots; ++s)
    slots[s].edit([s](KitSlot& k) { k = emptyKitSlot(s, kDefaultKitBaseKey); });
}

void KitSlotStage::takePublished(std::array<KitSlot, kNumKitSlots>& render) {
  for (int s = 0; s < kNumKitSlots; ++s) slots[s].take([&](const KitSlot& k) { render[s] = k; });
}

std::array<KitSlot, kNumKitSlots> emptyKitSlots() {
  std::array<KitSlot, kNumKitSlots> slots;
  for (int s = 0; s < kNumKitSlots; ++s) slots[s] = emptyKitSlot(s, kDefaultKitBaseKey);
  return slots;
}
