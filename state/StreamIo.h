// Whole-field reads and writes on the host's CLAP streams, and the fixed-width little-endian fields that
// every persisted binary form is made of (no padding, no checksum).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "clap/stream.h"
#include "state/StateExport.h"

// Calls the stream's write until all size bytes are taken, advancing by each answer. False for a null
// stream, a stream without a write function or null data with size > 0, and as soon as a call answers
// below 1 (error or end) or more bytes than were offered.
TAVRIN_EXPORT bool tavrin_stream_write_all(const clap_ostream* stream, const void* data, size_t size);

// Calls the stream's read until size bytes are in data, with the same rules as the writer. On false the
// bytes read so far are in data.
TAVRIN_EXPORT bool tavrin_stream_read_all(const clap_istream* stream, void* data, size_t size);

// A stream that appends every byte written to a vector (a write always takes everything).
class AppendingOStream {
public:
  explicit AppendingOStream(std::vector<uint8_t>& bytes) : sink(bytes) {}
  AppendingOStream(const AppendingOStream&) = delete;
  AppendingOStream& operator=(const AppendingOStream&) = delete;

  const clap_ostream* stream() const { return &ostream; }

private:
  static int64_t write(const clap_ostream* stream, const void* buffer, uint64_t size);

  std::vector<uint8_t>& sink;
  clap_ostream ostream{this, &AppendingOStream::write};
};

// A stream that reads a memory buffer from its start; a read answers min(requested, remaining) bytes, 0
// at the end. The buffer must outlive the stream.
class BufferIStream {
public:
  BufferIStream(const void* bytes, size_t count) : data(static_cast<const uint8_t*>(bytes)), size(count) {}
  BufferIStream(const BufferIStream&) = delete;
  BufferIStream& operator=(const BufferIStream&) = delete;

  const clap_istream* stream() const { return &istream; }

private:
  static int64_t read(const clap_istream* stream, void* buffer, uint64_t size);

  const uint8_t* data;
  size_t size;
  size_t position = 0;
  clap_istream istream{this, &BufferIStream::read};
};

// A field of a binary form: an integer (not bool) or a float type of 1, 2, 4 or 8 bytes.
template <typename T>
concept StreamField = std::is_arithmetic_v<T> && !std::is_same_v<T, bool> &&
                      (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);

namespace stream_detail {

template <size_t N>
using Bits =
    std::conditional_t<N == 1, uint8_t,
                       std::conditional_t<N == 2, uint16_t, std::conditional_t<N == 4, uint32_t, uint64_t>>>;

}  // namespace stream_detail

// Writes value as its little-endian bytes.
template <StreamField T>
bool writeField(const clap_ostream* stream, T value) {
  const auto bits = std::bit_cast<stream_detail::Bits<sizeof(T)>>(value);
  uint8_t bytes[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  return tavrin_stream_write_all(stream, bytes, sizeof(T));
}

// Reads a little-endian field into value; value is untouched when the read comes up short.
template <StreamField T>
bool readField(const clap_istream* stream, T& value) {
  uint8_t bytes[sizeof(T)];
  if (!tavrin_stream_read_all(stream, bytes, sizeof(T))) return false;
  stream_detail::Bits<sizeof(T)> bits = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    bits |= static_cast<stream_detail::Bits<sizeof(T)>>(bytes[i]) << (8 * i);
  value = std::bit_cast<T>(bits);
  return true;
}

// A flag stored as one byte: written as 1 or 0, read as true for any non-zero byte.
inline bool writeFlag(const clap_ostream* stream, bool flag) {
  return writeField<uint8_t>(stream, flag ? 1 : 0);
}
inline bool readFlag(const clap_istream* stream, bool& flag) {
  uint8_t byte = 0;
  if (!readField(stream, byte)) return false;
  flag = byte != 0;
  return true;
}
