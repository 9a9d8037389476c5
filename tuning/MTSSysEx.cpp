#include "tuning/MTSSysEx.h"

#include "tuning/MTSClient.h"

namespace {

enum class State {
  kIdle,
  kUniversal,
  kHeader,
  kSubId,
  kBank,
  kProgram,
  kChannelMask,
  kName,
  kChangeCount,
  kData,
  kDone
};
enum class Format { kNone, kBulk, kNoteChange, kOctave1Dump, kOctave2Dump, kOctave1, kOctave2 };

constexpr uint8_t kSysExStart = 0xF0, kSysExEnd = 0xF7;
constexpr uint32_t kNoChange = 0x1FFFFF;  // three data bytes 7F 7F 7F
constexpr int kNameLength = 16;
constexpr int kOctaveKeys = 12;

bool isOctave(Format f) {
  return f >= Format::kOctave1Dump;
}
bool isDump(Format f) {
  return f == Format::kOctave1Dump || f == Format::kOctave2Dump;
}

// One call's state machine; every position, value and counter restarts at each F0 and F7.
struct SysExReader {
  MTSClient& client;
  State state = State::kIdle;
  Format format = Format::kBulk;
  int count = 0;
  int index = 0;
  uint32_t value = 0;
  int changes = 0;
  int changesDone = 0;
  char name[kNameLength + 1] = {};
  bool applied = false;        // a message in this call retuned something
  bool appliedOctave = false;  // ... and the last such message was a scale/octave form

  void restart(State next) {
    state = next;
    count = index = changes = changesDone = 0;
    value = 0;
  }

  void tune(int note, int key, double fraction) {
    mts::updateTuning(client, note, key, fraction);
    applied = true;
    appliedOctave = isOctave(format);
  }

  void octaveOffset(int k, double semitones) {
    for (int n = k; n < kMTSNotes; n += kOctaveKeys) tune(n, n, semitones);
    if (k == kOctaveKeys - 1) restart(isDump(format) ? State::kDone : State::kIdle);
  }

  void subId(uint8_t b) {
    static constexpr struct {
      Format format;
      State next;
    } kSubIds[] = {{Format::kNone, State::kProgram},        {Format::kBulk, State::kProgram},
                   {Format::kNoteChange, State::kProgram},  {Format::kNone, State::kBank},
                   {Format::kBulk, State::kBank},           {Format::kOctave1Dump, State::kBank},
                   {Format::kOctave2Dump, State::kBank},    {Format::kNoteChange, State::kBank},
                   {Format::kOctave1, State::kChannelMask}, {Format::kOctave2, State::kChannelMask}};
    count = 0;
    if (b >= std::size(kSubIds)) {
      state = State::kIdle;
      return;
    }
    format = kSubIds[b].format;
    state = kSubIds[b].next;
  }

  void data(uint8_t b) {
    switch (format) {
      case Format::kNone:
        state = State::kIdle;
        return;
      case Format::kBulk:
        value = value * 128 + b;
        if (++count < 3) return;
        if (value != kNoChange) tune(index, (value >> 14) & 127, (value & 0x3FFF) / 16383.0);
        count = 0, value = 0;
        if (++index >= kMTSNotes) state = State::kDone;
        return;
      case Format::kNoteChange:
        value = value * 128 + b;
        if (++count < 4) return;
        if ((value & kNoChange) != kNoChange)
          tune((value >> 21) & 127, (value >> 14) & 127, (value & 0x3FFF) / 16383.0);
        count = 0, value = 0;
        if (++changesDone >= changes) state = State::kIdle;
        return;
      case Format::kOctave1Dump:
      case Format::kOctave1:
        octaveOffset(count++, (int(b) - 64) * 0.01);
        return;
      case Format::kOctave2Dump:
      case Format::kOctave2: {
        value = value * 128 + b;
        if (++count % 2) return;
        const int v = int(value) - 8192;
        value = 0;
        octaveOffset(count / 2 - 1, v <= 0 ? v / 8192.0 : v / 8191.0);
        return;
      }
    }
  }

  void byte(uint8_t b) {
    if (b == kSysExEnd) return restart(State::kIdle);
    if (b == kSysExStart) return restart(State::kUniversal);
    if (b > 0x7F) return;
    switch (state) {
      case State::kIdle:
        return;
      case State::kUniversal:
        state = (b == 0x7E || b == 0x7F) ? State::kHeader : State::kIdle;
        count = 0;
        return;
      case State::kHeader:
        if (count++ == 0) return;  // device number
        state = b == 0x08 ? State::kSubId : State::kIdle;
        return;
      case State::kSubId:
        return subId(b);
      case State::kBank:
        state = State::kProgram;
        return;
      case State::kProgram:
        state = format == Format::kNoteChange ? State::kChangeCount : State::kName;
        count = 0;
        return;
      case State::kChannelMask:
        if (++count == 3) restart(State::kData);
        return;
      case State::kName:
        name[count++] = char(b);
        if (count == kNameLength) {
          name[kNameLength] = 0;
          mts::setScaleName(client, name);
          restart(State::kData);
        }
        return;
      case State::kChangeCount:
        changes = b;
        state = changes > 0 ? State::kData : State::kIdle;
        return;
      case State::kData:
        return data(b);
      case State::kDone:
        state = State::kIdle;
        return;
    }
  }
};

}  // namespace

namespace mts {

void parseMIDIData(MTSClient* c, const uint8_t* data, size_t len) {
  if (!c || !data) return;
  SysExReader reader{*c};
  for (size_t i = 0; i < len; ++i) reader.byte(data[i]);
  if (reader.applied) {
    c->mapSize.store(reader.appliedOctave ? 12 : -1, std::memory_order_relaxed);
    c->mapStartKey.store(reader.appliedOctave ? 60 : -1, std::memory_order_relaxed);
  }
}

}  // namespace mts
