#pragma once
// What the file tests need beside the files themselves: named pipes where a file is expected, a watch
// that turns a call hung on one into a failure, and the platform log's lines caught for a test.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/PlatformLog.h"

// Makes a named pipe at path, with its missing folders.
inline bool makeNamedPipe(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  return ::mkfifo(path.c_str(), 0600) == 0;
}

// Runs call on this thread; true when it returned before the watch ran out. The work takes milliseconds;
// the watch is generous so that a loaded machine never fails it, while a call hung on the pipe (which
// never returns by itself) does: the watch then sets it free with a writer that opens the pipe and closes
// it again, so the test fails instead of blocking the run.
template <typename Call>
bool returnsBeforeTheWatch(const std::filesystem::path& pipe, Call call) {
  constexpr auto kWatch = std::chrono::seconds(5);
  std::promise<void> returned;
  const std::future<void> done = returned.get_future();
  std::atomic<bool> freed{false};
  std::thread watch([&] {
    if (done.wait_for(kWatch) == std::future_status::ready) return;
    freed = true;
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
  });
  call();
  returned.set_value();
  watch.join();
  return !freed;
}

// Catches every line the platform log writes while it lives (before any route).
class LogCatch {
public:
  LogCatch()
      : previous(platform::setLogSink([this](const std::string& line) {
          std::lock_guard<std::mutex> guard(lock);
          caught.push_back(line);
        })) {}
  ~LogCatch() { platform::setLogSink(previous); }
  LogCatch(const LogCatch&) = delete;
  LogCatch& operator=(const LogCatch&) = delete;

  // The lines caught so far, which are then forgotten.
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(caught, {});
  }

private:
  std::mutex lock;
  std::vector<std::string> caught;
  platform::LogWriter previous;
};
