// The scale degrees the editor picks for the ratio steps, handed from the main thread to the audio thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// One picked degree: a scale degree (0 .. scale size - 1) and the period it sits in (0 is the period
// that starts at key 60).
struct RatioSelectionPair {
  int16_t degree;
  int16_t octave;
};

// At most 8 picked degrees in two banks. The main thread fills the bank the audio thread is not
// reading and then switches the bank index with a release store; the audio thread reads the bank the
// index names. Each bank keeps its own count, so a reader never pairs one selection's count with
// another's degrees, and its own write sequence (odd while the bank is being written), so a reader that
// two quick writes overtook sees that its copy is torn instead of using it. Every field is atomic, so
// the banks are never read and written at once without synchronisation.
class RatioSelection {
public:
  static constexpr int kMaxPairs = 8;

  // Main thread. A null array selects nothing; n is clamped to 0..8; each value saturates to 16 bits,
  // so a value beyond them never turns into a small valid one. n = 0 selects the automatic table.
  void set(const int* degrees, const int* octaves, int n);

  // Any thread: pairs in the selection in force, 0..8.
  int32_t count() const;

  // Audio thread: copies the selection in force into `out` and returns its count, or -1 when it was
  // being rewritten during every attempt (a finished write follows at once).
  int32_t read(RatioSelectionPair (&out)[kMaxPairs]) const;

private:
  struct Bank {
    std::array<std::atomic<int16_t>, kMaxPairs> degrees{};
    std::array<std::atomic<int16_t>, kMaxPairs> octaves{};
    std::atomic<int32_t> count{0};
    std::atomic<uint32_t> writeSequence{0};  // odd while the main thread writes this bank
  };

  std::array<Bank, 2> banks{};
  std::atomic<int32_t> readBank{0};  // the bank the audio thread reads
};
