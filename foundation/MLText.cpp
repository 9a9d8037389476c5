// Immutable UTF-8 text with a small in-object buffer, iterated by code point.
#include "foundation/MLText.h"

#include <cassert>
#include <cstring>
#include <iterator>

namespace ml {

const TextFragment kBlobHeader{"!BLOB!"};

struct TextFragment::Iterator::Impl {
  utf::codepoint_iterator it;
};

TextFragment::Iterator::Iterator(const char* pos, const char* end)
    : impl(std::make_unique<Impl>(Impl{utf::codepoint_iterator(pos, end)})) {}

TextFragment::Iterator::Iterator(const Iterator& b) : impl(std::make_unique<Impl>(*b.impl)) {}

TextFragment::Iterator& TextFragment::Iterator::operator=(const Iterator& b) {
  *impl = *b.impl;
  return *this;
}

TextFragment::Iterator::~Iterator() = default;

char32_t TextFragment::Iterator::operator*() const {
  return *impl->it;
}

TextFragment::Iterator& TextFragment::Iterator::operator++() {
  ++impl->it;
  return *this;
}

char32_t TextFragment::Iterator::operator++(int) {
  const char32_t current = *impl->it;
  ++impl->it;
  return current;
}

bool TextFragment::Iterator::operator==(const Iterator& b) const {
  return impl->it == b.impl->it;
}

TextFragment::TextFragment() noexcept {
  localText[0] = 0;
}

TextFragment::TextFragment(const char* text) {
  assign(text, text ? std::strlen(text) : 0);
}

TextFragment::TextFragment(const char* text, size_t lengthInBytes) {
  assign(text, text ? lengthInBytes : 0);
}

TextFragment::TextFragment(char32_t codePoint) {
  char bytes[4];
  char* end = utf::internal::utf_traits<utf::utf8>::encode(utf::sanitized(codePoint), bytes);
  assign(bytes, static_cast<size_t>(end - bytes));
}

TextFragment::TextFragment(const TextFragment& b) {
  assign(b.pText, b.size);
}

TextFragment& TextFragment::operator=(const TextFragment& b) {
  if (this != &b) {
    dispose();
    assign(b.pText, b.size);
  }
  return *this;
}

TextFragment::TextFragment(TextFragment&& b) noexcept {
  moveFrom(b);
}

TextFragment& TextFragment::operator=(TextFragment&& b) noexcept {
  if (this != &b) {
    dispose();
    moveFrom(b);
  }
  return *this;
}

TextFragment::~TextFragment() {
  assert(pText[size] == 0 && "pText_[size_] == 0");
  dispose();
}

size_t TextFragment::lengthInCodePoints() const {
  size_t count = 0;
  for (utf::codepoint_iterator it(pText, pText + size), end(pText + size, pText + size); it != end; ++it) {
    ++count;
  }
  return count;
}

void TextFragment::allocate(size_t length) {
  size = length;
  pText = length < kLocalBytes ? localText : new char[length + 1];
  pText[length] = 0;
}

void TextFragment::dispose() {
  if (pText != localText) delete[] pText;
  pText = localText;
  size = 0;
  localText[0] = 0;
}

void TextFragment::assign(const char* text, size_t length) {
  allocate(length);
  if (length > 0) std::memcpy(pText, text, length);
}

void TextFragment::moveFrom(TextFragment& b) noexcept {
  if (b.pText == b.localText) {
    std::memcpy(localText, b.localText, b.size + 1);
    pText = localText;
  } else {
    pText = b.pText;
    b.pText = b.localText;
  }
  size = b.size;
  b.size = 0;
  b.localText[0] = 0;
}

void TextFragment::concatenate(const TextFragment* const* parts, size_t count) {
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += parts[i]->size;
  allocate(total);
  char* out = pText;
  for (size_t i = 0; i < count; ++i) {
    if (parts[i]->size > 0) std::memcpy(out, parts[i]->pText, parts[i]->size);
    out += parts[i]->size;
  }
}

bool compareSizedCharArrays(const char* a, size_t na, const char* b, size_t nb) {
  if (na != nb) return false;
  if (na == 0) return true;
  return std::memcmp(a, b, na) == 0;
}

std::vector<uint8_t> textToByteVector(const TextFragment& text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.getText());
  return std::vector<uint8_t>(p, p + text.lengthInBytes());
}

TextFragment byteVectorToText(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return TextFragment();
  return TextFragment(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<char32_t> textToCodePoints(const TextFragment& text) {
  std::vector<char32_t> codePoints;
  const char* end = text.getText() + text.lengthInBytes();
  for (utf::codepoint_iterator it(text.getText(), end), stop(end, end); it != stop; ++it) {
    codePoints.push_back(*it);
  }
  return codePoints;
}

TextFragment codePointsToText(const std::vector<char32_t>& codePoints) {
  std::vector<char> bytes;
  bytes.reserve(codePoints.size() * 4);
  auto out = std::back_inserter(bytes);
  for (char32_t cp : codePoints) {
    out = utf::internal::utf_traits<utf::utf8>::encode(utf::sanitized(cp), out);
  }
  return TextFragment(bytes.data(), bytes.size());
}

std::ostream& operator<<(std::ostream& out, const TextFragment& text) {
  return out << text.getText();
}

}  // namespace ml
