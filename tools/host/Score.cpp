#include "tools/host/Score.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace tavrin::host {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A whole-string finite number, or false.
bool parseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value);
}

uint64_t secondsToFrame(double seconds, double sampleRate) {
  return static_cast<uint64_t>(std::llround(std::max(0.0, seconds) * sampleRate));
}

bool isNoteOff(const EventData& event) {
  if (event.header.type == CLAP_EVENT_NOTE_OFF) return true;
  return event.header.type == CLAP_EVENT_MIDI && (event.midi.data[0] & 0xF0) == 0x80;
}

}  // namespace

bool parseNotes(const std::string& text, std::vector<NoteSpec>& notes, std::string& error) {
  notes.clear();
  for (const std::string& entry : split(text, ',')) {
    const std::vector<std::string> fields = split(entry, ':');
    double start, key, velocity, duration;
    if (fields.size() != 4 || !parseNumber(fields[0], start) || !parseNumber(fields[1], key) ||
        !parseNumber(fields[2], velocity) || !parseNumber(fields[3], duration)) {
      error = "malformed note \"" + entry + "\" (expected start:key:velocity:duration)";
      return false;
    }
    if (start < 0 || duration < 0 || key < 0 || key > 127 || key != std::floor(key) || velocity < 0 ||
        velocity > 1) {
      error = "note out of range \"" + entry + "\"";
      return false;
    }
    notes.push_back({start, static_cast<int>(key), velocity, duration, 0});
  }
  return true;
}

bool parseParamEntries(const std::string& text, std::vector<ParamEntry>& entries, std::string& error) {
  entries.clear();
  for (const std::string& entry : split(text, ',')) {
    const size_t equals = entry.find('=');
    const size_t at = entry.rfind('@');
    ParamEntry parsed;
    const bool timed = at != std::string::npos && at > equals;
    if (equals != std::string::npos) {
      parsed.param = trim(entry.substr(0, equals));
      parsed.value = trim(entry.substr(equals + 1, timed ? at - equals - 1 : std::string::npos));
    }
    if (parsed.param.empty() || parsed.value.empty() ||
        (timed && (!parseNumber(trim(entry.substr(at + 1)), parsed.time) || parsed.time < 0))) {
      error = "malformed parameter value \"" + entry + "\" (expected parameter=value[@seconds])";
      return false;
    }
    entries.push_back(parsed);
  }
  return true;
}

std::vector<TimedEvent> buildTimeline(const Score& score, double sampleRate, NoteDialect dialect) {
  std::vector<TimedEvent> timeline = score.events;
  for (const NoteSpec& note : score.notes) {
    const auto channel = static_cast<int16_t>(note.channel);
    const auto key = static_cast<int16_t>(note.key);
    const uint64_t on = secondsToFrame(note.start, sampleRate);
    const uint64_t off = secondsToFrame(note.start + note.duration, sampleRate);
    if (dialect == NoteDialect::Clap) {
      timeline.push_back({on, makeNoteEvent(CLAP_EVENT_NOTE_ON, channel, key, note.velocity)});
      timeline.push_back({off, makeNoteEvent(CLAP_EVENT_NOTE_OFF, channel, key, 0.0)});
    } else {
      const auto status = static_cast<uint8_t>(note.channel & 0x0F);
      const auto velocity = static_cast<uint8_t>(std::clamp(std::lround(note.velocity * 127.0), 1L, 127L));
      timeline.push_back({on, makeMidiEvent(0x90 | status, static_cast<uint8_t>(note.key), velocity)});
      timeline.push_back({off, makeMidiEvent(0x80 | status, static_cast<uint8_t>(note.key), 0)});
    }
  }
  for (const ParamSpec& param : score.params)
    timeline.push_back({secondsToFrame(param.time, sampleRate), makeParamValueEvent(param.id, param.value)});
  std::stable_sort(timeline.begin(), timeline.end(), [](const TimedEvent& a, const TimedEvent& b) {
    if (a.frame != b.frame) return a.frame < b.frame;
    return isNoteOff(a.event) && !isNoteOff(b.event);
  });
  return timeline;
}

}  // namespace tavrin::host
