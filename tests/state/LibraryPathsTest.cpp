// Where the library and the plug-in's resources are found, and the start-up call that prepares them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/PlatformPaths.h"
#include "state/PresetLibrary.h"
#include "tests/plugin/PluginFixture.h"
#include "tests/state/LibraryFixture.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Events.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

using namespace tavrin::host;

namespace {

TEST(LibraryPaths, TheLibraryLivesInTheDataFolderAndATuningsFolderThatIsNotUtf8IsEmpty) {
  ScopedHome home("/home/someone");
  EXPECT_EQ(presetsBasePath(), "/home/someone/.local/share/Nobrels/Tavrin");
  EXPECT_EQ(tuningsDir(), "/home/someone/.local/share/Nobrels/Tavrin/Tunings");
  EXPECT_EQ(earlierPresetsBasePath(), "/home/someone/Library/Audio/Presets/Nobrels/Tavrin");
  for (const char* ignored : {"", "relative/data"}) {
    ScopedEnv data("XDG_DATA_HOME", ignored);
    EXPECT_EQ(presetsBasePath(), "/home/someone/.local/share/Nobrels/Tavrin") << ignored;
  }
  ScopedEnv data("XDG_DATA_HOME", "/data/\xff");
  EXPECT_EQ(presetsBasePath(), "/data/\xff/Nobrels/Tavrin");
  EXPECT_EQ(tuningsDir(), "");
}

TEST(LibraryPaths, AHomeThatIsNotAnAbsolutePathGivesWayToTheUserDatabase) {
  const passwd* user = getpwuid(getuid());
  const std::string expected = user != nullptr && user->pw_dir[0] == '/' ? std::string(user->pw_dir) : "";
  for (const char* home : {"", "relative/home", "~"}) {
    ScopedHome scoped(home);
    EXPECT_EQ(userHomeFolder(), expected) << home;
  }
}

TEST(LibraryPaths, ResourcesSitBesideTheFileThatHoldsTheCode) {
  // Linked into this test program, the code's file is the program itself.
  const fs::path program = fs::canonical("/proc/self/exe");
  EXPECT_EQ(bundleResourcesPath(), (program.parent_path() / "Tavrin.resources").string());
}

TEST(LibraryPaths, TheModuleInstallsTheBankShippedBesideItsRealFileIntoTheDataFolder) {
  TempFolder temp;
  ScopedHome home(temp.path.string());
  ScopedEnv data("XDG_DATA_HOME", (temp.path / "data").string());
  const fs::path shipped = temp.path / "opt/tavrin";
  fs::create_directories(shipped);
  fs::copy_file(TAVRIN_MODULE_PATH, shipped / "Tavrin.clap");
  writeFile(shipped / "Tavrin.resources/Presets/Factory/Init/Init.nobrel", "init");
  writeFile(shipped / "Tavrin.resources/Tunings/Just.scl", "just");
  // The host finds the module through a link in its plug-in folder.
  fs::create_directories(temp.path / ".clap");
  fs::create_symlink(shipped / "Tavrin.clap", temp.path / ".clap/Tavrin.clap");

  ClapModule module;
  ASSERT_TRUE(module.load((temp.path / ".clap/Tavrin.clap").string())) << module.error();
  Host host;
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.valid());
  ASSERT_TRUE(instance.init());
  const fs::path base = temp.path / "data/Nobrels/Tavrin";
  EXPECT_EQ(readFile(base / "Factory/Init/Init.nobrel"), "init");
  EXPECT_EQ(readFile(base / "Tunings/Just.scl"), "just");
  EXPECT_EQ(readFile(base / ".factory-bank"), "2");
  EXPECT_TRUE(fs::is_directory(base / "User"));
  EXPECT_FALSE(fs::exists(temp.path / "Library"));
}

TEST(LibraryPaths, ALibraryThatCannotBeSetUpIsLoggedOnceAndThePlugInPlaysOn) {
  TempFolder temp;
  writeFile(temp.path / "data", "a file where the data folder should be");
  ScopedHome home(temp.path.string());
  ScopedEnv data("XDG_DATA_HOME", (temp.path / "data").string());
  LogCapture log;
  PluginFixture first;
  PluginFixture second;
  const std::vector<std::string> lines = log.linesWith({"tavrin: could not", (temp.path / "data").string()});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Not a directory"), std::string::npos) << lines[0];
  const RenderResult sound = second.render({{0, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8)}}, 4096, 64);
  EXPECT_TRUE(
      std::any_of(sound.left.begin(), sound.left.end(), [](float s) { return std::fabs(s) > 1e-4f; }));
}

}  // namespace
