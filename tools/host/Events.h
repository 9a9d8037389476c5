#pragma once
// Event storage for the host: any CLAP core event held by value, the input list the plug-in reads and
// the output list it pushes into. Both lists reserve their capacity up front, so a block's events are
// handled without allocating.

#include <cstdint>
#include <vector>

#include "clap/events.h"

namespace tavrin::host {

// One CLAP core event of any type, stored by value.
union EventData {
  clap_event_header header;
  clap_event_note note;
  clap_event_note_expression noteExpression;
  clap_event_param_value paramValue;
  clap_event_param_mod paramMod;
  clap_event_param_gesture gesture;
  clap_event_transport transport;
  clap_event_midi midi;
  clap_event_midi_sysex sysex;
};

// An event at an absolute frame of a rendering.
struct TimedEvent {
  uint64_t frame = 0;
  EventData event;
};

EventData makeNoteEvent(uint16_t type, int16_t channel, int16_t key, double velocity);
EventData makeParamValueEvent(clap_id paramId, double value);
EventData makeMidiEvent(uint8_t status, uint8_t data1, uint8_t data2);
// The bytes are not copied: they must outlive the event.
EventData makeSysexEvent(const uint8_t* bytes, uint32_t size);

// The list a process call reads: events in time order, times relative to the block.
class InputEventList {
public:
  explicit InputEventList(size_t capacity = 1024);

  void clear() { items.clear(); }
  // Answers false when the reserved capacity is used up.
  bool push(const EventData& event);
  size_t size() const { return items.size(); }
  const clap_input_events* clapEvents() const { return &clapList; }

private:
  static uint32_t count(const clap_input_events* list);
  static const clap_event_header* get(const clap_input_events* list, uint32_t index);

  std::vector<EventData> items;
  clap_input_events clapList;
};

// The list a process or flush call pushes into; events larger than EventData or beyond the capacity
// are refused.
class OutputEventList {
public:
  explicit OutputEventList(size_t capacity = 4096);

  void clear() { items.clear(); }
  const std::vector<EventData>& events() const { return items; }
  const clap_output_events* clapEvents() const { return &clapList; }

private:
  static bool tryPush(const clap_output_events* list, const clap_event_header* event);

  std::vector<EventData> items;
  clap_output_events clapList;
};

}  // namespace tavrin::host
