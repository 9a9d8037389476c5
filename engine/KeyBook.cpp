#include "engine/KeyBook.h"

#include <algorithm>
#include <cstring>

namespace {

// A key is up when its channel is negative: eight keys a word, in which a key is held unless every byte
// has its sign bit set.
constexpr size_t kKeysAWord = sizeof(uint64_t);
constexpr uint64_t kSignBits = 0x8080808080808080u;

uint64_t channelWord(const std::array<int8_t, KeyBook::kNumKeys>& channel, size_t first) {
  uint64_t word;
  std::memcpy(&word, channel.data() + first, sizeof word);
  return word;
}

}  // namespace

bool KeyBook::anyKeyHeld() const {
  uint64_t all = ~uint64_t{0};
  for (size_t k = 0; k < channel.size(); k += kKeysAWord) all &= channelWord(channel, k);
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
  // Only a held key can be given back: the words of eight keys all up are passed over.
  for (size_t first = 0; first < channel.size(); first += kKeysAWord) {
    if ((channelWord(channel, first) & kSignBits) == kSignBits) continue;
    for (int k = std::max<int>(1, int(first)); k < int(first + kKeysAWord); ++k) {
      const bool candidate = channel[k] >= 0 && !sounding[k] && order[k] <= orderAtLastEvents;
      if (candidate && (best < 0 || order[k] > order[best])) best = k;
    }
  }
  return best;
}
