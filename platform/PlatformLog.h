// The platform log: one line of text for the user's system log (standard error here).
#pragma once

#include <functional>
#include <string>

namespace platform {

// Writes line to the platform log, or hands it to the sink set by setLogSink.
void log(const std::string& line);

// Routes log lines to sink instead of standard error (an empty sink restores standard error). Returns the
// sink that was in place. Main thread only; for tests that read what was logged.
std::function<void(const std::string&)> setLogSink(std::function<void(const std::string&)> sink);

}  // namespace platform
