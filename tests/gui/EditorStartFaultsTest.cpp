// An editor that cannot be had: its helper missing or not executable, a display that refuses the helper,
// an address space too small for WebKit. Each is refused, or left empty, with one line in the host's log
// that says why; the host neither crashes nor hangs.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "EditorWindowFixture.h"
#include "tests/tools/RunCommand.h"

namespace gui_test {

namespace {

namespace fs = std::filesystem;

// The host's log lines that speak of the editor.
int editorLines(const tavrin::host::Host& host) {
  int count = 0;
  for (const auto& entry : host.logEntries()) count += entry.message.find("editor") != std::string::npos;
  return count;
}

}  // namespace

TEST_F(EditorWindow, AHelperMissingOrNotExecutableRefusesTheEditor) {
  // A copy of the module in a folder of its own, where it looks for its helper.
  const fs::path folder = fs::path(TAVRIN_BINARY_DIR) / ("helperless-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(TAVRIN_MODULE_PATH, folder / "Tavrin.clap");
  tavrin::host::ClapModule copy;
  ASSERT_TRUE(copy.load((folder / "Tavrin.clap").string())) << copy.error();
  for (const char* why : {"No such file or directory", "Permission denied"}) {
    if (why == std::string("Permission denied")) {
      std::ofstream(folder / "tavrin-editor") << "#!/bin/sh\n";
      chmod((folder / "tavrin-editor").c_str(), 0644);
    }
    host = std::make_unique<tavrin::host::Host>();
    instance = std::make_unique<tavrin::host::PluginInstance>(copy.factory(), *host, "com.nobrel.tavrin");
    ASSERT_TRUE(instance->init());
    gui = instance->extension<clap_plugin_gui>(CLAP_EXT_GUI);
    EXPECT_TRUE(gui->is_api_supported(plugin(), CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
    EXPECT_EQ(host->countLogged(why), 1) << why;
    EXPECT_EQ(editorLines(*host), 1) << why;
    instance.reset();
  }
  fs::remove_all(folder);
}

TEST_F(EditorWindow, ADisplayThatRefusesTheHelperLeavesOneLine) {
  const std::string display = std::getenv("DISPLAY");
  // No X server listens there; the host's own window stays on the display it opened.
  setenv("DISPLAY", ":4095", 1);
  const bool opened = open();
  setenv("DISPLAY", display.c_str(), 1);
  // Refused at once when the helper answers within the creation's wait, else its view gives up.
  if (opened) pumpFor(2s);
  EXPECT_EQ(host->countLogged("X11 display is not available (DISPLAY is :4095)"), 1);
  EXPECT_EQ(editorLines(*host), 1);
  close();
}

TEST_F(EditorWindow, AnAddressSpaceTooSmallForWebKitLeavesOneLine) {
  if (std::getenv("TAVRIN_LIMITED_HOST") != nullptr) {
    // The run below, inside the limited host: its helper cannot load its libraries (256 MB) or aborts
    // as WebKit starts (1 GB).
    if (open()) pumpFor(3s);
    EXPECT_EQ(editorLines(*host), 1);
    EXPECT_TRUE(window->children().empty());
    close();
    return;
  }
  for (const char* kilobytes : {"262144", "1048576"}) {
    const CommandResult run =
        runCommand("ulimit -v " + std::string(kilobytes) + "; TAVRIN_LIMITED_HOST=1 timeout 60 '" +
                   fs::read_symlink("/proc/self/exe").string() +
                   "' --gtest_filter=EditorWindow.AnAddressSpaceTooSmall* 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  }
}

}  // namespace gui_test
