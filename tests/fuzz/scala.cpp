// Fuzzes the Scala reader: any bytes, with and without a name; a success must give an in-range record.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tuning/ScalaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LocalTuning t{};
  const char* text = reinterpret_cast<const char*>(data);
  const char name[] = "fuzz \xC3";
  if (!parseScala(text, size, size % 2 ? name : nullptr, t)) return 0;
  if (t.count < 1 || t.count > kMaxTuningIntervals || t.keysPerPeriod != t.count || !(t.periodRatio > 1.0) ||
      t.ratios[0] != 1.0 || std::memchr(t.name, 0, sizeof t.name) == nullptr)
    std::abort();
  for (int i = 0; i < t.count; ++i)
    if (!(t.ratios[i] > 0.0) || std::memchr(t.degreeText[i], 0, kTuningTextBytes) == nullptr) std::abort();
  return 0;
}
