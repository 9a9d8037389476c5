#include "platform/PlatformFiles.h"

#include <fcntl.h>
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

}  // namespace

bool copyFileExclusive(const std::string& source, const std::string& destination) {
  const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return false;
  // O_EXCL refuses any existing name, links included: another writer's file is never touched.
  const int to = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (to < 0) {
    ::close(from);
    return false;
  }
  const bool copied = copyContents(from, to);
  const bool closed = ::close(to) == 0;
  ::close(from);
  if (copied && closed) return true;
  ::unlink(destination.c_str());
  return false;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written =
      writeAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, kNewFileMode) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (written && closed && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}
