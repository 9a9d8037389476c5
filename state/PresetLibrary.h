// The preset library folder: user presets, installed factory presets and tuning files in the user's data
// folder, and the one-time installation of the factory bank shipped with the plug-in.
//
//   base = <data folder>/Nobrels/Tavrin  ($XDG_DATA_HOME, else ~/.local/share)
//   base/Factory        installed factory presets (".nobrel", any sub-folders)
//   base/User           the user's own presets
//   base/Tunings        Scala files (".scl", ".tun")
//   base/.factory-bank  the installed bank version as decimal text
//   base/.factory-bank-manifest, .factory-bank.lock  what the install wrote, and its turn-taking
//   <resources>/Presets/Factory and <resources>/Tunings: what the plug-in ships
//
// Earlier builds kept the library in ~/Library/Audio/Presets/Nobrels/Tavrin; it is copied over once.
//
// Main thread only. No function here throws; a file error is logged with its path and reason (a library
// that cannot be set up once per process) and leaves the library as far as the work got, to be completed
// at the next start. Nothing of the user's is deleted or overwritten (BankInstall.h).
#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

// The bank version this program installs; a marker at this version or above means the bank is in place.
constexpr int kFactoryBankVersion = 2;

// The library's folders below base and the extension of a preset file.
inline constexpr const char* kFactoryFolder = "Factory";
inline constexpr const char* kUserFolder = "User";
inline constexpr const char* kTuningsFolder = "Tunings";
inline constexpr const char* kPresetExtension = ".nobrel";

// The library base, or empty when the user has no data folder.
std::string presetsBasePath();
// Where earlier builds kept the library, or empty when the user has no home folder.
std::string earlierPresetsBasePath();
// base/Tunings as UTF-8; empty when there is no base or the path is not valid UTF-8.
std::string tuningsDir();
// The plug-in's resource folder, or none when the plug-in's file cannot be located.
std::optional<std::string> bundleResourcesPath();
// Makes sure the library folders and the factory bank exist, carrying an earlier library over first.
void ensurePresetFolders();
// The plug-in's start-up call of ensurePresetFolders, before any editor opens.
void bootstrapPresetFolders();

// The steps of ensurePresetFolders, for a given base and resource folder. A base that is not an absolute
// path is refused (nothing is created relative to the host's working folder).
void tavrin_ensureFactoryBank(const std::filesystem::path& base,
                              const std::optional<std::filesystem::path>& resources);
// Copies the library at earlier into base, only while nothing exists at base; earlier is only read. The
// copy is put together in a folder beside base and takes base's name when every entry has been tried, so
// an interrupted copy is completed at the next start; an entry that cannot be read stays behind in
// earlier. Files are copied with their contents, linked folders are not followed. Paths that are not
// absolute are refused.
void tavrin_carryOverLibrary(const std::filesystem::path& earlier, const std::filesystem::path& base);
// True when a regular file at any depth below folder has one of the extensions (given without the dot),
// compared without regard to ASCII case.
bool tavrin_dirContainsFileWithExtension(const std::filesystem::path& folder,
                                         std::initializer_list<std::string_view> extensions);
// The leading decimal number of base/.factory-bank (saturated to the int range); 0 when the file is
// missing, unreadable, oversized, not UTF-8 or holds no number.
int tavrin_readBankMarker(const std::filesystem::path& base);
// Replaces base/.factory-bank by the version's decimal text in one step; a failure is logged.
void tavrin_writeBankMarker(const std::filesystem::path& base, int version);
// Copies source to destination when nothing exists there; an existing destination is never overwritten
// (false, error "File exists"). True when this call made the copy; error holds the reason otherwise.
bool tavrin_copyIfMissing(const std::filesystem::path& source, const std::filesystem::path& destination,
                          std::error_code& error);
