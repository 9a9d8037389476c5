// Fuzzes reading typed parameter texts: any text for any id (valid or not) under any LFO sync modes.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/ParamText.h"

namespace {

// Header bytes: id (one byte, so ids past the table are reached too), then the two sync modes in 0..2.
constexpr size_t kHeaderSize = 3;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return 0;
  const uint32_t id = data[0] & 0x7F;
  const LfoSyncModes sync{data[1] / 127.5, data[2] / 127.5};
  const std::string text(reinterpret_cast<const char*>(data + kHeaderSize), size - kHeaderSize);

  double value = 0.0;
  if (!paramTextToValue(id, text.c_str(), sync, &value)) return 0;
  check(std::isfinite(value));

  // Whatever was read shows as a text that reads again as a value showing the same text.
  char shown[256];
  check(paramValueToText(id, value, sync, shown, sizeof shown));
  check(std::strlen(shown) < sizeof shown);
  double again = 0.0;
  check(paramTextToValue(id, shown, sync, &again));
  check(std::isfinite(again));
  char shownAgain[256];
  check(paramValueToText(id, again, sync, shownAgain, sizeof shownAgain));
  check(std::strcmp(shown, shownAgain) == 0);
  return 0;
}
