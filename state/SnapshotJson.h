// The JSON form of a snapshot: one flat object. A captured parameter appears under its canonical name
// (kParamNameMap) with its value normalised to 0..1 over the parameter's range; the lanes and the
// settings kept beside them appear under the keys below. Numbers print in their classic text (six
// decimals), so a round trip moves a value by at most 0.0000005 of its range. The editor sends this
// form for the morph poles and kit slots, and the state stream's side data keeps the poles in it.
#pragma once

#include <cstddef>
#include <string>

#include "engine/ParamSnapshot.h"
#include "state/JsonTree.h"
#include "state/StateExport.h"

// The longest text the reader accepts, in bytes.
inline constexpr size_t kMaxSnapshotJsonBytes = 65536;

// Keys of one lane: its steps and ties (arrays), and its rate, run mode and division (numbers).
struct SnapshotLaneKeys {
  const char* steps;
  const char* ties;
  const char* rate;
  const char* run;
  const char* div;
};
inline constexpr SnapshotLaneKeys kSnapshotLaneKeys[ParamSnapshot::kSeqLanes] = {
    {"__seq0_steps", "__seq0_ties", "__seq0_rate", "__seq0_run", "__seq0_div"},
    {"__seq1_steps", "__seq1_ties", "__seq1_rate", "__seq1_run", "__seq1_div"}};
inline constexpr const char* kSnapshotKeySeq1Target = "__seq1_target";
inline constexpr const char* kSnapshotKeyLockA = "__lockA";
inline constexpr const char* kSnapshotKeyLockB = "__lockB";
inline constexpr const char* kSnapshotKeyCaptureSeq = "__seq";

// The full form of s, in this order: the captured parameters in kParamNameMap order, each captured
// lane's steps and ties (at most 8, ties as 1 or 0), "__seq1_target", the locks, each lane's rate, run
// mode and division when not absent (>= 0), and "__seq". Null when out of memory. Print it with
// classicJsonPrintUnformatted.
JsonTree snapshotToJsonObject(const ParamSnapshot& s);

// The captured parameters alone, printed unformatted; "{}" when nothing is captured or the text cannot
// be made. Exported with C linkage for callers inside the module; it returns a C++ string.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
TAVRIN_EXPORT std::string tavrin_slot_params_to_json(const ParamSnapshot& s);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

// Reads the JSON form into out, which is emptied first whatever follows. Refuses (false) a null or
// empty text, one longer than kMaxSnapshotJsonBytes, one that is not exactly one JSON value (white space
// aside), and a root that is not an object. Members naming a parameter with a number value are mapped back
// into the parameter's range (a later member for the same id wins); when there is at least one, every other
// parameter takes its default. Old values are not repaired: the page sends current ones, and a state
// stream repairs by its own version. Lane, lock and setting keys are read with their values clamped,
// truncated and saturated; unknown keys and values of the wrong type are ignored. When
// "__seq" is a number, *seqPresent := true (when given; it is never cleared). The result, and out.valid, is
// whether any parameter was read.
TAVRIN_EXPORT bool tavrin_parse_snapshot_json(const char* text, ParamSnapshot& out, bool* seqPresent);
