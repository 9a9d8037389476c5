#pragma once
// What the host plays: timed notes and parameter values in seconds, turned into a time-ordered list of
// CLAP events at absolute frames, in the CLAP or the MIDI note dialect.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/Events.h"

namespace tavrin::host {

enum class NoteDialect { Clap, Midi };

// One note: start and duration in seconds, MIDI key 0..127, velocity 0..1, channel 0..15.
struct NoteSpec {
  double start = 0.0;
  int key = 60;
  double velocity = 0.8;
  double duration = 1.0;
  int channel = 0;
};

// One parameter value (the CLAP normalised or plain value the plug-in expects) at a time in seconds.
struct ParamSpec {
  double time = 0.0;
  clap_id id = 0;
  double value = 0.0;
};

// One parameter value as typed: the parameter (its id or name), the value's text and the time in seconds.
struct ParamEntry {
  std::string param;
  std::string value;
  double time = 0.0;
};

struct Score {
  std::vector<NoteSpec> notes;
  std::vector<ParamSpec> params;
  std::vector<TimedEvent> events;  // any further events, already at absolute frames
};

// Parses "start:key:velocity:duration,..." (seconds, MIDI key, 0..1, seconds); false with a message
// on the first malformed or out-of-range entry.
bool parseNotes(const std::string& text, std::vector<NoteSpec>& notes, std::string& error);
// Parses "parameter=value[@seconds],..." (time 0 when left out; spaces around the parameter and the
// value are dropped); false with a message on the first malformed entry.
bool parseParamEntries(const std::string& text, std::vector<ParamEntry>& entries, std::string& error);

// All events of the score at absolute frames, in time order; at equal frames note-offs come first,
// otherwise the order of the score is kept.
std::vector<TimedEvent> buildTimeline(const Score& score, double sampleRate, NoteDialect dialect);

}  // namespace tavrin::host
