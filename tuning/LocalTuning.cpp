#include "tuning/LocalTuning.h"

#include <algorithm>
#include <cstring>

namespace {
bool isContinuationByte(unsigned char c) {
  return (c & 0xC0) == 0x80;
}
}  // namespace

void repairLocalTuning(LocalTuning& t) {
  t.count = std::clamp(t.count, 1, kMaxTuningIntervals);
  if (t.keysPerPeriod < 1) t.keysPerPeriod = t.count;
  t.keysPerPeriod = std::min(t.keysPerPeriod, kMaxTuningIntervals);
  if (!(t.periodRatio > 1.0)) t.periodRatio = 2.0;
  t.ratios[0] = 1.0;
  for (auto& text : t.degreeText) text[kTuningTextBytes - 1] = 0;
  t.name[kTuningNameBytes - 1] = 0;
}

void copyTuningName(char (&dst)[kTuningNameBytes], const char* src) {
  size_t n = src ? std::strlen(src) : 0;
  if (n > kTuningNameBytes - 1) {
    n = kTuningNameBytes - 1;
    while (n > 0 && isContinuationByte(static_cast<unsigned char>(src[n]))) --n;
  }
  if (n > 0) std::memcpy(dst, src, n);
  dst[n] = 0;
}
