// The host state stream: everything one plug-in instance keeps in the host's project. Little-endian
// fields, no padding, no checksum:
//
//   "TVRN", version (uint32, written as 6), parameter count (uint32, written as 119), count plain values
//   (float64) by id; from version 2 the controller map (128 x uint32); from version 3 the side-data
//   length (uint32) and that many bytes of JSON text; from version 4 the kit section (gain and pan per
//   slot from version 5). Version 6 has the layout of version 5; it marks streams whose values restore
//   exactly, while those of version 5 and older get the repairs of old values.
//
// A stream that does not start with "TVRN" is the legacy form: 47 plain values (float64) for ids 0..46.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "clap/stream.h"
#include "engine/PluginProcessor.h"
#include "state/StateExport.h"
#include "state/StateSidecar.h"

inline constexpr char kStateMagic[4] = {'T', 'V', 'R', 'N'};
inline constexpr uint32_t kStateVersion = 6;
inline constexpr uint32_t kLegacyParamCount = 47;
// The side-data text the reader takes, in bytes; a longer block is skipped whole.
inline constexpr uint32_t kMaxSideDataBytes = 16u << 20;

// Writes the whole state: parameters, the sidecar's controller map, its JSON merged with the engine's
// side data (poles, tuning, locks, live lanes, window size) and the kit. `lock` guards the sidecar's
// texts, the morph poles and the kit; it is taken for short spans only. False at the first failed write.
TAVRIN_EXPORT bool tavrin_state_save_stream(const clap_ostream* stream, PluginProcessor& engine,
                                            TavrinStateSidecar& sidecar, std::mutex& lock);

// Reads a stream of any version or the legacy form whole, and only then resets the engine and the
// sidecar's texts, hands over what was read, repairs the old values of streams up to version 5 and the
// legacy form, and applies the side data (re-reading Scala files from sidecar.tuningsDir). False, with
// the engine and the sidecar untouched, when the header (magic, version, count, or the legacy form's
// first value) cannot be read, or a legacy stream is longer than 47 values or holds a value that is not
// finite or lies more than a range width outside its parameter's range. Every later short read ends its
// field group and the load still succeeds. The controller map and the window sizes are not reset; the
// envelope model is classic unless the side data holds an "envFeel" of 2 or more.
TAVRIN_EXPORT bool tavrin_state_load_stream(const clap_istream* stream, PluginProcessor& engine,
                                            TavrinStateSidecar& sidecar, std::mutex& lock);

// The same over memory, each with a lock of its own (so not while an editor is open on the engine):
// save clears out and appends the stream; load refuses null data or size 0 without resetting anything.
TAVRIN_EXPORT bool tavrin_state_save(PluginProcessor& engine, std::vector<uint8_t>& out,
                                     TavrinStateSidecar& sidecar);
TAVRIN_EXPORT bool tavrin_state_load(PluginProcessor& engine, const uint8_t* data, size_t size,
                                     TavrinStateSidecar& sidecar);
