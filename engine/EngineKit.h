// The engine's kit as the main thread edits it: the staged slots with their hand-over, and the audition.
#pragma once

#include "engine/KitAudition.h"
#include "engine/KitSlot.h"

// The 24 staged slots and the audition requests. Slot indices outside 0..23 are ignored and the getters
// answer false for them. Every setter hands the slot to the next block and keeps the fields it does not
// set; values from outside are made safe as KitSlot.h says.
struct EngineKit {
  // Main thread.
  void setSound(int slot, const ParamSnapshot& s, int note);
  void setNote(int slot, int note);
  void setGain(int slot, float gain);
  void setPan(int slot, float pan);
  void setSoundGainPan(int slot, const ParamSnapshot& s, int note, float gain, float pan);
  // Empties the slot at its own key from baseKey.
  void clear(int slot, int baseKey);
  // The staged slot as last written.
  bool copySound(int slot, ParamSnapshot& out, int& note, bool& used) const;
  bool gainPan(int slot, float& gain, float& pan) const;

  KitSlotStage staged;
  KitAudition audition;
};
