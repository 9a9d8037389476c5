// When to bring back something that died (a page's content process, the editor's helper): at once the
// first time, then after waits that double while it keeps dying, up to a ceiling; a calm life since the
// last death starts over. Times in milliseconds of a monotonic clock.
#pragma once

#include <algorithm>
#include <cstdint>

namespace platform {

struct RestartBackoff {
  static constexpr uint64_t kFirstWaitMs = 250;
  static constexpr uint64_t kLongestWaitMs = 5000;
  static constexpr uint64_t kCalmLifeMs = 30'000;

  uint64_t nextWaitMs = 0;
  uint64_t lastDeathMs = 0;
  bool died = false;

  // Records a death at nowMs; answers how long to wait before the restart (0: at once).
  uint64_t afterDeath(uint64_t nowMs) {
    if (!died || nowMs - lastDeathMs > kCalmLifeMs) nextWaitMs = 0;
    died = true;
    lastDeathMs = nowMs;
    const uint64_t wait = nextWaitMs;
    nextWaitMs = wait == 0 ? kFirstWaitMs : std::min(wait * 2, kLongestWaitMs);
    return wait;
  }
};

}  // namespace platform
