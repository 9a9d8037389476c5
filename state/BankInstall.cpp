#include "state/BankInstall.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/FileReport.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformLog.h"
#include "state/PresetLibrary.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestFile = ".factory-bank-manifest";
// Beside the bundled presets: the first bank's presets as it shipped, in the manifest's form.
constexpr const char* kFirstBankManifest = "../first-bank.manifest";
constexpr const char* kEditsFolder = "Factory edits";
constexpr const char* kSetAsideMark = " (set aside";
// A bank file is a preset; anything longer at a bank path is the user's.
constexpr size_t kMaxBankFileBytes = 1048575;
constexpr int kMaxFreeNameTries = 1000;
constexpr int kHashDigits = 16;

// Relative path (generic form) -> content hash of what the install wrote there.
using Manifest = std::map<std::string, uint64_t>;

std::mutex s_toldMutex;
std::set<std::string> s_toldLibraries;

// FNV-1a, 64 bits: tells a changed preset from the one written, not meant to resist forgery.
uint64_t contentHash(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// The bytes of a regular file of at most kMaxBankFileBytes, read without following a link or waiting on
// a pipe; none for anything else.
std::optional<std::string> readBankFile(const fs::path& path, std::error_code& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error.assign(errno, std::generic_category());
    return std::nullopt;
  }
  struct stat info {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &info) != 0)
    error.assign(errno, std::generic_category());
  else if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > kMaxBankFileBytes)
    error = std::make_error_code(std::errc::invalid_argument);
  else
    bytes.emplace(static_cast<size_t>(info.st_size), '\0');
  size_t got = 0;
  while (bytes && got < bytes->size()) {
    const ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error.assign(errno, std::generic_category());
    if (n <= 0)
      bytes.reset();
    else
      got += static_cast<size_t>(n);
  }
  ::close(fd);
  return bytes;
}

Manifest readManifest(const fs::path& file) {
  Manifest manifest;
  std::error_code error;
  const std::optional<std::string> text = readBankFile(file, error);
  if (!text) return manifest;
  std::string_view rest(*text);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    uint64_t hash = 0;
    const auto parsed = std::from_chars(line.data(), line.data() + line.size(), hash, 16);
    if (parsed.ec == std::errc() && parsed.ptr - line.data() == kHashDigits &&
        line.size() > kHashDigits + 1 && line[kHashDigits] == ' ')
      manifest[std::string(line.substr(kHashDigits + 1))] = hash;
  }
  return manifest;
}

std::string manifestText(const Manifest& manifest) {
  std::string text;
  for (const auto& [path, hash] : manifest) {
    char digits[kHashDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    text += digits;
    text += ' ';
    text += path;
    text += '\n';
  }
  return text;
}

// head + tail for try 1, then head + " 2" + tail and on: the free names tried for a file set aside.
std::string numberedName(const std::string& head, int n, const std::string& tail) {
  std::string name = head;
  if (n > 1) {
    name += ' ';
    name += std::to_string(n);
  }
  name += tail;
  return name;
}

// Calls place(n) for n = 1, 2, ... while it fails because its name n is taken; the last name tried,
// with error clear when placing under it worked.
template <typename Name, typename Place>
fs::path placeUnderFreeName(Name name, Place place, std::error_code& error) {
  fs::path candidate;
  for (int n = 1; n <= kMaxFreeNameTries; ++n) {
    candidate = name(n);
    if (place(candidate) || error != std::errc::file_exists) break;
  }
  return candidate;
}

// Renames what is at path to a free name beside it that says it was set aside.
bool renameAside(const fs::path& path, LibrarySetupLog& log) {
  std::error_code error;
  const fs::path aside = placeUnderFreeName(
      [&](int n) {
        return path.parent_path() / numberedName(path.filename().string() + kSetAsideMark, n, ")");
      },
      [&](const fs::path& name) { return renameWithoutReplacing(path.string(), name.string(), error); },
      error);
  if (error) {
    log.failure("rename aside", path, error);
    return false;
  }
  platform::log("tavrin: factory bank: renamed \"" + path.string() + "\" to \"" + aside.string() +
                "\", as a bank file or folder belongs there");
  return true;
}

// Copies the user's changed bank file to base/User/Factory edits, keeping its folder in the bank.
bool keepUsersEdit(const fs::path& base, const fs::path& file, const fs::path& relative,
                   LibrarySetupLog& log) {
  const fs::path folder = base / kUserFolder / kEditsFolder / relative.parent_path();
  if (!ensureLibraryFolder(folder, log)) return false;
  std::error_code error;
  const fs::path copy = placeUnderFreeName(
      [&](int n) {
        return folder / numberedName(relative.stem().string(), n, relative.extension().string());
      },
      [&](const fs::path& name) { return copyFileExclusive(file.string(), name.string(), error); }, error);
  if (error) {
    log.failure("keep a copy of the changed factory preset as", copy, error);
    return false;
  }
  platform::log("tavrin: factory bank: kept your changed \"" + file.string() + "\" as \"" + copy.string() +
                "\" before installing the factory version");
  return true;
}

// Makes every folder from factory down to folder (inside it) a folder of its own: a link there is
// renamed aside too, so the bank never writes through one into another folder.
bool ensureBankFolders(const fs::path& factory, const fs::path& relativeFolder, LibrarySetupLog& log) {
  fs::path folder = factory;
  for (const fs::path& part : relativeFolder) {
    folder /= part;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (fs::is_directory(status)) continue;
    if (fs::exists(status) && !renameAside(folder, log)) return false;
    if (!fs::create_directory(folder, error) && error) {
      log.failure("create the factory folder", folder, error);
      return false;
    }
  }
  return true;
}

struct BankPlacement {
  const fs::path& base;
  const Manifest& installed;
  Manifest& written;
  LibrarySetupLog& log;
};

// Puts the shipped preset at relative under base/Factory. The file there is kept when it is the shipped
// one, replaced when it is what the install wrote, and copied aside first when the user changed it.
bool placePreset(BankPlacement& placement, const fs::path& shippedFile, const fs::path& relative) {
  std::error_code error;
  const std::optional<std::string> shipped = readBankFile(shippedFile, error);
  if (!shipped) {
    placement.log.failure("read the shipped preset", shippedFile, error);
    return false;
  }
  const fs::path factory = placement.base / kFactoryFolder;
  if (!ensureBankFolders(factory, relative.parent_path(), placement.log)) return false;
  const fs::path target = factory / relative;
  const std::string key = relative.generic_string();
  const uint64_t shippedHash = contentHash(*shipped);
  const fs::file_status status = fs::symlink_status(target, error);
  if (fs::is_regular_file(status)) {
    const std::optional<std::string> present = readBankFile(target, error);
    const uint64_t presentHash = present ? contentHash(*present) : 0;
    if (present && presentHash == shippedHash) {
      placement.written[key] = shippedHash;
      return true;
    }
    const auto entry = placement.installed.find(key);
    const bool unchanged = present && entry != placement.installed.end() && entry->second == presentHash;
    if (!unchanged && !keepUsersEdit(placement.base, target, relative, placement.log)) return false;
  } else if (fs::exists(status) && !renameAside(target, placement.log)) {
    return false;
  }
  if (!writeFileAtomically(target.string(), *shipped, error)) {
    placement.log.failure("install the factory preset", target, error);
    return false;
  }
  placement.written[key] = shippedHash;
  return true;
}

}  // namespace

LibrarySetupLog::LibrarySetupLog(const fs::path& base) : library(base.string()) {
  std::lock_guard lock(s_toldMutex);
  silent = s_toldLibraries.count(library) != 0;
}

LibrarySetupLog::~LibrarySetupLog() {
  if (!anyFailure) return;
  std::lock_guard lock(s_toldMutex);
  s_toldLibraries.insert(library);
}

void LibrarySetupLog::failure(std::string_view action, const fs::path& path, const std::error_code& error) {
  anyFailure = true;
  if (!silent) platform::logFileFailure(action, path, error);
}

bool ensureLibraryFolder(const fs::path& folder, LibrarySetupLog& log) {
  std::error_code error;
  if (fs::is_directory(folder, error)) return true;
  if (fs::exists(fs::symlink_status(folder, error)) && !renameAside(folder, log)) return false;
  fs::create_directories(folder, error);
  if (!error) return true;
  log.failure("create the library folder", folder, error);
  return false;
}

bool hasBankManifest(const fs::path& base) {
  std::error_code error;
  return fs::exists(fs::symlink_status(base / kManifestFile, error));
}

void recordInstalledBank(const fs::path& base, const fs::path& source, const std::vector<fs::path>& presets,
                         LibrarySetupLog& log) {
  Manifest unchanged;
  for (const fs::path& relative : presets) {
    std::error_code error;
    const std::optional<std::string> shipped = readBankFile(source / relative, error);
    const std::optional<std::string> present = readBankFile(base / kFactoryFolder / relative, error);
    if (shipped && present && *shipped == *present)
      unchanged[relative.generic_string()] = contentHash(*present);
  }
  std::error_code error;
  if (!writeFileAtomically((base / kManifestFile).string(), manifestText(unchanged), error))
    log.failure("write the factory bank manifest", base / kManifestFile, error);
}

bool installBankPresets(const fs::path& base, const fs::path& source, const std::vector<fs::path>& presets,
                        LibrarySetupLog& log) {
  // A library without a manifest was set up by a build that kept none, and every such build shipped the
  // first bank: its presets as shipped are what that install wrote.
  const Manifest installed = hasBankManifest(base)
                                 ? readManifest(base / kManifestFile)
                                 : readManifest((source / kFirstBankManifest).lexically_normal());
  // Entries of paths this bank no longer ships stay: a later bank may bring them back.
  Manifest written = installed;
  BankPlacement placement{base, installed, written, log};
  bool placed = true;
  for (const fs::path& relative : presets)
    if (!(placed = placePreset(placement, source / relative, relative))) break;
  std::error_code error;
  if (written != installed &&
      !writeFileAtomically((base / kManifestFile).string(), manifestText(written), error)) {
    log.failure("write the factory bank manifest", base / kManifestFile, error);
    return false;
  }
  return placed;
}
