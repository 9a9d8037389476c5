#pragma once
// Byte buffers posing as the host's state streams, with the host behaviours the readers and writers must
// survive: short calls, a full medium, and answers larger than what was asked.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "clap/stream.h"

// Appends what is written. Takes at most chunk bytes a call, answers -1 once capacity bytes are stored,
// and adds extraAnswer to every answer.
struct MemoryOStream {
  MemoryOStream() = default;
  MemoryOStream(const MemoryOStream&) = delete;
  MemoryOStream& operator=(const MemoryOStream&) = delete;

  std::vector<uint8_t> bytes;
  size_t chunk = SIZE_MAX;
  size_t capacity = SIZE_MAX;
  int64_t extraAnswer = 0;
  clap_ostream stream{this, &MemoryOStream::write};

  static int64_t write(const clap_ostream* s, const void* buffer, uint64_t size) {
    auto& self = *static_cast<MemoryOStream*>(s->ctx);
    const size_t room = self.capacity - self.bytes.size();
    if (room == 0) return -1;
    const size_t n = std::min({static_cast<size_t>(size), self.chunk, room});
    const auto* from = static_cast<const uint8_t*>(buffer);
    self.bytes.insert(self.bytes.end(), from, from + n);
    return static_cast<int64_t>(n) + self.extraAnswer;
  }
};

// Hands out its bytes, at most chunk a call, answering 0 at the end; adds extraAnswer to every answer.
struct MemoryIStream {
  explicit MemoryIStream(std::vector<uint8_t> data) : bytes(std::move(data)) {}
  MemoryIStream(const MemoryIStream&) = delete;
  MemoryIStream& operator=(const MemoryIStream&) = delete;

  std::vector<uint8_t> bytes;
  size_t position = 0;
  size_t chunk = SIZE_MAX;
  int64_t extraAnswer = 0;
  clap_istream stream{this, &MemoryIStream::read};

  static int64_t read(const clap_istream* s, void* buffer, uint64_t size) {
    auto& self = *static_cast<MemoryIStream*>(s->ctx);
    const size_t n = std::min({static_cast<size_t>(size), self.chunk, self.bytes.size() - self.position});
    if (n > 0) std::memcpy(buffer, self.bytes.data() + self.position, n);
    self.position += n;
    return static_cast<int64_t>(n) + (n > 0 ? self.extraAnswer : 0);
  }
};
