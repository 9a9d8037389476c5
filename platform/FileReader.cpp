#include "platform/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/PlatformLog.h"

namespace {

constexpr size_t kReadChunkBytes = 16384;

void refuse(const std::string& path, const std::string& reason) {
  platform::log("tavrin: cannot read " + path + ": " + reason);
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "an unknown kind of file";
}

// Closes the descriptor when it goes.
struct Descriptor {
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  const int fd;
};

// Appends what fd holds to bytes up to its end, or until bytes holds more than the limit. The errno of a
// failed read when false.
bool readToEnd(int fd, std::string& bytes, int& error) {
  std::array<char, kReadChunkBytes> chunk;
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = errno;
      return false;
    }
    if (got == 0) return true;
    bytes.append(chunk.data(), static_cast<size_t>(got));
    if (bytes.size() > kMaxReadFileBytes) return true;
  }
}

}  // namespace

std::optional<std::string> readRegularFile(const std::string& path, MissingFile missing) {
  // O_NONBLOCK: a named pipe opens at once instead of waiting for a writer, and is refused below.
  // O_NOCTTY: a terminal named here never becomes the host's controlling terminal.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0) {
    if (errno != ENOENT || missing == MissingFile::logged) refuse(path, std::strerror(errno));
    return std::nullopt;
  }
  // The opened file is the one checked, so nothing can be swapped in between the check and the read.
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) {
    refuse(path, std::strerror(errno));
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    refuse(path, std::string("it is ") + kindOf(info.st_mode) + ", not a regular file");
    return std::nullopt;
  }
  const auto size = static_cast<size_t>(info.st_size);
  if (size > kMaxReadFileBytes) {
    refuse(path, "it holds " + std::to_string(size) + " bytes, more than the " +
                     std::to_string(kMaxReadFileBytes) + " a file may hold");
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(size);
  int error = 0;
  if (!readToEnd(file.fd, bytes, error)) {
    refuse(path, std::strerror(error));
    return std::nullopt;
  }
  // The size is checked again on what was read: the file may have changed since the check.
  if (bytes.size() > kMaxReadFileBytes) {
    refuse(path, "it grew past " + std::to_string(kMaxReadFileBytes) + " bytes while it was read");
    return std::nullopt;
  }
  if (bytes.empty()) {
    refuse(path, "it is empty");
    return std::nullopt;
  }
  return bytes;
}
