// The parameter values a voice plays in a block: the block cache, or in kit mode its kit slot's own.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/KitSlot.h"
#include "engine/ParamTable.h"
#include "engine/voice/VoiceState.h"

// By reference the engine's block cache, kit mode flag and render copies of the kit slots.
struct VoiceParams {
  const std::array<double, kNumParams>& cache;
  const std::atomic<bool>& kitMode;
  const std::array<KitSlot, kNumKitSlots>& kitSlots;

  // A parameter as the voice plays it: its kit slot's captured value (sanitised) in kit mode, else the
  // block cache value.
  double effParam(uint32_t id, const VoiceState& voice) const {
    if (id >= kNumParams) return 0.0;
    if (!kitMode.load(std::memory_order_relaxed)) return cache[id];
    return kitEffParam(id, voice);
  }
  // effParam in kit mode, id below kNumParams.
  double kitEffParam(uint32_t id, const VoiceState& voice) const;
  // The voice's kit slot captured id with a value other than the block's (NaN counts as other).
  bool kitOverridden(uint32_t id, const VoiceState& voice) const;
  // The slot the voice plays in kit mode, else null.
  const KitSlot* kitSlotOf(const VoiceState& voice) const;
};
