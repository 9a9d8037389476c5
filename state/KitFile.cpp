#include "state/KitFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/PlatformFiles.h"
#include "state/CFile.h"
#include "state/KitSection.h"
#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

// A CLAP stream over a file open for reading: answers -1 when the file reports an error, so 0 at the end
// of the file ends a read.
int64_t fileRead(const clap_istream* stream, void* buffer, uint64_t size) {
  FILE* file = static_cast<FILE*>(stream->ctx);
  const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), file);
  return n == 0 && std::ferror(file) ? -1 : static_cast<int64_t>(n);
}

bool validPath(const char* path) {
  return path != nullptr && path[0] != 0;
}

// The stream version of the section a kit file of this version holds; 0 for a version no writer wrote.
uint32_t sectionVersionOf(uint32_t kitFileVersion) {
  switch (kitFileVersion) {
    case 1:
      return kKitSectionGainPanVersion;
    case kKitFileVersion:
      return kStateVersion;
    default:
      return 0;
  }
}

}  // namespace

bool saveKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock, std::error_code& error) {
  error = std::make_error_code(std::errc::invalid_argument);
  if (!validPath(path)) return false;
  std::vector<uint8_t> bytes;
  const AppendingOStream out(bytes);
  if (!tavrin_stream_write_all(out.stream(), kKitFileMagic, sizeof kKitFileMagic) ||
      !writeField(out.stream(), kKitFileVersion))
    return false;
  {
    std::lock_guard lock(kitLock);
    if (!tavrin_write_kit_section(out.stream(), engine)) return false;
  }
  return writeFileAtomically(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

bool loadKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock) {
  if (!validPath(path)) return false;
  CFile file = openCFile(path, "rb");
  if (!file) return false;
  const clap_istream stream{file.get(), fileRead};
  char magic[sizeof kKitFileMagic];
  uint32_t version = 0;
  if (!tavrin_stream_read_all(&stream, magic, sizeof magic) ||
      std::memcmp(magic, kKitFileMagic, sizeof magic) != 0 || !readField(&stream, version) ||
      sectionVersionOf(version) == 0)
    return false;
  auto data = std::make_unique<KitSectionData>();
  if (!readKitSection(&stream, sectionVersionOf(version), *data) || !data->complete) return false;
  file.reset();
  std::lock_guard lock(kitLock);
  applyKitSection(engine, *data);
  return true;
}
