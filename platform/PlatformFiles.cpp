#include "platform/PlatformFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

constexpr size_t kCopyChunkBytes = 65536;
constexpr mode_t kNewFileMode = 0644;

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    // A write that takes nothing without a reason is a full device.
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool copyContents(int from, int to) {
  std::vector<char> chunk(kCopyChunkBytes);
  for (;;) {
    const ssize_t got = ::read(from, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!writeAll(to, chunk.data(), static_cast<size_t>(got))) return false;
  }
}

// Records errno of the call that failed as error, then answers false.
bool failed(std::error_code& error) {
  error.assign(errno, std::generic_category());
  return false;
}

// Closes fd; the first failure among the steps before (written false, errno already in error) and the
// close decides error.
bool closeAfter(int fd, bool written, std::error_code& error) {
  if (!written) failed(error);
  const bool closed = ::close(fd) == 0;
  if (written && !closed) failed(error);
  return written && closed;
}

}  // namespace

bool copyFileExclusive(const std::string& source, const std::string& destination, std::error_code& error) {
  error.clear();
  const int from = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (from < 0) return failed(error);
  // O_EXCL refuses any existing name, links included: another writer's file is never touched.
  const int to = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (to < 0) {
    failed(error);
    ::close(from);
    return false;
  }
  const bool copied = closeAfter(to, copyContents(from, to), error);
  ::close(from);
  if (!copied) ::unlink(destination.c_str());
  return copied;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::error_code& error) {
  error.clear();
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failed(error);
  const bool written = closeAfter(
      fd, writeAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, kNewFileMode) == 0 && ::fsync(fd) == 0,
      error);
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (written) failed(error);
  ::unlink(temporary.c_str());
  return false;
}

bool renameWithoutReplacing(const std::string& from, const std::string& to, std::error_code& error) {
  error.clear();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return failed(error);
  // A file system without the no-replace flag: check first, accepting the short window.
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    error = std::make_error_code(std::errc::file_exists);
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0 || failed(error);
}
