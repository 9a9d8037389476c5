// Checks and scans of text that comes from files and from the editor document.
#pragma once

#include <cstdint>
#include <string_view>

// c in lower case when it is an ASCII capital letter, else c itself.
constexpr char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The leading decimal integer of text after white space, with an optional sign, saturated to the int32
// range; 0 when there is none.
int32_t leadingInteger(std::string_view text);
