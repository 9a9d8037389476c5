#include "platform/PlatformLog.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex s_sinkMutex;
std::function<void(const std::string&)> s_sink;

}  // namespace

void log(const std::string& line) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(s_sinkMutex);
    sink = s_sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

std::function<void(const std::string&)> setLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(s_sinkMutex);
  return std::exchange(s_sink, std::move(sink));
}

}  // namespace platform
