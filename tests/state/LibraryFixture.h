#pragma once
// A throw-away folder for library tests, a scoped environment, and small file helpers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/PlatformLog.h"
#include "tests/tools/FileSizeLimit.h"

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

// Sets an environment variable, or removes it when given none, for the life of the object.
struct ScopedEnv {
  ScopedEnv(const char* variable, const std::optional<std::string>& value) : name(variable) {
    if (const char* old = getenv(variable)) saved = old;
    set(value);
  }
  ~ScopedEnv() { set(saved); }
  void set(const std::optional<std::string>& value) {
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  const char* name;
  std::optional<std::string> saved;
};

// Points HOME somewhere else for the life of the object, with XDG_DATA_HOME removed so that the library
// lives in that home's data folder.
struct ScopedHome {
  explicit ScopedHome(const std::string& folder)
      : home("HOME", folder), data("XDG_DATA_HOME", std::nullopt) {}
  ScopedEnv home;
  ScopedEnv data;
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

// Catches the log for the life of the object; lines may arrive from several threads.
struct LogCapture {
  LogCapture() {
    previous = platform::setLogSink([this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    });
  }
  ~LogCapture() { platform::setLogSink(previous); }
  // The lines that hold every one of the texts.
  std::vector<std::string> linesWith(std::initializer_list<std::string> texts) {
    std::lock_guard lock(mutex);
    std::vector<std::string> found;
    for (const std::string& line : lines)
      if (std::all_of(texts.begin(), texts.end(),
                      [&](const std::string& t) { return line.find(t) != std::string::npos; }))
        found.push_back(line);
    return found;
  }
  std::mutex mutex;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> previous;
};
