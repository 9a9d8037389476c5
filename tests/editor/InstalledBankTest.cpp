// cmake --install puts the module where Linux hosts look, stripped, with its resources; an installed
// module's first start fills an empty library with the factory bank, which the editor bridge lists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "editor/BridgeFiles.h"
#include "state/LibraryFixture.h"
#include "tests/tools/RunCommand.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

using namespace tavrin::host;

namespace {

const fs::path kSourceDir = fs::path(TAVRIN_TEST_DIR).parent_path();

// A stripped module keeps its dynamic symbols but has no symbol table and no debug information.
bool stripped(const fs::path& module) {
  const CommandResult sections = runCommand("readelf -S -W '" + module.string() + "'");
  return sections.status == 0 && sections.output.find(".symtab") == std::string::npos &&
         sections.output.find(".debug_") == std::string::npos;
}

// Loads the module and creates and initialises one instance with dataHome as the user's data folder;
// answers the library base there.
fs::path firstStart(const fs::path& module, const fs::path& dataHome) {
  ScopedEnv data("XDG_DATA_HOME", dataHome.string());
  ClapModule loaded;
  if (!loaded.load(module.string())) {
    ADD_FAILURE() << loaded.error();
    return {};
  }
  Host host;
  PluginInstance instance(loaded.factory(), host, "com.nobrel.tavrin");
  EXPECT_TRUE(instance.valid() && instance.init()) << module;
  return dataHome / "Nobrels/Tavrin";
}

TEST(InstalledBank, EachLayoutInstallsAStrippedModuleThatFindsItsResources) {
  TempFolder temp;
  writeFile(temp.path / "resources/Presets/Factory/Keys/Soft.nobrel", "soft");
  writeFile(temp.path / "resources/Tunings/Just.scl", "just");
  const struct {
    const char* layout;
    const char* module;
  } layouts[] = {{"user", "home/.clap/Tavrin.clap"}, {"system", "prefix/lib/clap/Tavrin.clap"}};
  for (const auto& l : layouts) {
    const CommandResult install = runCommand(
        "HOME='" + (temp.path / "home").string() + "' '" TAVRIN_CMAKE "' -DTAVRIN_LAYOUT=" + l.layout +
        " -DTAVRIN_MODULE='" TAVRIN_MODULE_PATH "' -DTAVRIN_HELPER='" TAVRIN_BINARY_DIR
        "/tavrin-editor'"
        " -DTAVRIN_RESOURCES='" +
        (temp.path / "resources").string() + "' -DTAVRIN_STRIP=strip -DCMAKE_INSTALL_PREFIX='" +
        (temp.path / "prefix").string() + "' -P '" + (kSourceDir / "cmake/InstallBundle.cmake").string() +
        "' 2>&1");
    ASSERT_EQ(install.status, 0) << install.output;
    const fs::path module = temp.path / l.module;
    EXPECT_TRUE(stripped(module)) << l.layout;

    ScopedHome home((temp.path / "home").string());
    const fs::path base = firstStart(module, temp.path / "data" / l.layout);
    EXPECT_EQ(readFile(base / "Factory/Keys/Soft.nobrel"), "soft") << l.layout;
    EXPECT_EQ(readFile(base / "Tunings/Just.scl"), "just") << l.layout;
  }
  EXPECT_TRUE(fs::is_regular_file(temp.path / "home/.clap/Tavrin.resources/Tunings/Just.scl"));
  EXPECT_TRUE(fs::is_regular_file(temp.path / "prefix/share/tavrin/Tunings/Just.scl"));
  // The editor's helper, where each layout's module looks for it.
  for (const char* helper :
       {"home/.clap/Tavrin.resources/tavrin-editor", "prefix/libexec/tavrin/tavrin-editor"}) {
    EXPECT_EQ(access((temp.path / helper).c_str(), X_OK), 0) << helper;
    EXPECT_TRUE(stripped(temp.path / helper)) << helper;
  }
}

TEST(InstalledBank, AFirstStartOfTheInstalledBuildInstallsTheWholeBankAndTheBridgeListsIt) {
  TempFolder temp;
  const fs::path homeFolder = temp.path / "home";
  const CommandResult install = runCommand(
      "HOME='" + homeFolder.string() + "' '" TAVRIN_CMAKE "' --install '" TAVRIN_BINARY_DIR "' --prefix '" +
      (temp.path / "prefix").string() + "' 2>&1");
  ASSERT_EQ(install.status, 0) << install.output;
  // The build's layout decides where the module went.
  fs::path module = homeFolder / ".clap/Tavrin.clap";
  if (!fs::exists(module)) module = temp.path / "prefix/lib/clap/Tavrin.clap";
  EXPECT_TRUE(stripped(module));

  ScopedHome home(homeFolder.string());
  const fs::path base = firstStart(module, temp.path / "data");
  const std::string presets = bridge_files::presetListJson(base);
  const std::string tunings = bridge_files::tuningListJson(base);
  const fs::path shippedPresets = kSourceDir / "resources/Presets/Factory";
  int presetCount = 0;
  if (fs::exists(shippedPresets))
    for (const auto& entry : fs::recursive_directory_iterator(shippedPresets)) {
      if (entry.path().extension() != ".nobrel") continue;
      const fs::path installed = base / "Factory" / entry.path().lexically_relative(shippedPresets);
      EXPECT_EQ(readFile(installed), readFile(entry.path())) << installed;
      EXPECT_NE(presets.find("\"" + installed.string() + "\""), std::string::npos) << installed;
      ++presetCount;
    }
  int tuningCount = 0;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "resources/Tunings")) {
    EXPECT_EQ(readFile(base / "Tunings" / entry.path().filename()), readFile(entry.path())) << entry.path();
    EXPECT_NE(tunings.find("\"" + entry.path().stem().string() + "\""), std::string::npos) << entry.path();
    ++tuningCount;
  }
  EXPECT_GE(tuningCount, 15);
  // The marker records a complete preset bank; a build that ships none has none to record.
  EXPECT_EQ(readFile(base / ".factory-bank"), presetCount > 0 ? "2" : "");
}

}  // namespace
