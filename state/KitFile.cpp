#include "state/KitFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "state/KitSection.h"
#include "state/StreamIo.h"

namespace {

// A CLAP stream over an open standard file. A write that stores nothing answers -1; a read answers -1
// when the file reports an error, so 0 at the end of the file ends a read.
int64_t fileWrite(const clap_ostream* stream, const void* buffer, uint64_t size) {
  const size_t n = std::fwrite(buffer, 1, static_cast<size_t>(size), static_cast<FILE*>(stream->ctx));
  return n == 0 && size > 0 ? -1 : static_cast<int64_t>(n);
}

int64_t fileRead(const clap_istream* stream, void* buffer, uint64_t size) {
  FILE* file = static_cast<FILE*>(stream->ctx);
  const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), file);
  return n == 0 && std::ferror(file) ? -1 : static_cast<int64_t>(n);
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

bool validPath(const char* path) {
  return path != nullptr && path[0] != 0;
}

bool writeKitFile(FILE* file, PluginProcessor& engine, std::mutex& kitLock) {
  const clap_ostream stream{file, fileWrite};
  if (!tavrin_stream_write_all(&stream, kKitFileMagic, sizeof kKitFileMagic) ||
      !writeField(&stream, kKitFileVersion))
    return false;
  std::lock_guard lock(kitLock);
  return tavrin_write_kit_section(&stream, engine);
}

}  // namespace

bool saveKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock) {
  if (!validPath(path)) return false;
  const std::string temporary = std::string(path) + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = writeKitFile(file, engine, kitLock);
  const bool closed = std::fclose(file) == 0;
  if (written && closed && std::rename(temporary.c_str(), path) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

bool loadKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock) {
  if (!validPath(path)) return false;
  FileHandle file(std::fopen(path, "rb"));
  if (!file) return false;
  const clap_istream stream{file.get(), fileRead};
  char magic[sizeof kKitFileMagic];
  uint32_t version = 0;
  if (!tavrin_stream_read_all(&stream, magic, sizeof magic) ||
      std::memcmp(magic, kKitFileMagic, sizeof magic) != 0 || !readField(&stream, version) ||
      version != kKitFileVersion)
    return false;
  auto data = std::make_unique<KitSectionData>();
  if (!readKitSection(&stream, kKitSectionCurrentVersion, *data) || !data->complete) return false;
  file.reset();
  std::lock_guard lock(kitLock);
  applyKitSection(engine, *data);
  return true;
}
