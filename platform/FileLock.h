// An advisory lock on a lock file, held for the life of the object, so that instances in this and other
// processes take turns at work on shared files. Every open of the file locks on its own, so two threads
// of one process exclude each other too.
#pragma once

#include <chrono>
#include <string>
#include <system_error>

namespace platform {

class FileLock {
public:
  // Creates the lock file when missing and waits up to patience for the lock. held() tells whether it
  // was taken; error says why not.
  FileLock(const std::string& path, std::chrono::milliseconds patience);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return fd >= 0; }
  const std::error_code& error() const { return failure; }

private:
  int fd = -1;
  std::error_code failure;
};

}  // namespace platform
