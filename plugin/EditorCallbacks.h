// What the editor page's messages do to the plug-in: the bodies of the editor's callback slots. Every
// function runs on the main thread and takes untrusted input: null texts, names the plug-in does not
// know, values that are not finite and malformed JSON are ignored (or, for snapshots, clear the target).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "editor/FileOutcome.h"
#include "tuning/LocalTuning.h"

class CLAPPlugin;

// Slot 0: a parameter edit by canonical name or alias (normalised 0..1), or one of the editor's "__"
// control keys (UI flags, kit slots, lane settings, controller learn, resync).
void editorSetValue(CLAPPlugin& plugin, const char* name, double value);

// The UI state keys that the native side owns: their stored values survive the page's updates.
inline constexpr const char* kNativeKeys[] = {"windowWidth", "windowHeight", "tuningFile", "localTuning"};
inline constexpr size_t kMaxUIStateBytes = 65536;

// The page's UI-state JSON object with the native keys taken from the stored JSON, printed unformatted;
// nothing for a null text, one above kMaxUIStateBytes, one that does not parse or is not an object.
std::optional<std::string> mergeUIState(const char* pageJson, const std::string& stored);

// Slot 1: stores the merged UI state.
void editorUIState(CLAPPlugin& plugin, const char* json);

// Slot 8: morph pole which (0 A, 1 B) from snapshot JSON, with the locks and lane settings the engine
// holds now; a capture older than the pole held is dropped; JSON that does not read clears the pole.
void editorSnapshot(CLAPPlugin& plugin, int which, const char* json);

// Slot 10: kit slot from snapshot JSON (note -1 keeps the slot's note); JSON that does not read clears it.
void editorSlotSnap(CLAPPlugin& plugin, int slot, int note, const char* json);

// Slots 9 and 11.
void editorSnapshotClear(CLAPPlugin& plugin, int which);
void editorSlotClear(CLAPPlugin& plugin, int slot);

// Slot 5: Scala text becomes the local tuning (source "file"); text that does not parse changes nothing
// and answers false.
bool editorLoadTuning(CLAPPlugin& plugin, const char* name, const char* text, size_t length);

// Slot 6: the local tuning off, and its name, file and source forgotten.
void editorClearTuning(CLAPPlugin& plugin);

// The local-tuning record of intervals sent by the page: at most 64; a first interval at or below 0
// becomes 1; the period when finite and above 1, else 2; labels and name cut to their fields. False for
// null intervals, a count below 1, or an interval that is not finite or (past the first) not above 0.
bool embeddedTuning(const char* name, double period, const double* intervals, int count,
                    const char* const* labels, LocalTuning& out);

// Slot 7: the embedded tuning becomes the local tuning (source "embed").
void editorTuningEmbed(CLAPPlugin& plugin, const char* name, double period, const double* intervals,
                       int count, const char* const* labels);

// Slot 12: op 0 saves the kit to path, any other op loads it and, when that succeeds, tells the page
// which slots the kit holds and shows the first present one. A failure is logged and answered with its
// reason; a null path does nothing and fails.
FileOutcome editorKitFile(CLAPPlugin& plugin, int op, const char* path);

// The scripts of the full resync after the parameters, in the order they are sent: the morph snapshot
// sequence numbers, the envelope model, the UI state, the kit, the controller map, the MTS-ESP lamps
// and, with a master connected, its tuning. Takes the plug-in's stateMutex for the parts it guards.
std::vector<std::string> syncStateScripts(CLAPPlugin& plugin);
// The whole resync: every parameter, then syncStateScripts.
std::vector<std::string> editorSyncScripts(CLAPPlugin& plugin);
