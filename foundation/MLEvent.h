// A timed note or controller event for the events-to-signals voice allocator.
#pragma once

#include <cstdint>

namespace ml {

// One event, 16 bytes. time is the sample index inside the block it is processed in; sourceIdx is the key
// (0..127) of a note or pressure event, or the controller number of a controller event.
struct Event {
  static constexpr uint8_t kNone = 0;
  static constexpr uint8_t kNoteOn = 1;
  static constexpr uint8_t kNoteRetrig = 2;  // a note-on that takes over a sounding (stolen) voice
  static constexpr uint8_t kNoteSustain = 3;
  static constexpr uint8_t kNoteOff = 4;
  static constexpr uint8_t kSustainPedal = 5;
  static constexpr uint8_t kController = 6;
  static constexpr uint8_t kPitchWheel = 7;
  static constexpr uint8_t kNotePressure = 8;
  static constexpr uint8_t kChannelPressure = 9;
  static constexpr uint8_t kKeyFree = 10;  // frees every voice of a key, whatever the sustain pedal

  uint8_t type{kNone};
  uint8_t channel{0};
  uint16_t sourceIdx{0};
  int32_t time{0};
  float value1{0.f};  // note on: pitch as a note number; controllers, wheel, pressure, pedal: the value
  float value2{0.f};  // note on: velocity, the gate level
};
static_assert(sizeof(Event) == 16);

// Events are ordered by time only, so events of equal time keep the order in which they arrived.
constexpr bool soonerThan(const Event& a, const Event& b) {
  return a.time < b.time;
}

}  // namespace ml
