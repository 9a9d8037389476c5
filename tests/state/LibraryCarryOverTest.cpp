// Carrying a library over from where earlier builds kept it into the data folder.
#include <gtest/gtest.h>

#include "state/PresetLibrary.h"
#include "tests/state/LibraryFixture.h"

namespace {

struct CarryOver : ::testing::Test {
  TempFolder temp;
  ScopedHome home{temp.path.string()};
  fs::path earlier = temp.path / "Library/Audio/Presets/Nobrels/Tavrin";
  fs::path base = temp.path / ".local/share/Nobrels/Tavrin";
};

TEST_F(CarryOver, AnEarlierLibraryIsCopiedWholeOnceAndLeftAsItWas) {
  const char* files[] = {"User/Mine.nobrel", "User/Kits/Live.kit", "Tunings/Mine.scl", "Factory/Old.nobrel",
                         ".factory-bank"};
  for (const char* file : files) writeFile(earlier / file, std::string("text of ") + file);
  fs::create_directories(earlier / "User/Empty");
  ensurePresetFolders();
  for (const char* file : files) EXPECT_EQ(readFile(base / file), std::string("text of ") + file) << file;
  EXPECT_TRUE(fs::is_directory(base / "User/Empty"));
  EXPECT_EQ(readFile(earlier / "User/Mine.nobrel"), "text of User/Mine.nobrel");
  // The copy was put together beside the base and nothing of it is left there.
  EXPECT_EQ(std::distance(fs::directory_iterator(base.parent_path()), fs::directory_iterator()), 1);

  // Once the base exists nothing is copied again, even when the earlier library changes.
  writeFile(earlier / "User/Later.nobrel", "later");
  writeFile(earlier / "User/Mine.nobrel", "changed");
  ensurePresetFolders();
  EXPECT_FALSE(fs::exists(base / "User/Later.nobrel"));
  EXPECT_EQ(readFile(base / "User/Mine.nobrel"), "text of User/Mine.nobrel");
}

TEST_F(CarryOver, AnInterruptedCopyIsCompletedAtTheNextStart) {
  const std::string longPreset(100000, 'x');
  writeFile(earlier / "User/Long.nobrel", longPreset);
  writeFile(earlier / "Tunings/Mine.scl", "mine");
  // An earlier start stopped part-way: one file cut short, the other not copied yet.
  writeFile(base.parent_path() / ".Tavrin.carry-over/User/Long.nobrel", longPreset.substr(0, 4096));
  tavrin_carryOverLibrary(earlier, base);
  EXPECT_EQ(readFile(base / "User/Long.nobrel"), longPreset);
  EXPECT_EQ(readFile(base / "Tunings/Mine.scl"), "mine");
  EXPECT_FALSE(fs::exists(base.parent_path() / ".Tavrin.carry-over"));
}

TEST_F(CarryOver, ACopyThatCannotBePutTogetherIsLoggedOnceAndLeavesTheEarlierLibrary) {
  writeFile(earlier / "User/Mine.nobrel", "mine");
  writeFile(base.parent_path(), "a file where the data folder should be");
  LogCapture log;
  tavrin_carryOverLibrary(earlier, base);
  tavrin_carryOverLibrary(earlier, base);
  const std::vector<std::string> lines = log.linesWith({"earlier library", base.parent_path().string()});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Not a directory"), std::string::npos) << lines[0];
  EXPECT_EQ(readFile(earlier / "User/Mine.nobrel"), "mine");
}

}  // namespace
