#include "platform/PlatformPaths.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

constexpr const char* kLibraryFolderName = "Library";
constexpr const char* kResourcesFolderName = "Tavrin.resources";
constexpr long kFallbackPasswdBufferBytes = 16384;

bool isAbsolute(const char* path) {
  return path != nullptr && path[0] == '/';
}

std::string homeFolder() {
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

}  // namespace

std::string userLibraryFolder() {
  const std::string home = homeFolder();
  if (home.empty()) return {};
  return (std::filesystem::path(home) / kLibraryFolderName).string();
}

std::optional<std::string> moduleResourcesFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&moduleResourcesFolder), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == 0)
    return std::nullopt;
  // The loader keeps the name it was given, which may be a link in a plug-in folder or relative.
  std::error_code error;
  const std::filesystem::path module = std::filesystem::canonical(info.dli_fname, error);
  if (error) return std::nullopt;
  return (module.parent_path() / kResourcesFolderName).string();
}
