// The binary form of a snapshot, as stored for each present slot of a kit section. Little-endian fields
// without padding, 1,170 bytes when written:
//
//   count (uint32, written as 119), count x value (float64), count x captured flag (uint8),
//   valid (uint8), then for lanes 0 and 1: 8 x step (float32), 8 x tie (uint8), step count (uint32),
//   lane captured (uint8); last lane 1's target (uint32).
//
// The locks, lane rates, run modes, divisions and capture sequence are not part of this form.
#pragma once

#include <cstddef>

#include "clap/stream.h"
#include "engine/ParamSnapshot.h"

inline constexpr size_t kSnapshotBinarySize = 1170;

// Writes s field by field; false at the first failed write.
bool writeSnapshotBinary(const clap_ostream* stream, const ParamSnapshot& s);

// Empties out, then reads one snapshot: of count values and flags the first 119 are kept; flags, valid
// and lane captured read any non-zero byte as set; steps, ties, step counts and the target are stored as
// read (a step count may exceed 8). Old values are not repaired here: that depends on the stream that
// carries the snapshot. False at a short read, with the fields read before it kept in out.
bool readSnapshotBinary(const clap_istream* stream, ParamSnapshot& out);
