#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace platform {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(20);
constexpr mode_t kLockFileMode = 0644;

}  // namespace

FileLock::FileLock(const std::string& path, std::chrono::milliseconds patience) {
  // Never follows a link and never waits on a pipe put in the lock file's place.
  const int file =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kLockFileMode);
  if (file < 0) {
    failure.assign(errno, std::generic_category());
    return;
  }
  // Polled rather than blocking, so that a stuck holder costs this caller no more than its patience.
  const auto giveUp = std::chrono::steady_clock::now() + patience;
  while (::flock(file, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp) {
      failure.assign(errno, std::generic_category());
      ::close(file);
      return;
    }
    std::this_thread::sleep_for(kRetryInterval);
  }
  fd = file;
}

FileLock::~FileLock() {
  if (fd >= 0) ::close(fd);
}

}  // namespace platform
