#include "engine/KitAudition.h"

#include <algorithm>
#include <cmath>

#include "engine/KitSlot.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr double kAuditionSeconds = 0.15;
constexpr int32_t kMinAuditionBlocks = 2;

}  // namespace

void KitAudition::request(int slot) {
  if (!validKitSlot(slot)) return;
  const uint32_t w = writeIndex.load(std::memory_order_relaxed);
  const uint32_t next = (w + 1) % kRingSize;
  if (next == readIndex.load(std::memory_order_acquire)) return;
  ring[w].store(static_cast<int8_t>(slot), std::memory_order_relaxed);
  writeIndex.store(next, std::memory_order_release);
}

int32_t KitAudition::hold(int32_t note, int32_t countdown) {
  auto held = std::find_if(entries.begin(), entries.end(), [note](const Entry& e) { return e.note == note; });
  if (held == entries.end())
    held = std::find_if(entries.begin(), entries.end(), [](const Entry& e) { return e.note < 0; });
  int32_t released = -1;
  if (held == entries.end()) {
    held = entries.begin();
    released = held->note;
  }
  *held = Entry{note, countdown};
  return released;
}

int32_t auditionBlocks(double sampleRate) {
  const double blocks = std::trunc(kAuditionSeconds * sampleRate / double(ml::kFloatsPerDSPVector));
  return std::max(kMinAuditionBlocks, ml::saturateToInt32(blocks));
}
