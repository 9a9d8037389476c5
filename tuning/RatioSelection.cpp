#include "tuning/RatioSelection.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kReadAttempts = 4;

int16_t saturateToInt16(int v) {
  return static_cast<int16_t>(std::clamp(v, int(INT16_MIN), int(INT16_MAX)));
}

}  // namespace

void RatioSelection::set(const int* degrees, const int* octaves, int n) {
  if (!degrees || !octaves) n = 0;
  n = std::clamp(n, 0, kMaxPairs);
  const int32_t target = 1 - readBank.load(std::memory_order_relaxed);
  Bank& bank = banks[target];
  const uint32_t sequence = bank.writeSequence.load(std::memory_order_relaxed);
  bank.writeSequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (int i = 0; i < n; ++i) {
    bank.degrees[i].store(saturateToInt16(degrees[i]), std::memory_order_relaxed);
    bank.octaves[i].store(saturateToInt16(octaves[i]), std::memory_order_relaxed);
  }
  bank.count.store(n, std::memory_order_relaxed);
  bank.writeSequence.store(sequence + 2, std::memory_order_release);
  readBank.store(target, std::memory_order_release);
}

int32_t RatioSelection::count() const {
  return banks[readBank.load(std::memory_order_acquire)].count.load(std::memory_order_relaxed);
}

int32_t RatioSelection::read(RatioSelectionPair (&out)[kMaxPairs]) const {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const Bank& bank = banks[readBank.load(std::memory_order_acquire)];
    const uint32_t before = bank.writeSequence.load(std::memory_order_acquire);
    if (before & 1u) continue;
    const int32_t n = bank.count.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < n; ++i) {
      out[i].degree = bank.degrees[i].load(std::memory_order_relaxed);
      out[i].octave = bank.octaves[i].load(std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (bank.writeSequence.load(std::memory_order_relaxed) == before) return n;
  }
  return -1;
}
