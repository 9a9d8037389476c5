// The plug-in's input events: notes in both dialects, chokes, parameter values, MIDI pitch bend and
// controllers with learn and map, and tuning messages.
#include <algorithm>
#include <cmath>

#include "foundation/MLSafeValue.h"
#include "plugin/CLAPPlugin.h"

namespace {

constexpr uint8_t kMidiNoteOff = 0x80;
constexpr uint8_t kMidiNoteOn = 0x90;
constexpr uint8_t kMidiController = 0xB0;
constexpr uint8_t kMidiPitchBend = 0xE0;
constexpr uint32_t kCcSustain = 64;
constexpr uint32_t kCcAllSoundOff = 120;
constexpr uint32_t kCcAllNotesOff = 123;
constexpr int kNumKeys = 128;
constexpr int kLastChannel = 15;
constexpr int kAnyKeyOrChannel = -1;

// A fixed-size event is read only when the host's header covers it.
template <class T>
const T* eventAs(const clap_event_header& header) {
  return header.size >= sizeof(T) ? reinterpret_cast<const T*>(&header) : nullptr;
}

bool validParamId(uint32_t id) {
  return id < kNumParams;
}

}  // namespace

void CLAPPlugin::processEvent(const clap_event_header& event) {
  if (event.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
  switch (event.type) {
    case CLAP_EVENT_NOTE_ON:
    case CLAP_EVENT_NOTE_OFF:
    case CLAP_EVENT_NOTE_CHOKE:
      if (const auto* note = eventAs<clap_event_note>(event)) handleNoteEvent(*note, event.type);
      break;
    case CLAP_EVENT_PARAM_VALUE:
      if (const auto* param = eventAs<clap_event_param_value>(event)) handleParamValue(*param);
      break;
    case CLAP_EVENT_MIDI:
      if (const auto* midi = eventAs<clap_event_midi>(event)) handleMidi(midi->data);
      break;
    case CLAP_EVENT_MIDI_SYSEX:
      if (const auto* sysex = eventAs<clap_event_midi_sysex>(event))
        engine.parseMTSSysEx(sysex->buffer, sysex->size);
      break;
    default:
      break;
  }
}

void CLAPPlugin::handleNoteEvent(const clap_event_note& note, uint16_t type) {
  const int key = note.key;
  const int channel = std::clamp<int>(note.channel, kAnyKeyOrChannel, kLastChannel);
  if (key < kAnyKeyOrChannel || key >= kNumKeys) return;
  if (type == CLAP_EVENT_NOTE_CHOKE) {
    engine.chokeKey(channel, key);
    return;
  }
  if (type == CLAP_EVENT_NOTE_ON) {
    if (key < 0) return;
    // A note-on without a velocity above 0 is a note-off: a stored 0 would come back at full velocity.
    if (note.velocity > 0.0) {
      if (engine.handleNoteOn(std::max(channel, 0), key, std::min(note.velocity, 1.0), eventOffset()))
        triggerSequencer(key);
      return;
    }
  }
  engine.handleNoteOff(channel, key, eventOffset());
}

void CLAPPlugin::handleParamValue(const clap_event_param_value& event) {
  const uint32_t id = event.param_id;
  if (!validParamId(id)) return;
  // An edit in the editor holds the parameter against host automation until its gesture ends.
  if (gestureCountdown[id].load(std::memory_order_acquire) > 0) return;
  const double value = ml::safeClamp(event.value, 0.0, 1.0);
  engine.setParam(id, clapDenormParam(id, value));
  // The host's echo of a loaded state leaves the morph poles as they were loaded.
  if (!engine.postLoadRebaseGraceActive()) engine.rebaseParamEdit(id);
  guiPoll.hostValue[id].store(static_cast<float>(value), std::memory_order_relaxed);
  guiPoll.hostChanged[id].store(true, std::memory_order_release);
}

void CLAPPlugin::handleMidi(const uint8_t (&data)[3]) {
  const uint8_t status = data[0] & 0xF0;
  const int channel = data[0] & 0x0F;
  const uint8_t first = data[1] & 0x7F;
  const uint8_t second = data[2] & 0x7F;
  switch (status) {
    case kMidiNoteOn:
      if (second > 0) {
        if (engine.handleNoteOn(channel, first, second / 127.0, eventOffset())) triggerSequencer(first);
        break;
      }
      [[fallthrough]];
    case kMidiNoteOff:
      engine.handleNoteOff(channel, first, eventOffset());
      break;
    case kMidiController:
      handleController(first, second);
      break;
    case kMidiPitchBend:
      engine.setPitchBend(static_cast<float>(((second << 7) | first) - 8192) / 8192.0f);
      break;
    default:
      break;
  }
}

void CLAPPlugin::handleController(uint32_t cc, uint32_t value) {
  switch (cc) {
    case kCcAllSoundOff:
      engine.allSoundOff();
      return;
    case kCcAllNotesOff:
      engine.allNotesOff();
      return;
    case kCcSustain:
      engine.setSustainPedal(value >= 64, eventOffset());
      return;
    default:
      break;
  }
  constexpr auto relaxed = std::memory_order_relaxed;
  if (ccLearnArmed.load(relaxed)) {
    const int32_t learning = ccLearnParam.load(relaxed);
    if (learning >= 0 && validParamId(static_cast<uint32_t>(learning))) {
      ccMap[cc].store(static_cast<uint32_t>(learning), relaxed);
      ccLearnArmed.store(false, relaxed);
      ccLearnParam.store(-1, relaxed);
    }
  }
  const uint32_t param = ccMap[cc].load(relaxed);
  if (!validParamId(param)) return;
  const double normalised = value / 127.0;
  engine.setParam(param, clapDenormParam(param, normalised));
  engine.rebaseParamEdit(param);
  raiseParamFlag(editDirty[param]);
  guiPoll.hostValue[param].store(static_cast<float>(normalised), relaxed);
  guiPoll.hostChanged[param].store(true, std::memory_order_release);
}

int32_t CLAPPlugin::eventOffset() const {
  return static_cast<int32_t>(ml::kFloatsPerDSPVector) - 1 - static_cast<int32_t>(engine.residueFrames());
}
