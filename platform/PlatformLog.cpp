#include "platform/PlatformLog.h"

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Route {
  uint64_t id;
  LogWriter writer;
};

std::mutex s_sinkMutex;
LogWriter s_sink;
// Held while a line goes through a route, so a route is never dropped in the middle of a line.
std::mutex s_routeMutex;
std::vector<Route> s_routes;
uint64_t s_nextRouteId = 1;

}  // namespace

void log(const std::string& line) {
  LogWriter sink;
  {
    std::lock_guard<std::mutex> lock(s_sinkMutex);
    sink = s_sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::lock_guard<std::mutex> lock(s_routeMutex);
  if (!s_routes.empty()) {
    s_routes.back().writer(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

LogWriter setLogSink(LogWriter sink) {
  std::lock_guard<std::mutex> lock(s_sinkMutex);
  return std::exchange(s_sink, std::move(sink));
}

LogRoute::LogRoute(LogWriter writer)
    : id([&] {
        std::lock_guard<std::mutex> lock(s_routeMutex);
        s_routes.push_back({s_nextRouteId, std::move(writer)});
        return s_nextRouteId++;
      }()) {}

LogRoute::~LogRoute() {
  std::lock_guard<std::mutex> lock(s_routeMutex);
  std::erase_if(s_routes, [this](const Route& route) { return route.id == id; });
}

}  // namespace platform
