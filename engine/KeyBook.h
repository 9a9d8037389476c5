// The engine's book of the keyboard, kept beside the voice allocator.
#pragma once

#include <array>
#include <cstdint>

// Which keys 0..127 are held, on which channel, with which velocity and in which order; the sustain
// pedal and the sweep of lost note-offs. Audio thread only.
struct KeyBook {
  static constexpr int kNumKeys = 128;

  KeyBook() { channel.fill(-1); }

  static bool validKey(int key) { return key >= 0 && key < kNumKeys; }
  bool held(int key) const { return channel[key] >= 0; }
  bool anyKeyHeld() const;
  // A note-on of a valid key: channel 0..15, velocity 0..1; stamps the key with the next order number.
  void press(int key, int8_t keyChannel, float keyVelocity);
  void keyUp(int key);
  // Every key and the pedal up, the sweep disarmed, without any note-off.
  void forgetEveryKey();
  // The held key that no voice sounds, pressed before this block, pressed last; -1 when there is none.
  int lastKeyToGiveBack(const std::array<bool, kNumKeys>& sounding) const;
  // Once per block, the sweep of lost note-offs: armed at key 1 while any key is held; once every key and
  // the pedal are up, calls noteOff(key) for each key 1..127 ever pressed, at most maxNoteOffs a block,
  // and disarms when it has passed key 127. Key 0 is never swept.
  template <class NoteOff>
  void sweepLostNoteOffs(int maxNoteOffs, NoteOff&& noteOff) {
    if (anyKeyHeld()) {
      sweepArmed = true;
      sweepCursor = 1;
      return;
    }
    if (!sweepArmed || sustainPedal) return;
    int sent = 0;
    while (sweepCursor < kNumKeys && sent < maxNoteOffs) {
      if (pressed[sweepCursor]) {
        noteOff(sweepCursor);
        ++sent;
      }
      ++sweepCursor;
    }
    if (sweepCursor >= kNumKeys) sweepArmed = false;
  }

  std::array<int8_t, kNumKeys> channel;  // channel of the held note, -1 when the key is up
  std::array<float, kNumKeys> velocity{};
  std::array<uint32_t, kNumKeys> order{};  // order stamp of the last note-on, 0 after the note-off
  std::array<bool, kNumKeys> pressed{};    // ever pressed
  uint32_t orderCounter{0};
  uint32_t orderAtLastEvents{0};  // the counter at the end of the previous block's event stage
  bool sustainPedal{false};
  bool sweepArmed{false};
  int32_t sweepCursor{1};
};
