#include "state/PresetLibrary.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <vector>

#include "platform/FileLock.h"
#include "platform/FileReader.h"
#include "platform/FileReport.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformPaths.h"
#include "state/BankInstall.h"
#include "state/TextScan.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLibrarySubPath = "Nobrels/Tavrin";
constexpr const char* kEarlierLibrarySubPath = "Library/Audio/Presets/Nobrels/Tavrin";
constexpr const char* kCarryOverSuffix = ".carry-over";
constexpr const char* kMarkerFile = ".factory-bank";
constexpr const char* kBundledPresets = "Presets/Factory";
constexpr const char* kInstallLockFile = ".factory-bank.lock";
constexpr auto kInstallLockPatience = std::chrono::seconds(5);
constexpr size_t kMaxMarkerBytes = 4096;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

// Calls visit with every entry below folder, linked folders not followed, while visit answers true.
// False when the walk could not be completed, so that a caller can tell it may have missed entries.
template <typename Visit>
bool walkEntries(const fs::path& folder, Visit visit) {
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::none, error);
  if (error) return false;
  for (const fs::recursive_directory_iterator end; entry != end;) {
    if (!visit(*entry)) return true;
    entry.increment(error);
    if (error) return false;
  }
  return true;
}

// walkEntries over the regular files only, visited by path.
template <typename Visit>
bool walkFiles(const fs::path& folder, Visit visit) {
  return walkEntries(folder, [&](const fs::directory_entry& entry) {
    std::error_code error;
    return !entry.is_regular_file(error) || visit(entry.path());
  });
}

bool isBundledPreset(const fs::path& file) {
  return file.extension() == kPresetExtension;
}

// The bank version a marker's text names: 0 for no text or one that is not a marker.
int markerVersion(const std::optional<std::string>& text) {
  if (!text || text->size() > kMaxMarkerBytes || !isValidUtf8(*text)) return 0;
  return leadingInteger(*text);
}

// The bundled presets below source, relative to it; none when the walk could not see them all.
std::optional<std::vector<fs::path>> bundledPresets(const fs::path& source) {
  std::vector<fs::path> presets;
  const bool walked = walkFiles(source, [&](const fs::path& file) {
    if (isBundledPreset(file)) presets.push_back(file.lexically_relative(source));
    return true;
  });
  if (!walked) return std::nullopt;
  return presets;
}

// Installs the bank when the marker is older than this program's bank, taking turns with other
// instances; the marker follows a complete install. A bank installed before installs kept a manifest
// gets one. A bundle with no preset it would install leaves Factory alone.
void installFactoryBank(const fs::path& base, const fs::path& source, LibrarySetupLog& log) {
  const bool installed = tavrin_readBankMarker(base) >= kFactoryBankVersion;
  if (installed && hasBankManifest(base)) return;
  const std::optional<std::vector<fs::path>> presets = bundledPresets(source);
  if (!presets || presets->empty()) return;
  if (installed) return recordInstalledBank(base, source, *presets, log);
  const platform::FileLock lock((base / kInstallLockFile).string(), kInstallLockPatience);
  if (!lock.held()) {
    log.failure("lock the factory bank for installing", base / kInstallLockFile, lock.error());
    return;
  }
  // Another instance may have finished while this one waited (a marker that cannot be read was told
  // above).
  if (markerVersion(readRegularFileUnlogged((base / kMarkerFile).string()).bytes) >= kFactoryBankVersion)
    return;
  if (installBankPresets(base, source, *presets, log)) tavrin_writeBankMarker(base, kFactoryBankVersion);
}

// Copies the bundled tunings unless the user already has one, stopping at the first failed copy.
// Sub-folders are not created: only tunings whose folder exists in the library arrive, and a missing
// folder is no failure.
void installFactoryTunings(const fs::path& base, const fs::path& resources, LibrarySetupLog& log) {
  const fs::path tunings = base / kTuningsFolder;
  if (tavrin_dirContainsFileWithExtension(tunings, {"scl", "tun"})) return;
  const fs::path source = resources / kTuningsFolder;
  walkFiles(source, [&](const fs::path& file) {
    const std::string extension = file.extension().string();
    if (!equalsIgnoringCase(extension, ".scl") && !equalsIgnoringCase(extension, ".tun")) return true;
    const fs::path destination = tunings / file.lexically_relative(source);
    std::error_code error;
    if (tavrin_copyIfMissing(file, destination, error) || error == std::errc::file_exists ||
        error == std::errc::no_such_file_or_directory)
      return true;
    log.failure("install the factory tuning", destination, error);
    return false;
  });
}

// The hidden folder beside base in which a carried-over library is put together.
fs::path carryOverStaging(const fs::path& base) {
  std::string name = ".";
  name += base.filename().string();
  name += kCarryOverSuffix;
  return base.parent_path() / name;
}

// Copies one entry of an earlier library into the staging folder. A file that an interrupted start left
// shorter than its source is copied again: the staging folder holds nothing but these copies.
void carryOverEntry(const fs::directory_entry& entry, const fs::path& destination, LibrarySetupLog& log) {
  std::error_code error;
  // A linked folder is not followed, so it is not made either.
  if (fs::is_directory(entry.symlink_status(error))) {
    fs::create_directories(destination, error);
    return;
  }
  if (!entry.is_regular_file(error)) return;
  const auto copiedBytes = fs::file_size(destination, error);
  if (!error && copiedBytes != fs::file_size(entry.path(), error)) fs::remove(destination, error);
  if (!tavrin_copyIfMissing(entry.path(), destination, error) && error != std::errc::file_exists)
    log.failure("carry over the earlier library's file", entry.path(), error);
}

}  // namespace

std::string presetsBasePath() {
  const std::string data = userDataFolder();
  if (data.empty()) return {};
  return (fs::path(data) / kLibrarySubPath).string();
}

std::string earlierPresetsBasePath() {
  const std::string home = userHomeFolder();
  if (home.empty()) return {};
  return (fs::path(home) / kEarlierLibrarySubPath).string();
}

std::string tuningsDir() {
  const std::string base = presetsBasePath();
  if (base.empty()) return {};
  std::string folder = (fs::path(base) / kTuningsFolder).string();
  return isValidUtf8(folder) ? folder : std::string();
}

std::optional<std::string> bundleResourcesPath() {
  return moduleResourcesFolder();
}

void ensurePresetFolders() {
  const std::string base = presetsBasePath();
  tavrin_carryOverLibrary(earlierPresetsBasePath(), base);
  const std::optional<std::string> resources = bundleResourcesPath();
  tavrin_ensureFactoryBank(base, resources ? std::optional<fs::path>(*resources) : std::nullopt);
}

void bootstrapPresetFolders() {
  ensurePresetFolders();
}

void tavrin_ensureFactoryBank(const fs::path& base, const std::optional<fs::path>& resources) {
  if (!base.is_absolute()) return;
  LibrarySetupLog log(base);
  for (const char* name : {kFactoryFolder, kUserFolder, kTuningsFolder})
    if (!ensureLibraryFolder(base / name, log)) return;
  if (!resources) return;
  installFactoryBank(base, *resources / kBundledPresets, log);
  installFactoryTunings(base, *resources, log);
}

void tavrin_carryOverLibrary(const fs::path& earlier, const fs::path& base) {
  std::error_code error;
  if (!earlier.is_absolute() || !base.is_absolute() || !base.has_filename() ||
      fs::exists(fs::symlink_status(base, error)) || !fs::is_directory(earlier, error))
    return;
  LibrarySetupLog log(base);
  const fs::path staging = carryOverStaging(base);
  fs::create_directories(staging, error);
  if (error) {
    log.failure("create the folder for the earlier library's files", staging, error);
    return;
  }
  walkEntries(earlier, [&](const fs::directory_entry& entry) {
    carryOverEntry(entry, staging / entry.path().lexically_relative(earlier), log);
    return true;
  });
  fs::rename(staging, base, error);
  if (!error) return;
  std::error_code ignored;
  // Another instance finished first: this copy is not needed.
  if (fs::exists(fs::symlink_status(base, ignored)))
    fs::remove_all(staging, ignored);
  else
    log.failure("move the earlier library's files into place", base, error);
}

bool tavrin_dirContainsFileWithExtension(const fs::path& folder,
                                         std::initializer_list<std::string_view> extensions) {
  bool found = false;
  walkFiles(folder, [&](const fs::path& file) {
    const std::string extension = file.extension().string();
    if (extension.empty()) return true;
    found = std::any_of(extensions.begin(), extensions.end(), [&](std::string_view wanted) {
      return equalsIgnoringCase(std::string_view(extension).substr(1), wanted);
    });
    return !found;
  });
  return found;
}

int tavrin_readBankMarker(const fs::path& base) {
  return markerVersion(readRegularFile((base / kMarkerFile).string(), MissingFile::quiet));
}

void tavrin_writeBankMarker(const fs::path& base, int version) {
  const fs::path marker = base / kMarkerFile;
  std::error_code error;
  if (!writeFileAtomically(marker.string(), std::to_string(version), error))
    platform::logFileFailure("write the factory bank marker", marker, error);
}

bool tavrin_copyIfMissing(const fs::path& source, const fs::path& destination, std::error_code& error) {
  return copyFileExclusive(source.string(), destination.string(), error);
}
