#include "editor/BridgeFiles.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "editor/MessageValues.h"
#include "platform/PlatformFiles.h"
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

std::optional<std::string> readBytes(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

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

std::optional<std::string> readUtf8File(const fs::path& path) {
  std::optional<std::string> text = readBytes(path);
  if (text && !isValidUtf8(*text)) return std::nullopt;
  return text;
}

std::optional<std::string> readPreset(const fs::path& base, std::string_view pagePath) {
  for (const char* section : {kFactoryFolder, kUserFolder})
    if (const auto target = containedTarget(base, pagePath, base / section)) return readUtf8File(*target);
  return std::nullopt;
}

bool savePreset(const fs::path& base, std::string_view pagePath, std::string_view content) {
  const auto target = containedTarget(base, pagePath, base / kUserFolder);
  if (!target) return false;
  std::error_code error;
  fs::create_directories(target->parent_path(), error);
  return !error && writeFileAtomically(target->string(), content, error);
}

bool deletePreset(const fs::path& base, std::string_view pagePath) {
  const auto target = containedTarget(base, pagePath, base / kUserFolder);
  if (!target) return false;
  std::error_code error;
  return fs::remove_all(*target, error) > 0 && !error;
}

std::optional<TuningFile> readTuning(const fs::path& base, std::string_view name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
    return std::nullopt;
  std::string stem(name);
  if (stem.size() >= kTuningExtension.size() &&
      lowerAscii(std::string_view(stem).substr(stem.size() - kTuningExtension.size())) == kTuningExtension)
    stem.resize(stem.size() - kTuningExtension.size());
  const auto target =
      containedTarget(base, std::string(kTuningsFolder) + "/" + stem + ".scl", base / kTuningsFolder);
  if (!target) return std::nullopt;
  std::optional<std::string> bytes = readBytes(*target);
  if (!bytes) return std::nullopt;
  return TuningFile{std::move(stem), std::move(*bytes)};
}

fs::path kitFolder(const fs::path& base) {
  return base / kUserFolder;
}

std::optional<fs::path> kitFilePath(const fs::path& base, std::string_view pagePath) {
  return containedTarget(base, pagePath, kitFolder(base));
}

}  // namespace bridge_files
