#include "state/KitFile.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileReader.h"
#include "platform/PlatformFiles.h"
#include "state/KitSection.h"
#include "state/StateStream.h"
#include "state/StreamIo.h"

namespace {

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

bool loadKitFile(const char* path, PluginProcessor& engine, std::mutex& kitLock, std::string& reason) {
  reason = "no file named";
  if (!validPath(path)) return false;
  FileRead read = readRegularFileUnlogged(path);
  if (!read.bytes) {
    reason = std::move(read.reason);
    return false;
  }
  reason = "not a kit file this version can load";
  const std::string& bytes = *read.bytes;
  BufferIStream source(bytes.data(), bytes.size());
  const clap_istream* stream = source.stream();
  char magic[sizeof kKitFileMagic];
  uint32_t version = 0;
  if (!tavrin_stream_read_all(stream, magic, sizeof magic) ||
      std::memcmp(magic, kKitFileMagic, sizeof magic) != 0 || !readField(stream, version) ||
      sectionVersionOf(version) == 0)
    return false;
  auto data = std::make_unique<KitSectionData>();
  if (!readKitSection(stream, sectionVersionOf(version), *data) || !data->complete) return false;
  reason.clear();
  std::lock_guard lock(kitLock);
  applyKitSection(engine, *data);
  return true;
}
