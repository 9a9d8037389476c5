#include "platform/FloatingPointControl.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
constexpr uint32_t kFlushToZeroBit = 0x8000;       // MXCSR.FTZ
constexpr uint32_t kDenormalsAreZeroBit = 0x0040;  // MXCSR.DAZ
#elif defined(__aarch64__)
constexpr uint64_t kFlushToZeroBit = 1ull << 24;  // FPCR.FZ, which also flushes denormal inputs
#endif

}  // namespace

uint64_t readFloatingPointControl() {
#if defined(__SSE2__)
  return _mm_getcsr();
#elif defined(__aarch64__)
  uint64_t fpcr;
  __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
  return fpcr;
#else
  return 0;
#endif
}

void writeFloatingPointControl(uint64_t word) {
#if defined(__SSE2__)
  _mm_setcsr(static_cast<unsigned>(word));
#elif defined(__aarch64__)
  __asm__ __volatile__("msr fpcr, %0" : : "r"(word));
#else
  (void)word;
#endif
}

void enableDenormalFlush() {
#if defined(__SSE2__)
  writeFloatingPointControl(readFloatingPointControl() | kFlushToZeroBit);
  writeFloatingPointControl(readFloatingPointControl() | kDenormalsAreZeroBit);
#elif defined(__aarch64__)
  writeFloatingPointControl(readFloatingPointControl() | kFlushToZeroBit);
#endif
}
