// Fuzzes the JSON snapshot reader: any text; what it reads must be playable and survive a round trip.
#include <cstdint>
#include <string>

#include "tests/fuzz/SnapshotChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParamSnapshot s;
  bool seqPresent = false;
  const bool read = tavrin_parse_snapshot_json(text.c_str(), s, &seqPresent);
  check(read == s.valid);
  checkJsonSnapshot(s);
  if (read) checkJsonRoundTrip(s);
  return 0;
}
