#include "tuning/ScalaParser.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

constexpr int kMaxCountLine = 1024;  // larger counts fail at once
constexpr size_t kCountLineBytes = 31;
constexpr size_t kNameBufferBytes = 255;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads an optionally signed decimal integer at the start of s. False when there are no digits or the
// value does not fit 64 bits.
bool readInteger(std::string_view s, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (__builtin_mul_overflow(v, int64_t{10}, &v) || __builtin_add_overflow(v, int64_t{s[i] - '0'}, &v))
      return false;
  }
  value = negative ? -v : v;
  return true;
}

// Reads a decimal number (sign, digits, point, digits, exponent) at the start of s.
bool readDecimal(std::string_view s, double& value) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  const auto r = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  return r.ec == std::errc();
}

// The ratio of one pitch token, or false for a malformed or non-positive one.
bool pitchRatio(std::string_view token, double& ratio) {
  if (token.find('.') != std::string_view::npos) {
    double cents;
    if (!readDecimal(token, cents)) return false;
    ratio = std::exp2(cents / 1200.0);
  } else if (const size_t slash = token.find('/'); slash != std::string_view::npos) {
    int64_t n, d;
    if (!readInteger(token, n) || !readInteger(token.substr(slash + 1), d) || n < 1 || d < 1) return false;
    ratio = double(n) / double(d);
  } else {
    int64_t n;
    if (!readInteger(token, n) || n < 1) return false;
    ratio = double(n);
  }
  return ratio > 0.0 && std::isfinite(ratio);
}

// Length of the UTF-8 sequence a lead byte starts, or 0 for a byte that cannot start one.
int sequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 0;
}

// Collects the parse as it goes; copied into the caller's record only on success.
struct ScalaReader {
  std::string_view description;
  bool haveDescription = false;
  bool haveCount = false;
  int64_t count = 0;
  int pitches = 0;  // pitch lines read, of which the first 64 are kept
  double ratios[kMaxTuningIntervals] = {};
  std::string_view tokens[kMaxTuningIntervals];

  bool line(std::string_view raw) {
    if (!raw.empty() && raw.front() == '!') return true;
    const std::string_view s = trimmed(raw);
    if (!haveDescription) {
      description = s;
      haveDescription = true;
      return true;
    }
    if (s.empty()) return true;
    if (!haveCount) {
      haveCount = true;
      return readInteger(s.substr(0, kCountLineBytes), count) && count >= 0 && count <= kMaxCountLine;
    }
    std::string_view token = s.substr(0, s.find_first_of(" \t"));
    double ratio;
    if (!pitchRatio(token, ratio)) return false;
    if (pitches < kMaxTuningIntervals) {
      ratios[pitches] = ratio;
      tokens[pitches] = token;
    }
    ++pitches;
    return true;
  }
};

}  // namespace

void cleanTuningName(char (&dst)[kTuningNameBytes], const char* text, size_t len) {
  char buffer[kNameBufferBytes] = {};
  size_t out = 0;
  size_t i = 0;
  while (i < len && out < kNameBufferBytes - 1) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int n = sequenceLength(c);
    if (n == 1) {
      buffer[out++] = char(c);
      ++i;
      continue;
    }
    if (n > 1 && i + n > len) {
      buffer[out++] = '?';
      break;
    }
    bool valid = n > 1;
    for (int k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      buffer[out++] = '?';
      ++i;
      continue;
    }
    if (out + n > kNameBufferBytes - 1) break;
    std::memcpy(buffer + out, text + i, n);
    out += n;
    i += n;
  }
  copyTuningName(dst, buffer);
}

bool parseScala(const char* text, size_t len, const char* name, LocalTuning& out) {
  if (!text || len == 0) return false;
  std::string_view all(text, len);
  if (all.size() >= 3 && all.substr(0, 3) == "\xEF\xBB\xBF") all.remove_prefix(3);

  ScalaReader reader;
  while (!all.empty()) {
    const size_t end = all.find_first_of("\r\n");
    if (!reader.line(all.substr(0, end))) return false;
    if (end == std::string_view::npos) break;
    const size_t next =
        (all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? end + 2 : end + 1;
    all.remove_prefix(next);
  }

  const int count = int(reader.count);
  if (!reader.haveCount || count < 1 || count > kMaxTuningIntervals || reader.pitches < count) return false;
  const double period = reader.ratios[count - 1];
  if (!(period > 1.0)) return false;

  LocalTuning t{};
  t.ratios[0] = 1.0;
  for (int i = 1; i < count; ++i) {
    t.ratios[i] = reader.ratios[i - 1];
    const std::string_view token = reader.tokens[i - 1].substr(0, kTuningTextBytes - 1);
    std::memcpy(t.degreeText[i], token.data(), token.size());
  }
  t.count = t.keysPerPeriod = count;
  t.periodRatio = period;
  if (name && name[0])
    cleanTuningName(t.name, name, std::strlen(name));
  else
    cleanTuningName(t.name, reader.description.data(), reader.description.size());
  out = t;
  return true;
}
