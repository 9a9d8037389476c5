#pragma once
// A throw-away folder for library tests, a scoped HOME, and small file helpers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

// A new empty folder under the system's temporary folder, removed with everything in it at the end.
struct TempFolder {
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "tavrin-state-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    if (!path.empty()) fs::remove_all(path, error);
  }
  fs::path path;
};

// Points HOME somewhere else for the life of the object.
struct ScopedHome {
  explicit ScopedHome(const std::string& home) {
    if (const char* old = getenv("HOME")) saved = old;
    setenv("HOME", home.c_str(), 1);
  }
  ~ScopedHome() {
    if (saved)
      setenv("HOME", saved->c_str(), 1);
    else
      unsetenv("HOME");
  }
  std::optional<std::string> saved;
};

inline void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
