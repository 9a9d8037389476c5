#include "platform/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/PlatformLog.h"

namespace {

constexpr size_t kReadChunkBytes = 16384;

FileRead refusal(std::string reason) {
  return {std::nullopt, std::move(reason), false};
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

FileRead readRegularFileUnlogged(const std::string& path) {
  // O_NONBLOCK: a named pipe opens at once instead of waiting for a writer, and is refused below.
  // O_NOCTTY: a terminal named here never becomes the host's controlling terminal.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0) return {std::nullopt, std::strerror(errno), errno == ENOENT};
  // The opened file is the one checked, so nothing can be swapped in between the check and the read.
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return refusal(std::strerror(errno));
  if (!S_ISREG(info.st_mode))
    return refusal(std::string("it is ") + kindOf(info.st_mode) + ", not a regular file");
  const auto size = static_cast<size_t>(info.st_size);
  if (size > kMaxReadFileBytes)
    return refusal("it holds " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(kMaxReadFileBytes) + " a file may hold");
  std::string bytes;
  bytes.reserve(size);
  int error = 0;
  if (!readToEnd(file.fd, bytes, error)) return refusal(std::strerror(error));
  // The size is checked again on what was read: the file may have changed since the check.
  if (bytes.size() > kMaxReadFileBytes)
    return refusal("it grew past " + std::to_string(kMaxReadFileBytes) + " bytes while it was read");
  if (bytes.empty()) return refusal("it is empty");
  return {std::move(bytes), "", false};
}

std::optional<std::string> readRegularFile(const std::string& path, MissingFile missing) {
  FileRead read = readRegularFileUnlogged(path);
  if (!read.bytes && !(read.missing && missing == MissingFile::quiet))
    platform::log("tavrin: cannot read " + path + ": " + read.reason);
  return std::move(read.bytes);
}
