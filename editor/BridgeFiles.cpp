#include "editor/BridgeFiles.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <vector>

#include "editor/MessageValues.h"
#include "platform/FileReader.h"
#include "platform/FileReport.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformLog.h"
#include "state/PresetLibrary.h"
#include "state/TextScan.h"

namespace fs = std::filesystem;

namespace bridge_files {

namespace {

constexpr std::string_view kTuningExtension = ".scl";

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return ::lowerAscii(c); });
  return lower;
}

bool hasParentStep(const fs::path& path) {
  return std::any_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

std::string printJson(cJSON* tree) {
  const std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(tree), cJSON_free);
  return text ? std::string(text.get()) : std::string("[]");
}

// Appends one list entry per preset file below section folder base/section.
void appendPresets(cJSON* list, const fs::path& base, const char* section, bool isFactory) {
  if (!base.is_absolute()) return;
  const fs::path folder = base / section;
  std::error_code error;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && entry != end; entry.increment(error)) {
    std::error_code typeError;
    if (!entry->is_regular_file(typeError) || entry->path().extension() != kPresetExtension) continue;
    const fs::path relative = entry->path().lexically_relative(folder);
    const std::string name = relative.stem().string();
    const std::string path = (folder / relative).string();
    const std::string category = relative.has_parent_path() ? relative.parent_path().string() : section;
    // A name that is not UTF-8 cannot travel to the document.
    if (!isValidUtf8(path)) continue;
    cJSON* item = cJSON_CreateObject();
    cJSON_AddStringToObject(item, "name", name.c_str());
    cJSON_AddStringToObject(item, "path", path.c_str());
    cJSON_AddStringToObject(item, "category", category.c_str());
    cJSON_AddBoolToObject(item, "isFactory", isFactory);
    cJSON_AddStringToObject(item, "section", section);
    cJSON_AddItemToArray(list, item);
  }
}

// Removes the preset files below folder, then every folder there that is left empty, innermost first,
// the folder itself last. Links are removed, never followed. error keeps the first failure.
void deletePresetFolder(const fs::path& folder, std::error_code& error) {
  std::vector<fs::path> folders{folder};
  std::error_code walkError;
  fs::recursive_directory_iterator entry(folder, fs::directory_options::none, walkError);
  for (const fs::recursive_directory_iterator end; !walkError && entry != end; entry.increment(walkError)) {
    std::error_code typeError;
    const fs::file_status status = entry->symlink_status(typeError);
    if (fs::is_directory(status)) folders.push_back(entry->path());
    std::error_code removeError;
    if (fs::is_regular_file(status) && entry->path().extension() == kPresetExtension)
      fs::remove(entry->path(), removeError);
    if (removeError && !error) error = removeError;
  }
  if (walkError && !error) error = walkError;
  // Deeper folders were found after the ones holding them.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    std::error_code removeError;
    if (fs::is_empty(*it, removeError)) fs::remove(*it, removeError);
    if (removeError && !error) error = removeError;
  }
}

// The stem and file of a tuning name, or no file when the name is refused.
std::pair<std::string, std::optional<fs::path>> tuningTarget(const fs::path& base, std::string_view name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
    return {};
  std::string stem(name);
  if (stem.size() >= kTuningExtension.size() &&
      lowerAscii(std::string_view(stem).substr(stem.size() - kTuningExtension.size())) == kTuningExtension)
    stem.resize(stem.size() - kTuningExtension.size());
  auto target =
      containedTarget(base, std::string(kTuningsFolder) + "/" + stem + ".scl", base / kTuningsFolder);
  return {std::move(stem), std::move(target)};
}

}  // namespace

FileOutcome refusedPath(std::string_view action, std::string_view pagePath) {
  constexpr const char* kReason = "not a place in the library it may use";
  platform::log(platform::fileFailureLine(action, std::string(pagePath), kReason));
  return {false, std::string(pagePath), kReason};
}

FileOutcome fileOutcome(std::string_view action, const fs::path& target, const std::error_code& error) {
  if (!error) return {true, target.string(), ""};
  platform::logFileFailure(action, target, error);
  return {false, target.string(), error.message()};
}

FileOutcome loadFailure(std::string_view action, const fs::path& path, std::string_view reason) {
  platform::log(platform::fileFailureLine(action, path, reason));
  return {false, path.string(), std::string(reason)};
}

std::optional<fs::path> containedTarget(const fs::path& base, std::string_view pagePath,
                                        const fs::path& folder) {
  if (!base.is_absolute() || pagePath.empty() || pagePath.find('\0') != std::string_view::npos)
    return std::nullopt;
  const fs::path given(pagePath);
  if (hasParentStep(given)) return std::nullopt;
  std::error_code error;
  const fs::path target = fs::weakly_canonical(given.is_absolute() ? given : base / given, error);
  if (error) return std::nullopt;
  const fs::path allowed = fs::weakly_canonical(folder, error);
  if (error) return std::nullopt;
  const std::string prefix = allowed.string() + "/";
  if (target.string().compare(0, prefix.size(), prefix) != 0 || target.string().size() == prefix.size())
    return std::nullopt;
  return target;
}

std::string presetListJson(const fs::path& base) {
  const JsonTree list(cJSON_CreateArray());
  appendPresets(list.get(), base, kFactoryFolder, true);
  appendPresets(list.get(), base, kUserFolder, false);
  return printJson(list.get());
}

std::string tuningListJson(const fs::path& base) {
  std::vector<std::string> stems;
  std::error_code error;
  fs::directory_iterator entry(base.is_absolute() ? base / kTuningsFolder : fs::path(), error);
  for (const fs::directory_iterator end; !error && entry != end; entry.increment(error)) {
    std::error_code typeError;
    const fs::path& path = entry->path();
    if (entry->is_regular_file(typeError) && lowerAscii(path.extension().string()) == kTuningExtension &&
        isValidUtf8(path.stem().string()))
      stems.push_back(path.stem().string());
  }
  std::sort(stems.begin(), stems.end(), [](const std::string& a, const std::string& b) {
    const std::string la = lowerAscii(a);
    const std::string lb = lowerAscii(b);
    return la != lb ? la < lb : a < b;
  });
  const JsonTree list(cJSON_CreateArray());
  for (const std::string& stem : stems) cJSON_AddItemToArray(list.get(), cJSON_CreateString(stem.c_str()));
  return printJson(list.get());
}

FileRead readUtf8File(const fs::path& path) {
  FileRead read = readRegularFileUnlogged(path.string());
  if (read.bytes && !isValidUtf8(*read.bytes)) return {std::nullopt, "it is not UTF-8 text", false};
  return read;
}

std::optional<std::string> readPreset(const fs::path& base, std::string_view pagePath) {
  for (const char* section : {kFactoryFolder, kUserFolder}) {
    const auto target = containedTarget(base, pagePath, base / section);
    if (!target) continue;
    FileRead read = readUtf8File(*target);
    if (!read.bytes) platform::log(platform::fileFailureLine("load the preset", *target, read.reason));
    return std::move(read.bytes);
  }
  return std::nullopt;
}

FileOutcome savePreset(const fs::path& base, std::string_view pagePath, std::string_view content) {
  const auto target = containedTarget(base, pagePath, base / kUserFolder);
  if (!target) return refusedPath("save the preset", pagePath);
  std::error_code error;
  fs::create_directories(target->parent_path(), error);
  if (!error) writeFileAtomically(target->string(), content, error);
  return fileOutcome("save the preset", *target, error);
}

FileOutcome deletePreset(const fs::path& base, std::string_view pagePath) {
  const auto target = containedTarget(base, pagePath, base / kUserFolder);
  if (!target) return refusedPath("delete the preset", pagePath);
  std::error_code error;
  if (fs::is_directory(fs::symlink_status(*target, error)))
    deletePresetFolder(*target, error);
  else if (!fs::remove(*target, error) && !error)
    error = std::make_error_code(std::errc::no_such_file_or_directory);
  return fileOutcome("delete the preset", *target, error);
}

std::optional<fs::path> tuningPath(const fs::path& base, std::string_view name) {
  return tuningTarget(base, name).second;
}

std::optional<TuningFile> readTuning(const fs::path& base, std::string_view name, std::string& reason) {
  auto [stem, target] = tuningTarget(base, name);
  if (!target) return std::nullopt;
  FileRead read = readRegularFileUnlogged(target->string());
  if (!read.bytes) {
    reason = std::move(read.reason);
    return std::nullopt;
  }
  return TuningFile{std::move(stem), std::move(*read.bytes)};
}

fs::path kitFolder(const fs::path& base) {
  return base / kUserFolder;
}

std::optional<fs::path> kitFilePath(const fs::path& base, std::string_view pagePath) {
  return containedTarget(base, pagePath, kitFolder(base));
}

}  // namespace bridge_files
