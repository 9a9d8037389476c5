// The bridge's file work in the preset library (base = presetsBasePath()): listing, reading, saving and
// deleting presets, listing and reading tunings, and placing kit files.
//
// Paths from the editor document are untrusted. A path is taken relative to base unless it is absolute;
// one with a ".." component or a NUL byte is refused outright. Otherwise the path and the folder it must
// stay in are both resolved (symbolic links followed, "." removed) and the path is used only when it then
// lies strictly inside that folder; the resolved path is the one used.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "editor/FileOutcome.h"
#include "platform/FileReader.h"

namespace bridge_files {

// The resolved target of pagePath when it lies strictly inside folder, else none.
std::optional<std::filesystem::path> containedTarget(const std::filesystem::path& base,
                                                     std::string_view pagePath,
                                                     const std::filesystem::path& folder);

// The answer to a page path that is refused, logged.
FileOutcome refusedPath(std::string_view action, std::string_view pagePath);
// The answer to an operation on target that ended with error (clear for success); a failure is logged.
FileOutcome fileOutcome(std::string_view action, const std::filesystem::path& target,
                        const std::error_code& error);
// The answer to a file that could not be loaded for reason, logged.
FileOutcome loadFailure(std::string_view action, const std::filesystem::path& path, std::string_view reason);

// The preset list: a compact JSON array of {name, path, category, isFactory, section}, one entry per
// file below base/Factory and then base/User whose extension is exactly ".nobrel", in walk order.
std::string presetListJson(const std::filesystem::path& base);
// The tuning list: a compact JSON array of the stems of the files in base/Tunings (not below) whose
// extension is ".scl" in any case, in case-insensitive order.
std::string tuningListJson(const std::filesystem::path& base);

// The UTF-8 text of a file read with readRegularFileUnlogged; none, with the reason, when it is refused or
// not valid UTF-8. Nothing is logged.
FileRead readUtf8File(const std::filesystem::path& path);
// The text of a preset inside base/Factory or base/User; a file that cannot be read is logged.
std::optional<std::string> readPreset(const std::filesystem::path& base, std::string_view pagePath);
// Writes content to a preset inside base/User, creating its folders. A refusal or failure is logged.
FileOutcome savePreset(const std::filesystem::path& base, std::string_view pagePath,
                       std::string_view content);
// Removes a file inside base/User; for a folder, its preset files, then each of its folders that is left
// empty (anything else in them stays). A refusal or failure is logged.
FileOutcome deletePreset(const std::filesystem::path& base, std::string_view pagePath);

// A tuning file read for loading: its stem and its bytes.
struct TuningFile {
  std::string stem;
  std::string bytes;
};
// Reads base/Tunings/<name>.scl, where a trailing ".scl" (any case) of name is dropped first. A name
// that is empty, holds a path separator or a NUL byte, or is "." or "..", is refused. A file that cannot
// be read gives none with the reason in reason; nothing is logged.
std::optional<TuningFile> readTuning(const std::filesystem::path& base, std::string_view name,
                                     std::string& reason);
// The file readTuning reads for name, or none when the name is refused.
std::optional<std::filesystem::path> tuningPath(const std::filesystem::path& base, std::string_view name);

// The folder kit files are saved in and loaded from: base/User, the one folder the bridge writes in.
std::filesystem::path kitFolder(const std::filesystem::path& base);
// Where a kit file named by the document is saved or loaded: inside kitFolder(base).
std::optional<std::filesystem::path> kitFilePath(const std::filesystem::path& base,
                                                 std::string_view pagePath);

}  // namespace bridge_files
