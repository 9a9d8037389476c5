#include "state/StreamIo.h"

#include <algorithm>
#include <cstring>

namespace {

// Repeats transfer(offset, remaining), which answers the bytes it moved, until size bytes are done.
// False at an answer below 1 (error or end) or above what was offered, which would run the position past
// the buffer.
template <typename Transfer>
bool transferAll(size_t size, Transfer transfer) {
  size_t done = 0;
  while (done < size) {
    const int64_t answer = transfer(done, size - done);
    if (answer < 1 || static_cast<uint64_t>(answer) > size - done) return false;
    done += static_cast<size_t>(answer);
  }
  return true;
}

}  // namespace

bool tavrin_stream_write_all(const clap_ostream* stream, const void* data, size_t size) {
  if (stream == nullptr || stream->write == nullptr || (data == nullptr && size > 0)) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  return transferAll(size, [&](size_t offset, size_t remaining) {
    return stream->write(stream, bytes + offset, remaining);
  });
}

bool tavrin_stream_read_all(const clap_istream* stream, void* data, size_t size) {
  if (stream == nullptr || stream->read == nullptr || (data == nullptr && size > 0)) return false;
  auto* bytes = static_cast<uint8_t*>(data);
  return transferAll(
      size, [&](size_t offset, size_t remaining) { return stream->read(stream, bytes + offset, remaining); });
}

int64_t AppendingOStream::write(const clap_ostream* stream, const void* buffer, uint64_t size) {
  auto& self = *static_cast<AppendingOStream*>(stream->ctx);
  const auto* from = static_cast<const uint8_t*>(buffer);
  self.sink.insert(self.sink.end(), from, from + size);
  return static_cast<int64_t>(size);
}

int64_t BufferIStream::read(const clap_istream* stream, void* buffer, uint64_t size) {
  auto& self = *static_cast<BufferIStream*>(stream->ctx);
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, self.size - self.position));
  if (n > 0) std::memcpy(buffer, self.data + self.position, n);
  self.position += n;
  return static_cast<int64_t>(n);
}
