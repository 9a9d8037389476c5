// Installing the factory bank and tunings into a library folder made for each test.
#include <gtest/gtest.h>

#include <climits>

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
  EXPECT_EQ(marker(), "1");
  EXPECT_TRUE(fs::is_empty(base / "User"));
  // Only the marker sits beside the three folders: no temporary file was left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(base), fs::directory_iterator()), 4);
}

TEST_F(FactoryBank, TheMarkerKeepsDeletedPresetsDeletedAndItsLossReinstallsWithoutTouchingUser) {
  shipThreePresets();
  start();
  fs::remove(factory / "Bass/Deep.nobrel");
  writeFile(base / "User/Mine.nobrel", "mine");
  start();
  EXPECT_FALSE(fs::exists(factory / "Bass/Deep.nobrel"));

  writeFile(factory / "Stray.nobrel", "left from an old bank");
  fs::remove(base / ".factory-bank");
  start();
  EXPECT_EQ(readFile(factory / "Bass/Deep.nobrel"), "deep");
  EXPECT_FALSE(fs::exists(factory / "Stray.nobrel"));
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "mine");
  EXPECT_EQ(marker(), "1");
}

TEST_F(FactoryBank, ANewerMarkerAlsoCountsAsInstalled) {
  shipThreePresets();
  fs::create_directories(base);
  tavrin_writeBankMarker(base, 2);
  start();
  EXPECT_TRUE(fs::is_empty(factory));
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
  EXPECT_EQ(marker(), "1");
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

TEST_F(FactoryBank, AFactoryLinkedElsewhereIsNeverWipedAndReceivesOnlyMissingFiles) {
  shipThreePresets();
  const fs::path elsewhere = temp.path / "elsewhere";
  writeFile(elsewhere / "Keep.nobrel", "keep");
  writeFile(elsewhere / "Bass/Deep.nobrel", "edited by the user");
  fs::create_directories(base);
  fs::create_directory_symlink(elsewhere, factory);
  start();
  EXPECT_EQ(readFile(elsewhere / "Bass/Deep.nobrel"), "edited by the user");
  EXPECT_EQ(readFile(elsewhere / "Leads/Bright.nobrel"), "bright");
  EXPECT_TRUE(fs::is_symlink(factory));
}

TEST_F(FactoryBank, TheWipeRemovesLinksInsideFactoryButNotWhatTheyPointAt) {
  shipThreePresets();
  writeFile(base / "User/Mine.nobrel", "mine");
  fs::create_directories(factory);
  fs::create_directory_symlink(base / "User", factory / "Linked");
  start();
  EXPECT_FALSE(fs::exists(factory / "Linked"));
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "mine");
}

TEST_F(FactoryBank, TheWipeTouchesOnlyTheBasesOwnFactory) {
  writeFile(base / "User/Mine.nobrel", "mine");
  writeFile(factory / "Old.nobrel", "old");
  tavrin_wipeFactoryScoped(base, base / "User");
  tavrin_wipeFactoryScoped(base, base / "User/../User");
  tavrin_wipeFactoryScoped(temp.path / ".local/share", factory);
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "mine");
  EXPECT_EQ(readFile(factory / "Old.nobrel"), "old");

  // The same folder reached through a linked base and a dot-dot path is the base's own Factory.
  fs::create_directory_symlink(base, temp.path / "Shortcut");
  tavrin_wipeFactoryScoped(temp.path / "Shortcut", base / "User/../Factory");
  EXPECT_TRUE(fs::is_directory(factory));
  EXPECT_TRUE(fs::is_empty(factory));
}

TEST_F(FactoryBank, ACopyThatCannotCompleteLeavesNoMarkerAndTheNextStartFinishes) {
  shipThreePresets();
  const fs::path elsewhere = temp.path / "elsewhere";
  fs::create_directories(elsewhere / "Leads");
  fs::create_symlink(temp.path / "nowhere", elsewhere / "Leads/Bright.nobrel");
  fs::create_directories(base);
  fs::create_directory_symlink(elsewhere, factory);
  start();
  // The dangling link is not written through, so the bank is incomplete.
  EXPECT_FALSE(fs::exists(temp.path / "nowhere"));
  EXPECT_FALSE(fs::exists(base / ".factory-bank"));
  EXPECT_EQ(readFile(elsewhere / "Bass/Deep.nobrel"), "deep");

  fs::remove(elsewhere / "Leads/Bright.nobrel");
  start();
  EXPECT_EQ(readFile(elsewhere / "Leads/Bright.nobrel"), "bright");
  EXPECT_EQ(marker(), "1");
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
  writeFile(temp.path / "source", "new");
  writeFile(temp.path / "existing", "old");
  tavrin_copyIfMissing(temp.path / "source", temp.path / "existing");
  EXPECT_EQ(readFile(temp.path / "existing"), "old");
  tavrin_copyIfMissing(temp.path / "source", temp.path / "fresh");
  EXPECT_EQ(readFile(temp.path / "fresh"), "new");
  // A folder opens but cannot be read: the copy fails after creating its destination and removes it.
  fs::create_directory(temp.path / "folder");
  tavrin_copyIfMissing(temp.path / "folder", temp.path / "failed");
  EXPECT_FALSE(fs::exists(temp.path / "failed"));
  tavrin_copyIfMissing(temp.path / "missing", temp.path / "nothing");
  EXPECT_FALSE(fs::exists(temp.path / "nothing"));
}

}  // namespace
