// Placing the factory bank's presets in the library without destroying anything of the user's.
//
// The install keeps a manifest beside the bank marker (base/.factory-bank-manifest): one line
// "<content hash> <relative path>" per preset it wrote. A reinstall replaces a bank file only when it is
// unchanged since it was written (without a manifest: equal to the shipped file); a file the user changed
// is first copied to base/User/Factory edits under a free name. Something that is not what the bank would
// put at one of its paths (a folder, a link, a pipe) is renamed aside beside it, never deleted. Paths the
// bank never had are not looked at. Main thread; instances take turns through base/.factory-bank.lock.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The failures of one set-up of the library at a base. Each is logged as it happens, unless a set-up of
// the same library already failed earlier in this process: a library that cannot be set up is told once,
// not at every instance's start and every editor opening.
class LibrarySetupLog {
public:
  explicit LibrarySetupLog(const std::filesystem::path& base);
  ~LibrarySetupLog();
  LibrarySetupLog(const LibrarySetupLog&) = delete;
  LibrarySetupLog& operator=(const LibrarySetupLog&) = delete;

  void failure(std::string_view action, const std::filesystem::path& path, const std::error_code& error);

private:
  std::string library;
  bool silent;
  bool anyFailure = false;
};

// Makes folder a folder, with its parents. Something else in its place (a file, a dangling link) is
// renamed aside first; a link to a folder counts as a folder.
bool ensureLibraryFolder(const std::filesystem::path& folder, LibrarySetupLog& log);

// Whether base has a manifest of what the bank's install wrote.
bool hasBankManifest(const std::filesystem::path& base);
// For a bank installed before installs kept a manifest: writes one that names the presets (paths relative
// to source) found in base/Factory as shipped, so that a later reinstall may replace them.
void recordInstalledBank(const std::filesystem::path& base, const std::filesystem::path& source,
                         const std::vector<std::filesystem::path>& presets, LibrarySetupLog& log);

// Places every preset (paths relative to source) under base/Factory, as the header says, and writes the
// manifest. A library without a manifest counts the first bank's presets as shipped (first-bank.manifest
// beside source) as the install's. Stops at the first failure; true when every preset is in place.
bool installBankPresets(const std::filesystem::path& base, const std::filesystem::path& source,
                        const std::vector<std::filesystem::path>& presets, LibrarySetupLog& log);
