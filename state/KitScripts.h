// The scripts that tell an open editor page which kit the engine holds: after a kit file load and when
// the page is brought up to date. The page's functions are guarded by existence tests, so a page that
// lacks them ignores the calls. Main thread; the caller holds the lock that guards the kit slots.
#pragma once

#include <string>

#include "engine/PluginProcessor.h"

// "if(window.mlibRestoreSlots) window.mlibRestoreSlots({afxMode:true|false,baseKey:K,slots:[...]});"
// with one {slot:S,note:N,gain:G,pan:P} per present slot in slot order; gain and pan in "%f" form, the pan
// mapped to 0..1.
std::string kitRestoreSlotsScript(const PluginProcessor& engine);

// "if(window.mlibLoadSlot) window.mlibLoadSlot(S,{params},N,G,P);" for the first present slot, with the
// slot's captured parameters as an object literal; empty when no slot is present.
std::string kitFirstSlotScript(const PluginProcessor& engine);
