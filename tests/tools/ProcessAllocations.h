#pragma once
// Counts heap allocations and frees made on one thread while it is armed, for the tests that require
// none on the audio path. The replacement operators new and delete live in ProcessAllocations.cpp.

#include <cstdint>

namespace process_allocations {

struct Counts {
  uint64_t allocations = 0;
  uint64_t frees = 0;
};

// Arms or disarms counting on the calling thread.
void arm(bool on);
// What the armed threads counted since the program started.
Counts counted();

}  // namespace process_allocations
