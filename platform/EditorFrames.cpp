#include "platform/EditorFrames.h"

#include <bit>
#include <cstring>

namespace platform::frames {

namespace {

static_assert(std::endian::native == std::endian::little, "frames are little-endian images");

constexpr size_t kLengthBytes = 4;
// The reader drops the bytes it handed out once they are this many.
constexpr size_t kCompactBytes = 1u << 16;

uint32_t readLength(const char* data) {
  uint32_t length = 0;
  std::memcpy(&length, data, kLengthBytes);
  return length;
}

}  // namespace

FrameWriter::FrameWriter(Kind kind) : bytes(kLengthBytes, '\0') {
  bytes.push_back(static_cast<char>(kind));
}

void FrameWriter::append(const void* value, size_t size) {
  bytes.append(static_cast<const char*>(value), size);
}

FrameWriter& FrameWriter::text(std::string_view value) {
  u32(static_cast<uint32_t>(value.size() > kMaxFrameBytes ? kMaxFrameBytes + 1 : value.size()));
  if (value.size() <= kMaxFrameBytes) bytes.append(value);
  return *this;
}

std::string FrameWriter::finish() {
  const size_t body = bytes.size() - kLengthBytes;
  if (body > kMaxFrameBytes) return {};
  const auto length = static_cast<uint32_t>(body);
  std::memcpy(bytes.data(), &length, kLengthBytes);
  return std::move(bytes);
}

FieldReader::FieldReader(std::string_view body) : rest(body) {
  uint8_t kind = 0;
  if (take(&kind, 1)) frameKind = static_cast<Kind>(kind);
}

bool FieldReader::take(void* out, size_t size) {
  if (!intact || rest.size() < size) {
    intact = false;
    std::memset(out, 0, size);
    return false;
  }
  std::memcpy(out, rest.data(), size);
  rest.remove_prefix(size);
  return true;
}

std::string FieldReader::text() {
  const uint32_t size = u32();
  if (!intact || rest.size() < size) {
    intact = false;
    return {};
  }
  std::string value(rest.substr(0, size));
  rest.remove_prefix(size);
  return value;
}

bool FrameReader::feed(const char* data, size_t size) {
  if (broken) return false;
  if (start >= kCompactBytes) {
    pending.erase(0, start);
    start = 0;
  }
  pending.append(data, size);
  // Only the next frame's length is checked here; next() checks each one as it reaches it.
  if (pending.size() - start >= kLengthBytes) {
    const uint32_t length = readLength(pending.data() + start);
    broken = length == 0 || length > kMaxFrameBytes;
  }
  return !broken;
}

std::optional<std::string> FrameReader::next() {
  if (broken || pending.size() - start < kLengthBytes) return std::nullopt;
  const uint32_t length = readLength(pending.data() + start);
  if (length == 0 || length > kMaxFrameBytes) {
    broken = true;
    return std::nullopt;
  }
  if (pending.size() - start - kLengthBytes < length) return std::nullopt;
  std::string body = pending.substr(start + kLengthBytes, length);
  start += kLengthBytes + length;
  return body;
}

}  // namespace platform::frames
