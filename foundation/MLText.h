// Immutable UTF-8 text with a small in-object buffer, iterated by code point.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "foundation/utf.h"

namespace ml {

// A UTF-8 text, always followed by a NUL byte. Texts shorter than kLocalBytes bytes live in the object;
// longer ones in one heap block of size + 1 bytes. Copies are deep.
class TextFragment {
public:
  static constexpr size_t kLocalBytes = 64;

  // Code-point iterator; holds its codec state in an owned record.
  class Iterator {
  public:
    Iterator(const char* pos, const char* end);
    Iterator(const Iterator& b);
    Iterator& operator=(const Iterator& b);
    ~Iterator();

    char32_t operator*() const;
    Iterator& operator++();
    char32_t operator++(int);
    bool operator==(const Iterator& b) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
  };

  TextFragment() noexcept;
  TextFragment(const char* text);  // NOLINT: texts convert implicitly, as string literals do
  TextFragment(const char* text, size_t lengthInBytes);
  explicit TextFragment(char32_t codePoint);
  TextFragment(const TextFragment& b);
  TextFragment& operator=(const TextFragment& b);
  TextFragment(TextFragment&& b) noexcept;
  TextFragment& operator=(TextFragment&& b) noexcept;
  ~TextFragment();

  // Concatenation of 2 to 8 fragments in order, in one allocation.
  template <typename... Parts>
  requires(sizeof...(Parts) >= 2 && sizeof...(Parts) <= 8 &&
           (std::same_as<Parts, TextFragment> && ...)) explicit TextFragment(const Parts&... parts) {
    const TextFragment* list[]{&parts...};
    concatenate(list, sizeof...(Parts));
  }

  const char* getText() const { return pText; }
  size_t lengthInBytes() const { return size; }
  size_t lengthInCodePoints() const;

  Iterator begin() const { return Iterator(pText, pText + size); }
  Iterator end() const { return Iterator(pText + size, pText + size); }

private:
  void allocate(size_t length);
  void dispose();
  void assign(const char* text, size_t length);
  void moveFrom(TextFragment& b) noexcept;
  void concatenate(const TextFragment* const* parts, size_t count);

  char localText[kLocalBytes];
  char* pText{localText};
  size_t size{0};
};

// True when both byte arrays have the same length and bytes.
bool compareSizedCharArrays(const char* a, size_t na, const char* b, size_t nb);

std::vector<uint8_t> textToByteVector(const TextFragment& text);
TextFragment byteVectorToText(const std::vector<uint8_t>& bytes);
std::vector<char32_t> textToCodePoints(const TextFragment& text);
// UTF-8 encoding of the code points; anything that is not a scalar value becomes U+2639.
TextFragment codePointsToText(const std::vector<char32_t>& codePoints);

std::ostream& operator<<(std::ostream& out, const TextFragment& text);

extern const TextFragment kBlobHeader;

}  // namespace ml
