// Reader of MIDI Tuning Standard system-exclusive messages into an MTSClient's local table.
#pragma once

#include <cstddef>
#include <cstdint>

struct MTSClient;

namespace mts {

// Reads len bytes holding any number of system-exclusive messages (universal real-time or non-real-time,
// sub-ID 08: bulk dumps, single-note changes, scale/octave 1- and 2-byte forms) and retunes the client's
// local table. Device numbers, banks, programs, channel masks and checksums are not checked. Unknown
// bytes are skipped; a malformed message ends at the next F7, and an F0 inside a message starts a new
// one. A null client or null data does nothing.
void parseMIDIData(MTSClient* c, const uint8_t* data, size_t len);

}  // namespace mts
