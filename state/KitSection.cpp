#include "state/KitSection.h"

#include <memory>

#include "state/SnapshotBinary.h"
#include "state/SnapshotMigration.h"
#include "state/StreamIo.h"

namespace {

bool writeSlot(const clap_ostream* stream, const PluginProcessor& engine, int slot) {
  ParamSnapshot snapshot;
  int note = 0;
  bool present = false;
  engine.getSlotCopy(slot, snapshot, note, present);
  if (!writeFlag(stream, present)) return false;
  if (!present) return true;
  float gain = 1.0f;
  float pan = 0.0f;
  engine.getSlotGainPan(slot, gain, pan);
  return writeField(stream, static_cast<int16_t>(note)) && writeSnapshotBinary(stream, snapshot) &&
         writeField(stream, gain) && writeField(stream, pan);
}

// One slot's fields; false at a short read. Sections before the gain-and-pan version keep 1.0 and 0.0;
// snapshots of old streams have their old values repaired.
bool readSlot(const clap_istream* stream, uint32_t version, KitSectionSlot& slot) {
  if (!readFlag(stream, slot.present)) return false;
  if (!slot.present) return true;
  if (!readField(stream, slot.note) || !readSnapshotBinary(stream, slot.snapshot)) return false;
  if (streamNeedsMigration(version)) migratePluckSnapshot(slot.snapshot);
  if (version < kKitSectionGainPanVersion) return true;
  return readField(stream, slot.gain) && readField(stream, slot.pan);
}

}  // namespace

bool tavrin_write_kit_section(const clap_ostream* stream, PluginProcessor& engine) {
  if (!writeFlag(stream, engine.afxModeOn()) || !writeField<int32_t>(stream, engine.afxBaseKeyValue()) ||
      !writeField<uint32_t>(stream, kNumKitSlots))
    return false;
  for (int slot = 0; slot < kNumKitSlots; ++slot)
    if (!writeSlot(stream, engine, slot)) return false;
  return true;
}

bool readKitSection(const clap_istream* stream, uint32_t streamVersion, KitSectionData& out) {
  out = KitSectionData{};
  if (!readFlag(stream, out.mode) || !readField(stream, out.baseKey) || !readField(stream, out.count) ||
      out.count > kKitSectionMaxSlots)
    return false;
  // Slots past the engine's last are read into a scratch slot and dropped.
  auto scratch = std::make_unique<KitSectionSlot>();
  for (uint32_t i = 0; i < out.count; ++i) {
    KitSectionSlot& slot = i < kNumKitSlots ? out.slots[i] : *scratch;
    if (!readSlot(stream, streamVersion, slot)) {
      slot.present = false;  // a slot cut short is not handed over
      return true;
    }
  }
  out.complete = true;
  return true;
}

void clearKit(PluginProcessor& engine) {
  engine.setAfxMode(false);
  engine.setAfxBaseKey(kDefaultKitBaseKey);
  for (int slot = 0; slot < kNumKitSlots; ++slot) engine.clearSlot(slot);
}

void applyKitSection(PluginProcessor& engine, const KitSectionData& data) {
  clearKit(engine);
  engine.setAfxBaseKey(data.baseKey);
  engine.setAfxMode(data.mode);
  for (int i = 0; i < kNumKitSlots; ++i) {
    const KitSectionSlot& slot = data.slots[i];
    if (slot.present) engine.setSlotSnapshotGainPan(i, slot.snapshot, slot.note, slot.gain, slot.pan);
  }
}

bool tavrin_read_kit_section(const clap_istream* stream, PluginProcessor& engine, uint32_t streamVersion) {
  auto data = std::make_unique<KitSectionData>();
  if (!readKitSection(stream, streamVersion, *data)) return false;
  applyKitSection(engine, *data);
  return true;
}
