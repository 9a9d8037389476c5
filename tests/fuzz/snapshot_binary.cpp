// Fuzzes the binary snapshot reader: any bytes after a first byte that sets how many bytes the stream
// hands out per read. What it reads writes back as the fixed form, reads again bit for bit, and goes
// through the JSON form.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "state/SnapshotBinary.h"
#include "tests/fuzz/SnapshotChecks.h"

namespace {

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t chunk;
  size_t position = 0;
  clap_istream stream{this, &ByteReader::read};

  static int64_t read(const clap_istream* s, void* buffer, uint64_t size) {
    auto& self = *static_cast<ByteReader*>(s->ctx);
    const size_t n = std::min({static_cast<size_t>(size), self.chunk, self.size - self.position});
    if (n > 0) std::memcpy(buffer, self.data + self.position, n);
    self.position += n;
    return static_cast<int64_t>(n);
  }
};

struct ByteWriter {
  std::vector<uint8_t> bytes;
  clap_ostream stream{this, &ByteWriter::write};

  static int64_t write(const clap_ostream* s, const void* buffer, uint64_t size) {
    auto& self = *static_cast<ByteWriter*>(s->ctx);
    const auto* from = static_cast<const uint8_t*>(buffer);
    self.bytes.insert(self.bytes.end(), from, from + size);
    return static_cast<int64_t>(size);
  }
};

template <typename T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ByteReader in{data + 1, size - 1, data[0] == 0 ? SIZE_MAX : data[0]};
  ParamSnapshot s;
  if (!readSnapshotBinary(&in.stream, s)) return 0;

  ByteWriter out;
  check(writeSnapshotBinary(&out.stream, s));
  check(out.bytes.size() == kSnapshotBinarySize);
  ByteReader again{out.bytes.data(), out.bytes.size(), SIZE_MAX};
  ParamSnapshot back;
  check(readSnapshotBinary(&again.stream, back));
  check(sameBits(back.value, s.value) && back.has == s.has && back.valid == s.valid);
  check(sameBits(back.seqSteps, s.seqSteps) && back.seqTies == s.seqTies);
  check(back.seqStepCount == s.seqStepCount && back.seqLaneCaptured == s.seqLaneCaptured);
  check(back.seq1Target == s.seq1Target);

  checkJsonRoundTrip(s);
  return 0;
}
