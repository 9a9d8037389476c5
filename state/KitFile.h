// Kit files: the magic "TKIT", uint32 version (written as 2), then a kit section with gain and pan. A file
// of version 1 holds a section of stream version 5, whose snapshots get the repairs of old values; one of
// version 2 a section of the current stream version, restored exactly. Main thread only.
#pragma once

#include <cstdint>
#include <mutex>
#include <system_error>

#include "engine/PluginProcessor.h"

inline constexpr char kKitFileMagic[4] = {'T', 'K', 'I', 'T'};
inline constexpr uint32_t kKitFileVersion = 2;

// Writes the engine's kit to path, taking kitLock while the kit is read. The file replaces path in one
// step once it is complete, so a failed save leaves an existing file as it was. False for a null or
// empty path and at any file failure, with the reason in error.
bool saveKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock, std::error_code& error);

// Reads the kit file at path (with readRegularFileUnlogged) and, only when the whole file is good,
// replaces the engine's kit with it under kitLock. False, with the kit untouched and the reason in reason
// (nothing is logged), for a null or empty path, a file that cannot be read, another magic, a version
// other than 1 or 2, or a section that is refused or cut short.
bool loadKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock, std::string& reason);
