// Numbers written for the page and for files are read back by JavaScript and JSON readers, which know
// only the full stop: the C library's printf follows the process locale, which a host may set to one
// with a decimal comma.
#pragma once

#include <locale.h>

namespace platform {

// While it lives, the calling thread formats and parses with the "C" locale; the thread's previous
// locale comes back afterwards. Not for the audio thread (the first use creates the locale).
class ScopedCLocale {
public:
  ScopedCLocale();
  ~ScopedCLocale();
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
  locale_t previous = nullptr;
};

}  // namespace platform
