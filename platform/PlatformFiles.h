// File writes that never leave a half-written file under its final name. On failure each sets error to
// the system's reason; on success it clears error.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

// Copies source to destination only when nothing at all exists there (not even a dangling link, so the
// copy never writes through one); a copy that fails part-way is removed again. True when this call made
// the complete copy; an existing destination gives false with error "File exists".
bool copyFileExclusive(const std::string& source, const std::string& destination, std::error_code& error);

// Replaces the file at path by bytes in one step: writes a temporary file beside it, then renames it over
// path. On any failure the temporary file is removed and path is left as it was; the result is false.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::error_code& error);

// Renames from to to only when nothing exists at to, so that no file is ever replaced by the rename.
bool renameWithoutReplacing(const std::string& from, const std::string& to, std::error_code& error);
