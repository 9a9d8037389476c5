// Reading a file the one careful way every reader of user files uses: presets, kit files, tunings and the
// factory bank's marker.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The most bytes a file read here may hold (a Scala file's limit, kept for every kind of file).
inline constexpr size_t kMaxReadFileBytes = 1048575;

// Whether a missing file is reported: quiet for a file whose absence is an ordinary state (a marker that
// has not been written yet).
enum class MissingFile { logged, quiet };

// The whole content of the regular file at path (links followed) when it holds 1 to kMaxReadFileBytes
// bytes. The open never waits (a named pipe, socket or device never holds the caller), the opened file
// itself is checked, and no more than one byte past the limit is read. Anything else gives none and one
// log line naming the path and the reason.
std::optional<std::string> readRegularFile(const std::string& path,
                                           MissingFile missing = MissingFile::logged);
