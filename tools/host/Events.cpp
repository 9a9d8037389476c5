#include "tools/host/Events.h"

#include <cstring>

namespace tavrin::host {

namespace {

clap_event_header header(uint32_t size, uint16_t type) {
  return {size, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
}

}  // namespace

EventData makeNoteEvent(uint16_t type, int16_t channel, int16_t key, double velocity) {
  EventData data{};
  data.note.header = header(sizeof(clap_event_note), type);
  data.note.note_id = -1;
  data.note.port_index = 0;
  data.note.channel = channel;
  data.note.key = key;
  data.note.velocity = velocity;
  return data;
}

EventData makeParamValueEvent(clap_id paramId, double value) {
  EventData data{};
  data.paramValue.header = header(sizeof(clap_event_param_value), CLAP_EVENT_PARAM_VALUE);
  data.paramValue.param_id = paramId;
  data.paramValue.note_id = -1;
  data.paramValue.port_index = -1;
  data.paramValue.channel = -1;
  data.paramValue.key = -1;
  data.paramValue.value = value;
  return data;
}

EventData makeMidiEvent(uint8_t status, uint8_t data1, uint8_t data2) {
  EventData data{};
  data.midi.header = header(sizeof(clap_event_midi), CLAP_EVENT_MIDI);
  data.midi.port_index = 0;
  data.midi.data[0] = status;
  data.midi.data[1] = data1;
  data.midi.data[2] = data2;
  return data;
}

EventData makeSysexEvent(const uint8_t* bytes, uint32_t size) {
  EventData data{};
  data.sysex.header = header(sizeof(clap_event_midi_sysex), CLAP_EVENT_MIDI_SYSEX);
  data.sysex.port_index = 0;
  data.sysex.buffer = bytes;
  data.sysex.size = size;
  return data;
}

InputEventList::InputEventList(size_t capacity) : clapList{this, count, get} {
  items.reserve(capacity);
}

bool InputEventList::push(const EventData& event) {
  if (items.size() == items.capacity()) return false;
  items.push_back(event);
  return true;
}

uint32_t InputEventList::count(const clap_input_events* list) {
  return static_cast<uint32_t>(static_cast<const InputEventList*>(list->ctx)->items.size());
}

const clap_event_header* InputEventList::get(const clap_input_events* list, uint32_t index) {
  const auto& events = static_cast<const InputEventList*>(list->ctx)->items;
  return index < events.size() ? &events[index].header : nullptr;
}

OutputEventList::OutputEventList(size_t capacity) : clapList{this, tryPush} {
  items.reserve(capacity);
}

bool OutputEventList::tryPush(const clap_output_events* list, const clap_event_header* event) {
  auto& events = static_cast<OutputEventList*>(list->ctx)->items;
  if (!event || event->size < sizeof(clap_event_header) || event->size > sizeof(EventData) ||
      events.size() == events.capacity())
    return false;
  EventData copy{};
  std::memcpy(&copy, event, event->size);
  events.push_back(copy);
  return true;
}

}  // namespace tavrin::host
