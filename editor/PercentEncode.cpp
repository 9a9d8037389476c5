#include "editor/PercentEncode.h"

namespace {

bool passesUnencoded(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

}  // namespace

std::string tavrinPercentEncode(const char* bytes, size_t length) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string encoded;
  if (bytes == nullptr) return encoded;
  encoded.reserve(length + length / 4);
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (passesUnencoded(c)) {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('%');
      encoded.push_back(hex[c >> 4]);
      encoded.push_back(hex[c & 0x0F]);
    }
  }
  return encoded;
}

std::string tavrinPercentEncode(const std::string& text) {
  return tavrinPercentEncode(text.data(), text.size());
}
