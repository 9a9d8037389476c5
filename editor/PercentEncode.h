// Text for scripts sent into the editor document: percent-encoded UTF-8 that the document restores with
// decodeURIComponent.
#pragma once

#include <cstddef>
#include <string>

// Copies ASCII letters, digits and "-_.~"; every other byte becomes "%" and two upper-case hexadecimal
// digits. Multi-byte characters are encoded byte by byte.
std::string tavrinPercentEncode(const char* bytes, size_t length);
std::string tavrinPercentEncode(const std::string& text);
