// Fuzzes the binary snapshot reader: any bytes after a first byte that sets how many bytes the stream
// hands out per read. What it reads writes back as the fixed form, reads again bit for bit, and goes
// through the JSON form.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "state/SnapshotBinary.h"
#include "tests/fuzz/SnapshotChecks.h"
#include "tests/state/MemoryStreams.h"

namespace {

template <typename T>
bool sameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  MemoryIStream in(std::vector<uint8_t>(data + 1, data + size));
  in.chunk = data[0] == 0 ? SIZE_MAX : data[0];
  ParamSnapshot s;
  if (!readSnapshotBinary(&in.stream, s)) return 0;

  MemoryOStream out;
  check(writeSnapshotBinary(&out.stream, s));
  check(out.bytes.size() == kSnapshotBinarySize);
  MemoryIStream again(out.bytes);
  ParamSnapshot back;
  check(readSnapshotBinary(&again.stream, back));
  check(sameBits(back.value, s.value) && back.has == s.has && back.valid == s.valid);
  check(sameBits(back.seqSteps, s.seqSteps) && back.seqTies == s.seqTies);
  check(back.seqStepCount == s.seqStepCount && back.seqLaneCaptured == s.seqLaneCaptured);
  check(back.seq1Target == s.seq1Target);

  checkJsonRoundTrip(s);
  return 0;
}
