#pragma once
// A full disk for this process, for tests of what a failed write leaves and tells.

#include <signal.h>
#include <sys/resource.h>

// Writes past bytes fail with EFBIG (SIGXFSZ ignored) until the object goes.
struct ScopedFileSizeLimit {
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  rlimit saved{};
  sighandler_t previousHandler;
};
