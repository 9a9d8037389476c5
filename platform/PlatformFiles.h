// File writes that never leave a half-written file under its final name.
#pragma once

#include <string>
#include <string_view>

// Copies source to destination only when nothing at all exists there (not even a dangling link, so the
// copy never writes through one); a copy that fails part-way is removed again. True when this call made
// the complete copy.
bool copyFileExclusive(const std::string& source, const std::string& destination);

// Replaces the file at path by bytes in one step: writes a temporary file beside it, then renames it over
// path. On any failure the temporary file is removed and path is left as it was; the result is false.
bool writeFileAtomically(const std::string& path, std::string_view bytes);
