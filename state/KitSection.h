// The kit as one byte block: kit mode, base key and the slots, each a captured sound with its note, gain
// and pan. The block closes the host state stream and is the body of a kit file. Little-endian fields,
// no padding, no length prefix, no magic:
//
//   kit mode (uint8, non-zero = on), base key (int32), slot count (uint32, written as 24), then per slot
//   present (uint8); a present slot adds its note (int16), its snapshot in binary form and, from stream
//   version 5 on, gain and pan (float32 each).
//
// An empty slot is one byte; a present one 1 + 2 + 1,170 + 8 = 1,181 bytes.
#pragma once

#include <array>
#include <cstdint>

#include "clap/stream.h"
#include "engine/PluginProcessor.h"
#include "state/StateExport.h"

inline constexpr uint32_t kKitSectionMaxSlots = 1024;     // a larger count is refused
inline constexpr uint32_t kKitSectionGainPanVersion = 5;  // stream version that added gain and pan

// One slot as read: present, and for a present slot its note (as stored), snapshot, gain and pan.
struct KitSectionSlot {
  bool present{false};
  int16_t note{0};
  ParamSnapshot snapshot;
  float gain{1.0f};
  float pan{0.0f};
};

// A kit section as read, before it reaches the engine. `complete`: every slot the section counts was
// read (a short read ends the slots early). Large: keep it on the heap.
struct KitSectionData {
  bool mode{false};
  int32_t baseKey{kDefaultKitBaseKey};
  uint32_t count{0};
  std::array<KitSectionSlot, kNumKitSlots> slots{};
  bool complete{false};
};

// Writes the engine's kit; false at the first failed write. The caller holds the lock that guards the
// kit slots.
TAVRIN_EXPORT bool tavrin_write_kit_section(const clap_ostream* stream, PluginProcessor& engine);

// Reads a section written by a stream of streamVersion (whose snapshots are repaired when that version is
// old, see streamNeedsMigration) and replaces the engine's kit with it. False, with the kit untouched,
// when the mode, base key or count cannot be read or the count is above 1024. Otherwise the kit is
// emptied, the base key and mode are set and the slots read before any short read are handed over
// (slots past 23 are read and dropped); the result is true even when the section is cut.
TAVRIN_EXPORT bool tavrin_read_kit_section(const clap_istream* stream, PluginProcessor& engine,
                                           uint32_t streamVersion);

// The reading half of tavrin_read_kit_section: false only when the section's header is unreadable or
// its count refused.
bool readKitSection(const clap_istream* stream, uint32_t streamVersion, KitSectionData& out);

// Empties the engine's kit: kit mode off, base key 36, every slot cleared.
void clearKit(PluginProcessor& engine);

// Empties the kit, then sets the base key, the mode and the present slots of data.
void applyKitSection(PluginProcessor& engine, const KitSectionData& data);
