#include "state/PresetLibrary.h"

#include <algorithm>
#include <climits>

#include "platform/FileReader.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformPaths.h"
#include "state/TextScan.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLibrarySubPath = "Nobrels/Tavrin";
constexpr const char* kEarlierLibrarySubPath = "Library/Audio/Presets/Nobrels/Tavrin";
constexpr const char* kCarryOverSuffix = ".carry-over";
constexpr const char* kMarkerFile = ".factory-bank";
constexpr const char* kBundledPresets = "Presets/Factory";
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

// Empties Factory and copies every bundled preset into it under the same relative path. True when every
// one of them is in place afterwards. A bundle with no preset it would install leaves Factory alone.
bool installFactoryPresets(const fs::path& base, const fs::path& source) {
  int total = 0;
  const bool counted = walkFiles(source, [&](const fs::path& file) {
    total += isBundledPreset(file);
    return true;
  });
  if (!counted || total == 0) return false;

  const fs::path factory = base / kFactoryFolder;
  tavrin_wipeFactoryScoped(base, factory);
  int copied = 0;
  const bool walked = walkFiles(source, [&](const fs::path& file) {
    if (!isBundledPreset(file)) return true;
    const fs::path destination = factory / file.lexically_relative(source);
    std::error_code error;
    fs::create_directories(destination.parent_path(), error);
    tavrin_copyIfMissing(file, destination);
    copied += fs::exists(destination, error);
    return true;
  });
  return walked && copied == total;
}

// Copies the bundled tunings unless the user already has one. Sub-folders are not created: only tunings
// whose folder exists in the library arrive.
void installFactoryTunings(const fs::path& base, const fs::path& resources) {
  const fs::path tunings = base / kTuningsFolder;
  if (tavrin_dirContainsFileWithExtension(tunings, {"scl", "tun"})) return;
  const fs::path source = resources / kTuningsFolder;
  walkFiles(source, [&](const fs::path& file) {
    const std::string extension = file.extension().string();
    if (equalsIgnoringCase(extension, ".scl") || equalsIgnoringCase(extension, ".tun"))
      tavrin_copyIfMissing(file, tunings / file.lexically_relative(source));
    return true;
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
void carryOverEntry(const fs::directory_entry& entry, const fs::path& destination) {
  std::error_code error;
  // A linked folder is not followed, so it is not made either.
  if (fs::is_directory(entry.symlink_status(error))) {
    fs::create_directories(destination, error);
    return;
  }
  if (!entry.is_regular_file(error)) return;
  const auto copiedBytes = fs::file_size(destination, error);
  if (!error && copiedBytes != fs::file_size(entry.path(), error)) fs::remove(destination, error);
  tavrin_copyIfMissing(entry.path(), destination);
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
  for (const char* name : {kFactoryFolder, kUserFolder, kTuningsFolder}) {
    std::error_code error;
    if (!fs::exists(base / name, error)) fs::create_directories(base / name, error);
  }
  if (!resources) return;
  const fs::path presets = *resources / kBundledPresets;
  if (tavrin_readBankMarker(base) < kFactoryBankVersion &&
      tavrin_dirContainsFileWithExtension(presets, {"nobrel"}) && installFactoryPresets(base, presets))
    tavrin_writeBankMarker(base, kFactoryBankVersion);
  installFactoryTunings(base, *resources);
}

void tavrin_carryOverLibrary(const fs::path& earlier, const fs::path& base) {
  std::error_code error;
  if (!earlier.is_absolute() || !base.is_absolute() || !base.has_filename() ||
      fs::exists(fs::symlink_status(base, error)) || !fs::is_directory(earlier, error))
    return;
  const fs::path staging = carryOverStaging(base);
  fs::create_directories(staging, error);
  if (error) return;
  walkEntries(earlier, [&](const fs::directory_entry& entry) {
    carryOverEntry(entry, staging / entry.path().lexically_relative(earlier));
    return true;
  });
  fs::rename(staging, base, error);
  // Another instance finished first: this copy is not needed.
  if (error && fs::exists(fs::symlink_status(base, error))) fs::remove_all(staging, error);
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
  const std::optional<std::string> text = readRegularFile((base / kMarkerFile).string(), MissingFile::quiet);
  if (!text || text->size() > kMaxMarkerBytes || !isValidUtf8(*text)) return 0;
  return leadingInteger(*text);
}

void tavrin_writeBankMarker(const fs::path& base, int version) {
  writeFileAtomically((base / kMarkerFile).string(), std::to_string(version));
}

void tavrin_wipeFactoryScoped(const fs::path& base, const fs::path& factoryFolder) {
  std::error_code error;
  if (!fs::exists(factoryFolder, error)) return;
  const fs::path resolvedBase = fs::canonical(base, error);
  if (error) return;
  const fs::path resolved = fs::canonical(factoryFolder, error);
  // Equality with the resolved base's own Factory also means the last component is "Factory".
  if (error || resolved != resolvedBase / kFactoryFolder) return;
  fs::remove_all(resolved, error);
  fs::create_directories(resolved, error);
}

void tavrin_copyIfMissing(const fs::path& source, const fs::path& destination) {
  copyFileExclusive(source.string(), destination.string());
}
