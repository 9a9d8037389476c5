// Reads Scala scale files (".scl") into a LocalTuning.
#pragma once

#include <cstddef>

#include "tuning/LocalTuning.h"

// Parses Scala text of len bytes (byte-order mark, CR/LF/CRLF line ends, '!' comments, description,
// count, then cents / n/d / integer pitch lines; the last kept pitch is the period). The name is `name`
// when non-empty, else the description, cleaned to valid UTF-8 and cut to 63 bytes. Returns true and
// fills out on success; returns false and leaves out untouched on any malformed or out-of-range input.
// Numbers are read without the locale; an integer that overflows 64 bits fails the file.
bool parseScala(const char* text, size_t len, const char* name, LocalTuning& out);

// Cleans text to valid UTF-8 (each invalid byte or broken sequence becomes '?') and cuts it to at
// most 63 bytes without splitting a sequence.
void cleanTuningName(char (&dst)[kTuningNameBytes], const char* text, size_t len);
