// Installing the factory bank and tunings into a library folder made for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <thread>
#include <vector>

#include "state/PresetLibrary.h"
#include "tests/state/LibraryFixture.h"

namespace {

struct FactoryBank : ::testing::Test {
  void SetUp() override { ASSERT_FALSE(temp.path.empty()); }

  // Three presets in two sub-folders and a file that is not a preset.
  void shipThreePresets() {
    writeFile(presets / "Bass/Deep.nobrel", "deep");
    writeFile(presets / "Bass/Round.nobrel", "round");
    writeFile(presets / "Leads/Bright.nobrel", "bright");
    writeFile(presets / "Leads/notes.txt", "not a preset");
  }
  void start() { tavrin_ensureFactoryBank(base, resources); }
  std::string marker() const { return readFile(base / ".factory-bank"); }

  TempFolder temp;
  fs::path base = temp.path / ".local/share/Nobrels/Tavrin";
  fs::path resources = temp.path / "Tavrin.resources";
  fs::path presets = resources / "Presets/Factory";
  fs::path factory = base / "Factory";
};

TEST_F(FactoryBank, FirstStartCopiesEveryPresetUnderItsRelativePathAndWritesTheMarker) {
  shipThreePresets();
  start();
  EXPECT_EQ(readFile(factory / "Bass/Round.nobrel"), "round");
  EXPECT_EQ(readFile(factory / "Leads/Bright.nobrel"), "bright");
  EXPECT_FALSE(fs::exists(factory / "Leads/notes.txt"));
  EXPECT_EQ(marker(), "2");
  EXPECT_TRUE(fs::is_empty(base / "User"));
  // Beside the three folders only the marker, the manifest and the install lock: no temporary file.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(base)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".factory-bank", ".factory-bank-manifest", ".factory-bank.lock",
                                             "Factory", "Tunings", "User"}));
}

TEST_F(FactoryBank, AReinstallKeepsTheUsersFilesAndTheirEditsOfFactoryPresetsAndSaysSo) {
  shipThreePresets();
  start();
  fs::remove(factory / "Leads/Bright.nobrel");
  writeFile(base / "User/Mine.nobrel", "mine");
  start();
  EXPECT_FALSE(fs::exists(factory / "Leads/Bright.nobrel"));  // the marker keeps a deleted preset deleted

  writeFile(factory / "Mine/keep.nobrel", "keep");
  writeFile(factory / "Bass/Deep.nobrel", "my deep");
  // A newer bank changes Round, which the user left as it was installed.
  writeFile(presets / "Bass/Round.nobrel", "round v2");
  LogCapture log;
  fs::remove(base / ".factory-bank");
  start();
  EXPECT_EQ(readFile(factory / "Mine/keep.nobrel"), "keep");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep.nobrel"), "my deep");
  EXPECT_EQ(readFile(factory / "Bass/Round.nobrel"), "round v2");
  EXPECT_FALSE(fs::exists(base / "User/Factory edits/Bass/Round.nobrel"));
  EXPECT_EQ(readFile(factory / "Leads/Bright.nobrel"), "bright");
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "mine");
  EXPECT_EQ(marker(), "2");
  EXPECT_EQ(log.linesWith({"Bass/Deep.nobrel", "Factory edits/Bass/Deep.nobrel"}).size(), 1u);

  // A second edit is kept beside the first; without a manifest only the shipped file counts as the bank's.
  writeFile(factory / "Bass/Deep.nobrel", "my deeper");
  fs::remove(base / ".factory-bank-manifest");
  fs::remove(base / ".factory-bank");
  start();
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep 2.nobrel"), "my deeper");
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep.nobrel"), "my deep");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");
  EXPECT_FALSE(fs::exists(base / "User/Factory edits/Bass/Round.nobrel"));
}

TEST_F(FactoryBank, ABankInstalledWithoutAManifestGetsOneNamingItsUnchangedPresets) {
  shipThreePresets();
  start();
  fs::remove(base / ".factory-bank-manifest");
  writeFile(factory / "Bass/Deep.nobrel", "my deep");
  start();
  ASSERT_TRUE(fs::exists(base / ".factory-bank-manifest"));

  // A newer bank then replaces what the user left alone and keeps the edit.
  writeFile(presets / "Bass/Round.nobrel", "round v2");
  writeFile(presets / "Bass/Deep.nobrel", "deep v2");
  fs::remove(base / ".factory-bank");
  start();
  EXPECT_EQ(readFile(factory / "Bass/Round.nobrel"), "round v2");
  EXPECT_FALSE(fs::exists(base / "User/Factory edits/Bass/Round.nobrel"));
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep.nobrel"), "my deep");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep v2");
}

TEST_F(FactoryBank, WhatStandsInTheBanksPlaceIsRenamedAsideNeverDeleted) {
  shipThreePresets();
  writeFile(base / "Factory", "a file named Factory");
  writeFile(base / "User/Mine.nobrel", "mine");
  LogCapture log;
  start();
  EXPECT_EQ(readFile(base / "Factory (set aside)"), "a file named Factory");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");

  // A file where the bank has a folder, a folder where it has a preset, a link where it has a folder.
  fs::remove(base / ".factory-bank");
  fs::remove_all(factory / "Bass");
  writeFile(factory / "Bass", "a file named Bass");
  fs::remove(factory / "Leads/Bright.nobrel");
  writeFile(factory / "Leads/Bright.nobrel/inside.txt", "inside");
  start();
  EXPECT_EQ(readFile(factory / "Bass (set aside)"), "a file named Bass");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");
  EXPECT_EQ(readFile(factory / "Leads/Bright.nobrel (set aside)/inside.txt"), "inside");
  EXPECT_EQ(readFile(factory / "Leads/Bright.nobrel"), "bright");

  fs::remove(base / ".factory-bank");
  fs::rename(factory / "Bass", temp.path / "Bass");
  fs::create_directory_symlink(base / "User", factory / "Bass");
  start();
  EXPECT_TRUE(fs::is_symlink(factory / "Bass (set aside 2)"));
  EXPECT_FALSE(fs::is_symlink(factory / "Bass"));
  EXPECT_FALSE(fs::exists(base / "User/Deep.nobrel"));  // never written through the link
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "mine");
  EXPECT_EQ(log.linesWith({"renamed", "(set aside"}).size(), 4u);
  EXPECT_EQ(marker(), "2");
}

TEST_F(FactoryBank, TwoInstancesReinstallingAtOnceLeaveOneCompleteBankAndEveryUserFile) {
  for (int i = 0; i < 30; ++i)
    writeFile(presets / ("Set/P" + std::to_string(i) + ".nobrel"), std::to_string(i));
  start();
  writeFile(factory / "Set/P7.nobrel", "edited");
  writeFile(factory / "Mine/keep.nobrel", "keep");
  fs::remove(base / ".factory-bank");
  LogCapture log;
  std::thread other([&] { start(); });
  start();
  other.join();
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(readFile(factory / ("Set/P" + std::to_string(i) + ".nobrel")), std::to_string(i)) << i;
  EXPECT_EQ(readFile(factory / "Mine/keep.nobrel"), "keep");
  EXPECT_EQ(readFile(base / "User/Factory edits/Set/P7.nobrel"), "edited");
  EXPECT_FALSE(fs::exists(base / "User/Factory edits/Set/P7 2.nobrel"));
  EXPECT_EQ(marker(), "2");
  EXPECT_EQ(std::distance(fs::directory_iterator(factory / "Set"), fs::directory_iterator()), 30);
}

TEST_F(FactoryBank, ANewerMarkerAlsoCountsAsInstalled) {
  shipThreePresets();
  fs::create_directories(base);
  tavrin_writeBankMarker(base, 3);
  start();
  EXPECT_TRUE(fs::is_empty(factory));
  EXPECT_EQ(marker(), "3");
}

TEST_F(FactoryBank, ALibraryHoldingTheFirstBankReceivesTheNewOneAndKeepsOnlyTheUsersEdits) {
  // The first bank, installed by a build that kept no manifest; the bundle names its presets as shipped.
  shipThreePresets();
  start();
  fs::rename(base / ".factory-bank-manifest", resources / "Presets/first-bank.manifest");
  tavrin_writeBankMarker(base, 1);
  writeFile(factory / "Bass/Round.nobrel", "my round");

  writeFile(presets / "Bass/Deep.nobrel", "deep v2");
  writeFile(presets / "Bass/Round.nobrel", "round v2");
  start();
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep v2");
  EXPECT_EQ(readFile(factory / "Bass/Round.nobrel"), "round v2");
  EXPECT_FALSE(fs::exists(base / "User/Factory edits/Bass/Deep.nobrel"));
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Round.nobrel"), "my round");
  EXPECT_EQ(marker(), "2");
}

TEST_F(FactoryBank, UpperCaseExtensionsAreNeitherCountedNorCopied) {
  writeFile(presets / "LOUD.NOBREL", "loud");
  writeFile(factory / "Kept.nobrel", "kept");
  start();
  // Nothing installable: the factory folder stays as it was and no marker is written.
  EXPECT_EQ(readFile(factory / "Kept.nobrel"), "kept");
  EXPECT_FALSE(fs::exists(base / ".factory-bank"));
  writeFile(presets / "Keys/Soft.nobrel", "soft");
  start();
  EXPECT_EQ(readFile(factory / "Keys/Soft.nobrel"), "soft");
  EXPECT_FALSE(fs::exists(factory / "LOUD.NOBREL"));
  EXPECT_EQ(readFile(factory / "Kept.nobrel"), "kept");
  EXPECT_EQ(marker(), "2");
}

TEST_F(FactoryBank, WithoutResourcesOnlyTheThreeEmptyFoldersAppear) {
  tavrin_ensureFactoryBank(base, std::nullopt);
  tavrin_ensureFactoryBank(base, temp.path / "no such bundle");
  for (const char* name : {"Factory", "User", "Tunings"}) EXPECT_TRUE(fs::is_empty(base / name)) << name;
  EXPECT_EQ(std::distance(fs::directory_iterator(base), fs::directory_iterator()), 3);
}

TEST_F(FactoryBank, ARelativeBaseIsRefused) {
  const fs::path previous = fs::current_path();
  fs::current_path(temp.path);
  shipThreePresets();
  tavrin_ensureFactoryBank("Audio/Presets/Nobrels/Tavrin", resources);
  tavrin_ensureFactoryBank("", resources);
  fs::current_path(previous);
  EXPECT_FALSE(fs::exists(temp.path / "Audio"));
  EXPECT_FALSE(fs::exists(temp.path / "Factory"));
}

TEST_F(FactoryBank, AFactoryLinkedElsewhereIsFilledThroughTheLinkAndKeepsTheUsersEdits) {
  shipThreePresets();
  const fs::path elsewhere = temp.path / "elsewhere";
  writeFile(elsewhere / "Keep.nobrel", "keep");
  writeFile(elsewhere / "Bass/Deep.nobrel", "edited by the user");
  fs::create_directories(base);
  fs::create_directory_symlink(elsewhere, factory);
  start();
  EXPECT_EQ(readFile(elsewhere / "Keep.nobrel"), "keep");
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep.nobrel"), "edited by the user");
  EXPECT_EQ(readFile(elsewhere / "Leads/Bright.nobrel"), "bright");
  EXPECT_TRUE(fs::is_symlink(factory));
}

TEST_F(FactoryBank, AFullDiskLeavesNoMarkerIsLoggedOnceAndTheNextStartFinishes) {
  shipThreePresets();
  start();
  fs::remove(base / ".factory-bank");
  writeFile(factory / "Bass/Deep.nobrel", "my deep");
  LogCapture log;
  {
    const ScopedFileSizeLimit full(0);
    start();
    start();
  }
  EXPECT_FALSE(fs::exists(base / ".factory-bank"));
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "my deep");
  const std::vector<std::string> failures = log.linesWith({"tavrin: could not", "File too large"});
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("Factory edits/Bass/Deep.nobrel"), std::string::npos) << failures[0];

  start();
  EXPECT_EQ(readFile(base / "User/Factory edits/Bass/Deep.nobrel"), "my deep");
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");
  EXPECT_EQ(marker(), "2");
}

TEST_F(FactoryBank, FactoryTuningsArriveOnlyInATuningsFolderWithoutTunings) {
  writeFile(resources / "Tunings/Just.scl", "just");
  writeFile(resources / "Tunings/Old.TUN", "old");
  writeFile(resources / "Tunings/readme.txt", "text");
  writeFile(resources / "Tunings/Gamelan/Slendro.scl", "slendro");
  start();
  EXPECT_EQ(readFile(base / "Tunings/Old.TUN"), "old");
  EXPECT_FALSE(fs::exists(base / "Tunings/readme.txt"));
  EXPECT_FALSE(fs::exists(base / "Tunings/Gamelan"));
  // Without a preset bank in the bundle no marker is written.
  EXPECT_FALSE(fs::exists(base / ".factory-bank"));
}

TEST_F(FactoryBank, AUserTuningWithAnUpperCaseExtensionKeepsFactoryTuningsOut) {
  writeFile(resources / "Tunings/Just.scl", "just");
  writeFile(base / "Tunings/Mine/Mine.TUN", "mine");
  start();
  EXPECT_FALSE(fs::exists(base / "Tunings/Just.scl"));
}

TEST(FactoryBankFiles, FindsExtensionsAtAnyDepthWithoutRegardToCase) {
  TempFolder temp;
  writeFile(temp.path / "a/b/c/Scale.ScL", "");
  fs::create_directories(temp.path / "folder.tun");
  EXPECT_TRUE(tavrin_dirContainsFileWithExtension(temp.path, {"tun", "scl"}));
  EXPECT_TRUE(tavrin_dirContainsFileWithExtension(temp.path, {"SCL"}));
  // A folder with the extension is not a file.
  EXPECT_FALSE(tavrin_dirContainsFileWithExtension(temp.path, {"tun"}));
  EXPECT_FALSE(tavrin_dirContainsFileWithExtension(temp.path, {"sc"}));
  EXPECT_FALSE(tavrin_dirContainsFileWithExtension(temp.path / "missing", {"scl"}));
}

TEST(FactoryBankFiles, TheMarkerReadsItsLeadingNumberAndIsReplacedWhole) {
  TempFolder temp;
  const struct {
    std::string text;
    int value;
  } cases[] = {{"1", 1},
               {"  7\n", 7},
               {"-2", -2},
               {"12abc", 12},
               {"abc", 0},
               {"", 0},
               {"99999999999", INT_MAX},
               {"-99999999999", INT_MIN},
               {"1\xff", 0},
               {"2 \xe2\x9c\x93", 2},
               {std::string(5000, '1'), 0}};
  for (const auto& c : cases) {
    writeFile(temp.path / ".factory-bank", c.text);
    EXPECT_EQ(tavrin_readBankMarker(temp.path), c.value) << c.text.substr(0, 20);
  }
  fs::remove(temp.path / ".factory-bank");
  EXPECT_EQ(tavrin_readBankMarker(temp.path), 0);
  fs::create_directory(temp.path / ".factory-bank");
  EXPECT_EQ(tavrin_readBankMarker(temp.path), 0);
  fs::remove(temp.path / ".factory-bank");

  // Writing replaces a longer marker whole.
  writeFile(temp.path / ".factory-bank", "1234567890");
  tavrin_writeBankMarker(temp.path, -5);
  EXPECT_EQ(readFile(temp.path / ".factory-bank"), "-5");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path), fs::directory_iterator()), 1);
  tavrin_writeBankMarker(temp.path / "missing", 1);
  EXPECT_FALSE(fs::exists(temp.path / "missing"));
}

TEST(FactoryBankFiles, CopiesNeverOverwriteAndNeverLeaveAPartialFile) {
  TempFolder temp;
  std::error_code error;
  writeFile(temp.path / "source", "new");
  writeFile(temp.path / "existing", "old");
  EXPECT_FALSE(tavrin_copyIfMissing(temp.path / "source", temp.path / "existing", error));
  EXPECT_EQ(error, std::errc::file_exists);
  EXPECT_EQ(readFile(temp.path / "existing"), "old");
  EXPECT_TRUE(tavrin_copyIfMissing(temp.path / "source", temp.path / "fresh", error));
  EXPECT_FALSE(error);
  EXPECT_EQ(readFile(temp.path / "fresh"), "new");
  // A folder opens but cannot be read: the copy fails after creating its destination and removes it.
  fs::create_directory(temp.path / "folder");
  EXPECT_FALSE(tavrin_copyIfMissing(temp.path / "folder", temp.path / "failed", error));
  EXPECT_EQ(error, std::errc::is_a_directory);
  EXPECT_FALSE(fs::exists(temp.path / "failed"));
  EXPECT_FALSE(tavrin_copyIfMissing(temp.path / "missing", temp.path / "nothing", error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(fs::exists(temp.path / "nothing"));
}

}  // namespace
