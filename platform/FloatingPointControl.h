// The processor's floating-point control: flush-to-zero and denormals-are-zero for the audio thread.
#pragma once

#include <cstdint>

// Sets flush-to-zero and denormals-are-zero on the calling thread (MXCSR on x86_64, FPCR on arm64, nothing
// elsewhere). Nothing restores them: the audio thread keeps them for its life.
void enableDenormalFlush();

// The calling thread's whole floating-point control word (rounding mode and flush bits).
uint64_t readFloatingPointControl();
void writeFloatingPointControl(uint64_t word);

// Restores the thread's floating-point control on scope exit; for tests and tools that call the engine on
// a thread whose later work expects the default behaviour.
class ScopedFloatingPointControl {
public:
  ScopedFloatingPointControl() : savedControl(readFloatingPointControl()) {}
  ~ScopedFloatingPointControl() { writeFloatingPointControl(savedControl); }
  ScopedFloatingPointControl(const ScopedFloatingPointControl&) = delete;
  ScopedFloatingPointControl& operator=(const ScopedFloatingPointControl&) = delete;

private:
  uint64_t savedControl;
};
