// The platform log: one line of text for the user, in the host's log when the plug-in routes it there,
// else on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

using LogWriter = std::function<void(const std::string&)>;

// Writes line to the sink set by setLogSink, else through the newest LogRoute in place, else to standard
// error. Any thread but the audio thread: it takes a lock and the writer may block.
void log(const std::string& line);

// Routes log lines to sink before any route (an empty sink restores the routes and standard error).
// Returns the sink that was in place. Main thread only; for tests that read what was logged.
LogWriter setLogSink(LogWriter sink);

// Sends log lines to its writer while it lives; of several routes (one per plug-in instance) the newest
// takes them. A line being written through a route is finished before the route is gone, so the writer's
// target may go right after it. Made and dropped on the main thread; the writer is called on the thread
// that logs.
class LogRoute {
public:
  explicit LogRoute(LogWriter writer);
  ~LogRoute();
  LogRoute(const LogRoute&) = delete;
  LogRoute& operator=(const LogRoute&) = delete;

private:
  const uint64_t id;
};

}  // namespace platform
