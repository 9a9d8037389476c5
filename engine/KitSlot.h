// Kit slots: a captured sound per key of the kit, with the note it plays, its gain and its pan, and the
// hand-over of edited slots from the main thread to the audio thread.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

#include "engine/ParamSnapshot.h"
#include "foundation/MLHandOver.h"

inline constexpr int kNumKitSlots = 24;
inline constexpr int32_t kDefaultKitBaseKey = 36;

// One kit slot. The slot's key is the kit's base key + its index; a note played on that key sounds the
// snapshot at `note` (0..127), scaled by `gain` (linear, 0..4) and panned by `pan` (-1..1, added to the
// voice's own pan). `used`: the snapshot holds a capture, so the key plays the slot.
struct KitSlot {
  ParamSnapshot snapshot;
  uint16_t note{0};
  bool used{false};
  float gain{1.0f};
  float pan{0.0f};
};

static_assert(std::is_trivially_copyable_v<KitSlot>);

inline bool validKitSlot(int slot) {
  return slot >= 0 && slot < kNumKitSlots;
}

// Values from outside made safe for a slot: notes clamp to 0..127; gain clamps to 0..4 and pan to -1..1,
// and a gain or pan that is not finite takes the neutral 1.0 or 0.0.
uint16_t kitSlotNote(int note);
float kitSlotGain(float gain);
float kitSlotPan(float pan);

// The key that plays slot from the base key, clamped to 0..127.
int kitSlotKey(int baseKey, int slot);

// An empty slot at its own key: no capture, note = that key, gain 1.0, pan 0.0.
KitSlot emptyKitSlot(int slot, int baseKey);

// Puts a snapshot from outside into a slot: sanitised, the note clamped, used = the snapshot's capture.
// A negative note means none was given: the slot keeps its note (its own key unless set), rather than
// playing the inaudible note 0.
void putKitSlotSound(KitSlot& k, const ParamSnapshot& s, int note);

// The main thread's copies of the 24 slots and their hand-over. Every writer fills a slot in place, so
// an edit of one field keeps the others; the audio thread takes each published slot at the next block.
struct KitSlotStage {
  std::array<ml::HandOver<KitSlot>, kNumKitSlots> slots;

  // Each slot empty at the default base key, not published (the render copies start the same).
  KitSlotStage();

  // Audio thread: copies each published slot into its render copy.
  void takePublished(std::array<KitSlot, kNumKitSlots>& render);
};

// The render copies as they start: every slot empty at the default base key.
std::array<KitSlot, kNumKitSlots> emptyKitSlots();
