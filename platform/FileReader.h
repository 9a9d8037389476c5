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

// What a read gave: the bytes, or why there are none.
struct FileRead {
  std::optional<std::string> bytes;
  std::string reason;    // why there are no bytes, e.g. "it is a named pipe, not a regular file"
  bool missing = false;  // nothing exists at the path
};

// The read readRegularFile makes, with the reason handed back instead of logged: for a caller that tells
// the person who asked, in one line that also says what was tried.
FileRead readRegularFileUnlogged(const std::string& path);

// The whole content of the regular file at path (links followed) when it holds 1 to kMaxReadFileBytes
// bytes. The open never waits (a named pipe, socket or device never holds the caller), the opened file
// itself is checked, and no more than one byte past the limit is read. Anything else gives none and one
// log line naming the path and the reason.
std::optional<std::string> readRegularFile(const std::string& path,
                                           MissingFile missing = MissingFile::logged);
