#include "engine/KeyBook.h"

#include <cstring>

bool KeyBook::anyKeyHeld() const {
  // A key is up when its channel is negative: unless every byte has its sign bit set, one is held. Eight
  // keys a word.
  constexpr uint64_t kSignBits = 0x8080808080808080u;
  uint64_t all = ~uint64_t{0};
  for (size_t k = 0; k < channel.size(); k += sizeof all) {
    uint64_t word;
    std::memcpy(&word, channel.data() + k, sizeof word);
    all &= word;
  }
  return (all & kSignBits) != kSignBits;
}

void KeyBook::press(int key, int8_t keyChannel, float keyVelocity) {
  channel[key] = keyChannel;
  velocity[key] = keyVelocity;
  order[key] = ++orderCounter;
  pressed[key] = true;
}

void KeyBook::keyUp(int key) {
  channel[key] = -1;
  order[key] = 0;
}

void KeyBook::forgetEveryKey() {
  channel.fill(-1);
  order.fill(0);
  sustainPedal = false;
  sweepArmed = false;
  sweepCursor = 1;
}

int KeyBook::lastKeyToGiveBack(const std::array<bool, kNumKeys>& sounding) const {
  int best = -1;
  for (int k = 1; k < kNumKeys; ++k) {
    const bool candidate = channel[k] >= 0 && !sounding[k] && order[k] <= orderAtLastEvents;
    if (candidate && (best < 0 || order[k] > order[best])) best = k;
  }
  return best;
}
