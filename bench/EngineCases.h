// The engine's load cases: what the benchmark times and what the real-time safety tests render through
// the plug-in. Each case is a patch (plain parameter values over the defaults) and a note script.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "engine/ParamTable.h"

namespace engine_cases {

struct CaseParam {
  uint32_t id;
  double plain;
};

// One note: start and duration in seconds, MIDI key, velocity 0..1.
struct CaseNote {
  double start;
  int key;
  double velocity;
  double duration;
};

struct EngineCase {
  std::string name;
  std::vector<CaseParam> params;
  std::vector<CaseNote> notes;
  double seconds;         // length of the render
  double timedFrom{0.0};  // seconds rendered before the timing starts
};

// The heaviest voice's steady tone: saturated resonant filters with full drive, deep fold with character,
// feedback, Noise Mix and click.
inline std::vector<CaseParam> heavyTone() {
  return {
      {kParamFilterSaturation, 1.0},
      {kParamFilterAResonance, 0.95},
      {kParamFilterBResonance, 0.95},
      {kParamFilterADrive, 1.0},
      {kParamFilterBDrive, 1.0},
      {kParamFold, 8.0},
      {kParamFoldCharacter, 0.75},
      {kParamFeedback, 0.5},
      {kParamNoiseMix, 0.5},
      {kParamClickAmount, 1.0},
      {kParamShape, 0.5},
  };
}

// The heaviest voice: its steady tone with every route on Env 2 over its whole range (Pitch from its centre
// up), in the modern envelope model of a new instance. shapeMode picks the carrier renderer.
inline std::vector<CaseParam> heavyPatch(double shapeMode) {
  std::vector<CaseParam> p = heavyTone();
  p.insert(p.end(), {{kParamShapeMode, shapeMode}, {kParamAmpEnvAttack, 0.001}});
  // Source, start and end of every route.
  const uint32_t routes[][3] = {
      {kParamRatioModSource, kParamRatioModStart, kParamRatioModEnd},
      {kParamFoldModSource, kParamFoldModStart, kParamFoldModEnd},
      {kParamFilterACutoffModSource, kParamFilterACutoffModStart, kParamFilterACutoffModEnd},
      {kParamFilterBCutoffModSource, kParamFilterBCutoffModStart, kParamFilterBCutoffModEnd},
      {kParamFoldBiasModSource, kParamFoldBiasModStart, kParamFoldBiasModEnd},
      {kParamPitchModSource, kParamPitchModStart, kParamPitchModEnd},
      {kParamFeedbackModSource, kParamFeedbackModStart, kParamFeedbackModEnd},
      {kParamShapeModSource, kParamShapeModStart, kParamShapeModEnd},
      {kParamFmModSource, kParamFmModStart, kParamFmModEnd},
      {kParamFoldCharModSource, kParamFoldCharModStart, kParamFoldCharModEnd},
  };
  constexpr double kEnv2Source = 3.0;
  for (const auto& r : routes) {
    p.push_back({r[0], kEnv2Source});
    p.push_back({r[1], r[0] == kParamPitchModSource ? 0.5 : 0.0});
    p.push_back({r[2], 1.0});
  }
  return p;
}

inline std::vector<CaseNote> heldNotes(const std::vector<int>& keys, double seconds) {
  std::vector<CaseNote> notes;
  for (const int key : keys) notes.push_back({0.0, key, 0.8, seconds});
  return notes;
}

// The default sound's eight keys, C3 to E5.
inline std::vector<int> defaultChord() {
  return {48, 52, 55, 60, 64, 67, 72, 76};
}

// Two chords of eight keys above 1 kHz, for the heavy sound.
inline constexpr int kHighChords[2][8] = {{84, 86, 88, 89, 91, 93, 95, 96}, {85, 87, 90, 92, 94, 97, 98, 99}};

// The first of them as keys, held in the comparison with other synthesizers.
inline std::vector<int> highChord() {
  return {std::begin(kHighChords[0]), std::end(kHighChords[0])};
}

// Eight voices retaken every period by eight new notes (the two high chords in turn): each retaken voice
// still sounds, so eight release tails fade beside the eight voices. The period is the whole blocks that
// fit in a tail's 5 ms fade.
inline std::vector<CaseNote> retakenChords(double sampleRate, double seconds) {
  const double period = std::floor(0.005 * sampleRate / 64.0) * 64.0 / sampleRate;
  std::vector<CaseNote> notes;
  for (int k = 0; k * period < seconds; ++k) {
    for (const int key : kHighChords[k % 2]) notes.push_back({k * period, key, 0.8, period});
  }
  return notes;
}

// A case of the heavy patch.
inline EngineCase heavyCase(std::string name, double shapeMode, std::vector<CaseNote> notes, double seconds) {
  return {std::move(name), heavyPatch(shapeMode), std::move(notes), seconds};
}

// The six cases at one sample rate.
inline std::vector<EngineCase> engineCases(double sampleRate) {
  const std::vector<int> chord = defaultChord();
  constexpr double kSeconds = 2.0;
  constexpr double kDecaySeconds = 20.0;
  return {
      {"1_default_1voice", {}, heldNotes({60}, kSeconds), kSeconds},
      {"2_default_8voices", {}, heldNotes(chord, kSeconds), kSeconds},
      heavyCase("3_heavy_pm", 0.0, heldNotes({88}, kSeconds), kSeconds),
      heavyCase("4_heavy_carrier_bank", 2.0, heldNotes({36}, kSeconds), kSeconds),
      heavyCase("5_heavy_8voices_8tails", 0.0, retakenChords(sampleRate, kSeconds), kSeconds),
      // Eight held notes decay to nothing under a long reverb: the voices keep rendering their silence.
      {"6_long_decay",
       {{kParamAmpEnvDecay, 2.0},
        {kParamAmpEnvSustain, 0.0},
        {kParamReverbDecay, 30.0},
        {kParamReverbMix, 0.5}},
       heldNotes(chord, kDecaySeconds),
       kDecaySeconds},
  };
}

// An instance with no notes, fresh, and kIdleAfterNoteSeconds after the one held note of the default
// patch let go (its release and the reverb's tail have died away). Each is timed over kIdleSeconds.
inline std::vector<EngineCase> idleCases() {
  constexpr double kIdleSeconds = 5.0;
  constexpr double kNoteSeconds = 1.0;
  constexpr double kIdleAfterNoteSeconds = 30.0;
  constexpr double kSettled = kNoteSeconds + kIdleAfterNoteSeconds;
  return {
      {"fresh", {}, {}, kIdleSeconds},
      {"after_note", {}, heldNotes({60}, kNoteSeconds), kSettled + kIdleSeconds, kSettled},
  };
}

// A note-on or note-off at an absolute frame.
struct NoteEvent {
  uint64_t frame;
  bool on;
  int key;
  double velocity;
};

// The case's notes as events in frame order; at one frame the note-offs come first, so that a retaken key
// starts again.
inline std::vector<NoteEvent> noteEvents(const EngineCase& c, double sampleRate) {
  std::vector<NoteEvent> events;
  for (const CaseNote& n : c.notes) {
    events.push_back({static_cast<uint64_t>(std::llround(n.start * sampleRate)), true, n.key, n.velocity});
    events.push_back(
        {static_cast<uint64_t>(std::llround((n.start + n.duration) * sampleRate)), false, n.key, 0.0});
  }
  std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
    return a.frame != b.frame ? a.frame < b.frame : (!a.on && b.on);
  });
  return events;
}

// Sets a patch on a fresh engine, which keeps the envelope feel of a new instance.
template <typename Engine>
void applyPatch(Engine& engine, const std::vector<CaseParam>& params) {
  for (const CaseParam& p : params) engine.setParam(p.id, p.plain);
}

template <typename Engine>
void applyCase(Engine& engine, const EngineCase& c) {
  applyPatch(engine, c.params);
}

// Hands the engine each event due in the block starting at frame `start`, at its offset in the block;
// `next` walks the events across calls.
template <typename Engine>
void playEventsInBlock(Engine& engine, const std::vector<NoteEvent>& events, size_t& next, uint64_t start,
                       uint64_t blockFrames) {
  for (; next < events.size() && events[next].frame < start + blockFrames; ++next) {
    const NoteEvent& e = events[next];
    const int offset = static_cast<int>(e.frame - start);
    if (e.on) {
      engine.handleNoteOn(0, e.key, e.velocity, offset);
    } else {
      engine.handleNoteOff(0, e.key, offset);
    }
  }
}

}  // namespace engine_cases
