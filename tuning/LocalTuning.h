// The local (Scala) tuning record, the tuning summary shown in the editor, and their small helpers.
#pragma once

#include <cstdint>

constexpr int kMaxTuningIntervals = 64;
constexpr int kTuningTextBytes = 24;  // each degree's token, NUL-terminated, at most 23 bytes
constexpr int kTuningNameBytes = 64;  // display name, UTF-8, NUL-terminated, at most 63 bytes

// A scale the user loaded: degree ratios against key 60 (ratios[0] is 1.0), repeating every
// keysPerPeriod keys by periodRatio (above 1). Plain record, always zeroed before it is filled.
struct LocalTuning {
  double ratios[kMaxTuningIntervals];
  char degreeText[kMaxTuningIntervals][kTuningTextBytes];
  int32_t count;          // degrees in the table, 1..64
  double periodRatio;     // ratio of the repeating period, above 1
  int32_t keysPerPeriod;  // keys one period spans, 1..64
  char name[kTuningNameBytes];
};

// Summary of the tuning in force for the editor: the LocalTuning fields, where it comes from and
// whether there is one. Entries beyond count are zero.
struct TuningSnapshot {
  enum Source : int32_t { kNone = 0, kMTS = 1, kLocal = 2 };
  double ratios[kMaxTuningIntervals];
  char degreeText[kMaxTuningIntervals][kTuningTextBytes];
  int32_t count;
  double periodRatio;
  int32_t keysPerPeriod;
  char name[kTuningNameBytes];
  int32_t source;  // Source
  bool valid;
};

// Brings a record from outside into range: count 1..64, keysPerPeriod 1..64 (count when below 1), a
// period not above 1 (or NaN) becomes 2, ratios[0] = 1, every text NUL-terminated.
void repairLocalTuning(LocalTuning& t);

// Copies the NUL-terminated text src into a 64-byte name, cut to at most 63 bytes without splitting a
// UTF-8 sequence. A null src gives an empty name.
void copyTuningName(char (&dst)[kTuningNameBytes], const char* src);
