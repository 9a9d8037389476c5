#include "platform/HelperProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/EditorFrames.h"

extern char** environ;

namespace platform {

namespace {

// A GTK 2 host's preloads, modules and settings abort GTK 3 in the helper.
constexpr std::string_view kDroppedVariables[] = {
    "LD_PRELOAD=", "GTK_MODULES=", "GTK_PATH=", "GTK2_RC_FILES="};
constexpr auto kReapPoll = std::chrono::milliseconds(2);

std::vector<char*> helperEnvironment() {
  std::vector<char*> kept;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    bool dropped = false;
    for (const std::string_view name : kDroppedVariables) dropped |= variable.starts_with(name);
    if (!dropped) kept.push_back(*entry);
  }
  kept.push_back(nullptr);
  return kept;
}

// posix_spawn's file actions, released however the spawn ends.
struct SpawnActions {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnActions() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnActions() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

}  // namespace

bool HelperProcess::spawn(const std::string& program, int socketFd, std::string& reason) {
  if (access(program.c_str(), X_OK) != 0) {
    reason = program + ": " + std::strerror(errno);
    return false;
  }
  // dup2 onto the same number would keep close-on-exec set: move the socket out of the way first.
  int source = socketFd;
  if (source == frames::kHelperSocketFd)
    source = fcntl(socketFd, F_DUPFD_CLOEXEC, frames::kHelperSocketFd + 1);
  if (source < 0) {
    reason = std::string("no descriptor for the helper's socket: ") + std::strerror(errno);
    return false;
  }
  SpawnActions spawn;
  posix_spawn_file_actions_adddup2(&spawn.actions, source, frames::kHelperSocketFd);
  posix_spawn_file_actions_addclosefrom_np(&spawn.actions, frames::kHelperSocketFd + 1);
  // The host's blocked and ignored signals are not the helper's.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&spawn.attributes, &none);
  posix_spawnattr_setsigdefault(&spawn.attributes, &all);
  posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> environment = helperEnvironment();
  std::string name = program;
  char* arguments[] = {name.data(), nullptr};
  const int error =
      posix_spawn(&pid, program.c_str(), &spawn.actions, &spawn.attributes, arguments, environment.data());
  if (source != socketFd) close(source);
  if (error != 0) {
    pid = -1;
    reason = program + ": " + std::strerror(error);
    return false;
  }
  running = true;
  endText.clear();
  return true;
}

void HelperProcess::reaped(int status) {
  running = false;
  // Without WUNTRACED a reaped child has either exited or been killed.
  if (WIFEXITED(status))
    endText = "exited with status " + std::to_string(WEXITSTATUS(status));
  else
    endText =
        "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
}

bool HelperProcess::ended() {
  if (!running) return true;
  int status = 0;
  const pid_t done = waitpid(pid, &status, WNOHANG);
  if (done == pid) reaped(status);
  if (done < 0 && errno == ECHILD) {
    // The host reaps its children itself: how it ended is the host's to know.
    running = false;
    endText = "ended";
  }
  return !running;
}

void HelperProcess::end(std::chrono::milliseconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (!ended()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      reaped(status);
      return;
    }
    std::this_thread::sleep_for(kReapPoll);
  }
}

}  // namespace platform
