#include "platform/PlatformPaths.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

constexpr const char* kDataFolderInHome = ".local/share";
constexpr const char* kResourcesFolderName = "Tavrin.resources";
constexpr const char* kInstalledResourcesInPrefix = "share/tavrin";
constexpr long kFallbackPasswdBufferBytes = 16384;
constexpr const char* kEditorHelperName = "tavrin-editor";
constexpr const char* kInstalledHelperInPrefix = "libexec/tavrin";

bool isAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

// The resources of a system-wide install, which keeps the module in <prefix>/lib/clap and its resources
// in <prefix>/share/tavrin; none for a module elsewhere or without them.
std::optional<std::filesystem::path> prefixResources(const std::filesystem::path& moduleFolder) {
  if (moduleFolder.filename() != "clap" || moduleFolder.parent_path().filename() != "lib")
    return std::nullopt;
  std::filesystem::path installed = moduleFolder.parent_path().parent_path() / kInstalledResourcesInPrefix;
  std::error_code error;
  if (!std::filesystem::is_directory(installed, error)) return std::nullopt;
  return installed;
}

// The module's own file, with links resolved.
std::optional<std::filesystem::path> moduleFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&moduleFile), &info) == 0 || info.dli_fname == nullptr ||
      info.dli_fname[0] == 0)
    return std::nullopt;
  // The loader keeps the name it was given, which may be a link in a plug-in folder or relative.
  std::error_code error;
  std::filesystem::path module = std::filesystem::canonical(info.dli_fname, error);
  if (error) return std::nullopt;
  return module;
}

}  // namespace

std::string userHomeFolder() {
  if (const char* home = std::getenv("HOME"); isAbsolute(home)) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = kFallbackPasswdBufferBytes;
  std::vector<char> buffer(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      isAbsolute(found->pw_dir))
    return found->pw_dir;
  return {};
}

std::string userDataFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); isAbsolute(data)) return data;
  const std::string home = userHomeFolder();
  if (home.empty()) return {};
  return (std::filesystem::path(home) / kDataFolderInHome).string();
}

std::optional<std::string> moduleResourcesFolder() {
  const auto found = moduleFile();
  if (!found) return std::nullopt;
  const std::filesystem::path& module = *found;
  std::error_code error;
  const std::filesystem::path beside = module.parent_path() / kResourcesFolderName;
  if (!std::filesystem::exists(beside, error))
    if (auto installed = prefixResources(module.parent_path())) return installed->string();
  return beside.string();
}

std::optional<std::string> moduleEditorHelper() {
  const auto module = moduleFile();
  if (!module) return std::nullopt;
  const std::filesystem::path folder = module->parent_path();
  const std::filesystem::path candidates[] = {
      folder / kEditorHelperName, folder / kResourcesFolderName / kEditorHelperName,
      folder.parent_path().parent_path() / kInstalledHelperInPrefix / kEditorHelperName};
  std::error_code error;
  for (const auto& candidate : candidates)
    if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
  return candidates[0].string();
}
