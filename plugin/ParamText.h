// Display texts of parameter values and their inverse, for the host's parameter texts.
#pragma once

#include <array>
#include <cstdint>

// Labels of the 19 tempo divisions of the envelope stages and sequencer lanes, index 0..18, in the order
// of kSeqSyncDivBeats.
inline constexpr std::array<const char*, 19> kSeqSyncDivLabels = {
    "1/32", "1/32D", "1/32T", "1/16", "1/16D", "1/16T", "1/8",   "1/8D",  "1/8T", "1/4",
    "1/4D", "1/4T",  "1/2",   "1/2D", "1/2T",  "1 bar", "2 bar", "4 bar", "8 bar"};

// Plain values (0..2) of the two LFO sync-mode parameters: an LFO rate reads as a tempo division while
// its LFO is locked to the song, and in hertz otherwise.
struct LfoSyncModes {
  double lfo1{0.0};
  double lfo2{0.0};
};

// Writes the display text of parameter id at the normalised value into buffer: UTF-8, independent of
// the process locale, truncated to capacity at a character boundary and always terminated. The value
// is clamped to 0..1 first (NaN gives 0), so the text shows what the parameter would hold. False, with
// the buffer untouched, for an id out of range, a null buffer or a capacity of 0.
bool paramValueToText(uint32_t id, double normalised, const LfoSyncModes& sync, char* buffer,
                      uint32_t capacity);

// Reads a text in the form paramValueToText writes (labels, numbers with or without their unit,
// surrounding spaces allowed) and stores its normalised value, which is not clamped to 0..1 but always
// finite. False, with *normalised untouched, for an id out of range, null pointers, and text that reads
// neither as a number nor as a label of the parameter ("abc", "nan", "inf", "1e999").
bool paramTextToValue(uint32_t id, const char* text, const LfoSyncModes& sync, double* normalised);
