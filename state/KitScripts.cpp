#include "state/KitScripts.h"

#include <algorithm>
#include <cstdio>

#include "platform/CLocale.h"
#include "state/SnapshotJson.h"

namespace {

// A present slot's fields as the page takes them.
struct PageSlot {
  ParamSnapshot snapshot;
  int note = 0;
  float gain = 1.0f;
  float pan01 = 0.5f;
};

bool presentSlot(const PluginProcessor& engine, int slot, PageSlot& out) {
  bool present = false;
  engine.getSlotCopy(slot, out.snapshot, out.note, present);
  if (!present) return false;
  float pan = 0.0f;
  engine.getSlotGainPan(slot, out.gain, pan);
  out.pan01 = std::clamp((pan + 1.0f) * 0.5f, 0.0f, 1.0f);
  return true;
}

std::string fixed(double value) {
  const platform::ScopedCLocale cLocale;
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

}  // namespace

std::string kitRestoreSlotsScript(const PluginProcessor& engine) {
  std::string script = "if(window.mlibRestoreSlots) window.mlibRestoreSlots({afxMode:";
  script += engine.afxModeOn() ? "true" : "false";
  script += ",baseKey:" + std::to_string(engine.afxBaseKeyValue()) + ",slots:[";
  PageSlot page;
  bool first = true;
  for (int slot = 0; slot < kNumKitSlots; ++slot) {
    if (!presentSlot(engine, slot, page)) continue;
    if (!first) script += ",";
    first = false;
    script += "{slot:" + std::to_string(slot) + ",note:" + std::to_string(page.note) +
              ",gain:" + fixed(page.gain) + ",pan:" + fixed(page.pan01) + "}";
  }
  return script + "]});";
}

std::string kitFirstSlotScript(const PluginProcessor& engine) {
  PageSlot page;
  for (int slot = 0; slot < kNumKitSlots; ++slot) {
    if (!presentSlot(engine, slot, page)) continue;
    return "if(window.mlibLoadSlot) window.mlibLoadSlot(" + std::to_string(slot) + "," +
           tavrin_slot_params_to_json(page.snapshot) + "," + std::to_string(page.note) + "," +
           fixed(page.gain) + "," + fixed(page.pan01) + ");";
  }
  return {};
}
