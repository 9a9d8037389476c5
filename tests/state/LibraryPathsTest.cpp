// Where the library and the plug-in's resources are found, and the start-up call that prepares them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/PlatformPaths.h"
#include "state/PresetLibrary.h"
#include "tests/state/LibraryFixture.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

using namespace tavrin::host;

namespace {

const char* kLibraryBase = "Library/Audio/Presets/Nobrels/Tavrin";

TEST(LibraryPaths, TheLibraryLivesInTheHomeFolderAndATuningsFolderThatIsNotUtf8IsEmpty) {
  ScopedHome home("/home/someone");
  EXPECT_EQ(userLibraryFolder(), "/home/someone/Library");
  EXPECT_EQ(presetsBasePath(), "/home/someone/Library/Audio/Presets/Nobrels/Tavrin");
  EXPECT_EQ(tuningsDir(), "/home/someone/Library/Audio/Presets/Nobrels/Tavrin/Tunings");
  ScopedHome bad("/home/bad\xff");
  EXPECT_FALSE(presetsBasePath().empty());
  EXPECT_EQ(tuningsDir(), "");
}

TEST(LibraryPaths, AHomeThatIsNotAnAbsolutePathGivesWayToTheUserDatabase) {
  const passwd* user = getpwuid(getuid());
  const std::string expected =
      user != nullptr && user->pw_dir[0] == '/' ? std::string(user->pw_dir) + "/Library" : "";
  for (const char* home : {"", "relative/home", "~"}) {
    ScopedHome scoped(home);
    EXPECT_EQ(userLibraryFolder(), expected) << home;
  }
}

TEST(LibraryPaths, ResourcesSitBesideTheFileThatHoldsTheCode) {
  // Linked into this test program, the code's file is the program itself.
  const fs::path program = fs::canonical("/proc/self/exe");
  EXPECT_EQ(bundleResourcesPath(), (program.parent_path() / "Tavrin.resources").string());
}

TEST(LibraryPaths, TheModuleInstallsTheBankShippedBesideItsRealFile) {
  TempFolder temp;
  ScopedHome home(temp.path.string());
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
  const fs::path base = temp.path / kLibraryBase;
  EXPECT_EQ(readFile(base / "Factory/Init/Init.nobrel"), "init");
  EXPECT_EQ(readFile(base / "Tunings/Just.scl"), "just");
  EXPECT_EQ(readFile(base / ".factory-bank"), "1");
  EXPECT_TRUE(fs::is_directory(base / "User"));
}

}  // namespace
