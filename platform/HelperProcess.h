// A program of our own started beside the host: spawned without a shell, holding only its end of a
// socket pair, with the host's environment less what would load a host's toolkit into it, and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace platform {

class HelperProcess {
public:
  // Starts program with one argument; socketFd becomes the helper's descriptor frames::kHelperSocketFd
  // and is the only one it inherits. False, with the reason, when it could not be started.
  bool spawn(const std::string& program, int socketFd, std::string& reason);
  // Waits up to grace for the helper to end by itself (its socket closed), then kills it; either way it
  // is reaped. Does nothing when none runs.
  void end(std::chrono::milliseconds grace);
  // True when it has ended (it is then reaped).
  bool ended();
  // How it ended ("exited with status 1", "was killed by signal 9 (Killed)"); empty while it runs.
  const std::string& howItEnded() const { return endText; }
  // Its process id, also once it has ended; -1 before a spawn.
  pid_t id() const { return pid; }

  HelperProcess() = default;
  ~HelperProcess() { end(std::chrono::milliseconds(0)); }
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

private:
  void reaped(int status);
  pid_t pid = -1;
  bool running = false;
  std::string endText;
};

}  // namespace platform
