// Small UTF-8 / UTF-32 codec and a bounded code-point iterator over UTF-8 bytes.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace utf {

// Encoding tags.
struct utf8 {};
struct utf32 {};

namespace internal {

// The code point that stands in for anything that cannot be encoded or decoded (a frowning face).
inline constexpr char32_t kReplacementCodePoint = 0x2639;

// True for the Unicode scalar values: below the surrogates, and 0xE000..0x10FFFF.
constexpr bool validate_codepoint(char32_t cp) {
  return cp < 0xD800 || (cp >= 0xE000 && cp <= 0x10FFFF);
}

template <typename Encoding>
struct utf_traits;

// UTF-8: one to four bytes per code point. Continuation bytes are taken as they come (not checked).
template <>
struct utf_traits<utf8> {
  // Bytes announced by a lead byte; stray continuation bytes and 0xF8..0xFF count as one byte.
  static constexpr int read_length(uint8_t lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
  }

  // Bytes needed to encode cp; 0 for surrogates and values above 0x10FFFF.
  static constexpr int write_length(char32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0xD800) return 3;
    if (cp < 0xE000) return 0;
    if (cp < 0x10000) return 3;
    if (cp < 0x110000) return 4;
    return 0;
  }

  // Decodes the sequence at p, never reading at or past end (p < end). A sequence cut short by end,
  // or one that decodes to something other than a scalar value, gives the replacement code point.
  static char32_t decode(const char* p, const char* end) {
    const auto lead = static_cast<uint8_t>(*p);
    const int length = read_length(lead);
    if (end - p < length) return kReplacementCodePoint;
    static constexpr uint8_t kLeadMask[5]{0, 0xFF, 0x1F, 0x0F, 0x07};
    char32_t cp = lead & kLeadMask[length];
    for (int i = 1; i < length; ++i) {
      cp = (cp << 6) | (static_cast<uint8_t>(p[i]) & 0x3F);
    }
    return validate_codepoint(cp) ? cp : kReplacementCodePoint;
  }

  // Writes the encoding of a valid code point to out and returns the position after it.
  template <typename OutIt>
  static OutIt encode(char32_t cp, OutIt out) {
    const int length = write_length(cp);
    assert((length >= 1 && length <= 4) && "bad utf8 codeunit");
    static constexpr uint8_t kLeadBits[5]{0, 0x00, 0xC0, 0xE0, 0xF0};
    char bytes[4];
    for (int i = length - 1; i > 0; --i) {
      bytes[i] = static_cast<char>(0x80 | (cp & 0x3F));
      cp >>= 6;
    }
    bytes[0] = static_cast<char>(kLeadBits[length] | cp);
    for (int i = 0; i < length; ++i) *out++ = bytes[i];
    return out;
  }
};

// UTF-32: one code point per element.
template <>
struct utf_traits<utf32> {
  static constexpr int read_length(char32_t) { return 1; }
  static constexpr int write_length(char32_t) { return 1; }
  static char32_t decode(const char32_t* p, const char32_t*) { return *p; }
  template <typename OutIt>
  static OutIt encode(char32_t cp, OutIt out) {
    *out++ = cp;
    return out;
  }
};

}  // namespace internal

// Replaces anything that is not a Unicode scalar value by the replacement code point.
constexpr char32_t sanitized(char32_t cp) {
  return internal::validate_codepoint(cp) ? cp : internal::kReplacementCodePoint;
}

// Forward iterator over the code points of the UTF-8 bytes [begin, end). Each step moves by the length
// its lead byte announces, clamped to end, so malformed input never leads outside the range.
class codepoint_iterator {
public:
  codepoint_iterator() = default;
  codepoint_iterator(const char* pos, const char* end) : cursor(pos), limit(end) {}

  char32_t operator*() const { return internal::utf_traits<utf8>::decode(cursor, limit); }

  codepoint_iterator& operator++() {
    const std::ptrdiff_t step = internal::utf_traits<utf8>::read_length(static_cast<uint8_t>(*cursor));
    cursor = (limit - cursor < step) ? limit : cursor + step;
    return *this;
  }

  const char* position() const { return cursor; }
  bool operator==(const codepoint_iterator& b) const { return cursor == b.cursor; }

private:
  const char* cursor{nullptr};
  const char* limit{nullptr};
};

}  // namespace utf
