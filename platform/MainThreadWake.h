// Brings the main thread to the main queue without any host extension: while it lives, every block
// queued on the main queue, and a tick for its timers every kTick, call wake (the host's thread-safe
// request for a main-thread call). Its thread is joined, and wake no longer called, once the destructor
// returns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class MainThreadWake {
public:
  // Often enough for the editor's 30 Hz push.
  static constexpr auto kTick = std::chrono::milliseconds(16);

  explicit MainThreadWake(std::function<void()> wake);
  ~MainThreadWake();
  MainThreadWake(const MainThreadWake&) = delete;
  MainThreadWake& operator=(const MainThreadWake&) = delete;

private:
  std::function<void()> wake;
  uint64_t wakerId = 0;
  std::mutex lock;
  std::condition_variable stop;
  bool stopping = false;
  std::thread ticker;
};

}  // namespace platform
