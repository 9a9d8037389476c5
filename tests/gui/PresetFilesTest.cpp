// Preset files through the real page and the module's bridge: a save that the disk refuses is shown on
// the page in words; the import panel stays above the host's window, opens one at a time, and starts in
// the library's User folder; the file browser that shows the folder starts with the host's environment.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "EditorWindowFixture.h"
#include "state/PresetLibrary.h"
#include "tests/tools/FileSizeLimit.h"

// After GoogleTest, whose names X11's macros would replace.
#include <X11/Xutil.h>

namespace gui_test {

namespace {

// Clicks the button with the text inside the elements the selector finds; 1 when there was one.
std::string clickButtonScript(const std::string& selector, const std::string& text) {
  return "(() => { const b = [...document.querySelectorAll('" + selector +
         "')].find(b => b.textContent === '" + text + "'); if (!b) return 0; b.click(); return 1; })()";
}

// The top-level windows titled title (the helper's panels are top-levels of the display).
std::vector<Window> topLevelsTitled(Display* display, const std::string& title) {
  std::vector<Window> found;
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return found;
  for (unsigned int i = 0; i < count; ++i) {
    char* name = nullptr;
    XWindowAttributes attributes{};
    if (XFetchName(display, children[i], &name) != 0 && name != nullptr && title == name &&
        XGetWindowAttributes(display, children[i], &attributes) != 0 && attributes.map_state == IsViewable)
      found.push_back(children[i]);
    if (name != nullptr) XFree(name);
  }
  if (children != nullptr) XFree(children);
  return found;
}

}  // namespace

TEST_F(EditorWindow, TheImportPanelStaysAboveTheHostOneAtATimeInTheUserFolder) {
  const std::filesystem::path probeFile =
      std::filesystem::path(presetsBasePath()) / kUserFolder / "panel-probe.nobrel";
  std::ofstream(probeFile) << "probe-text";
  // The panel keeps its settings in memory: no session bus runs under Xvfb.
  setenv("GSETTINGS_BACKEND", "memory", 1);
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibImportNobrel"); }));
  // What the import hands the page is kept aside; the page asks for the panel twice.
  ASSERT_TRUE(
      evaluate("window.mlibImportNobrel = t => { window.imported = t; };"
               "for (let i = 0; i < 2; ++i) window.webkit.messageHandlers.mlib.postMessage("
               "{name: '__importNobrel', value: 0}); 1"));
  Display* display = window->display();
  ASSERT_TRUE(pumpUntil([&] { return !topLevelsTitled(display, "Open").empty(); }));
  pumpFor(500ms);
  const std::vector<Window> panels = topLevelsTitled(display, "Open");
  ASSERT_EQ(panels.size(), 1u);
  Window transientFor = 0;
  EXPECT_TRUE(XGetTransientForHint(display, panels[0], &transientFor));
  EXPECT_EQ(transientFor, window->id());
  // The bare name of a file in the User folder, typed into the panel, opens that file.
  const std::string panel = std::to_string(panels[0]);
  ASSERT_EQ(
      std::system(("xdotool windowfocus --sync " + panel + " key ctrl+l type panel-probe.nobrel").c_str()),
      0);
  ASSERT_EQ(std::system(("xdotool windowfocus --sync " + panel + " key Return").c_str()), 0);
  EXPECT_TRUE(pumpUntil([&] { return pageShows("window.imported === 'probe-text'"); }));
  close();
  std::filesystem::remove(probeFile);
}

TEST_F(EditorWindow, APresetSaveOnAFullDiskShowsTheFailureOnThePage) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibFileResult"); }));
  // The page remembers whether the browser was open: it is opened only when it is not.
  ASSERT_TRUE(clickWhenShown("(() => { if (!document.querySelector('.browser')) " +
                             clickButtonScript(".topbar .toggle", "PRESETS") +
                             "; return document.querySelector('.browser') ? 1 : 0; })()"));
  {
    const ScopedFileSizeLimit full(0);
    // The page sends a save once the native side has restored its view state: clicked until it answers.
    EXPECT_TRUE(pumpUntil([&] {
      evaluate(clickButtonScript(".browser-head button", "SAVE"));
      return pageShows(
          "/Could not save the preset untitled\\.nobrel: File too large/"
          ".test(document.querySelector('.file-notice.failed')?.textContent)");
    }));
  }
  // Closed again, so that the next page opens as it would have.
  EXPECT_EQ(evaluate(clickButtonScript(".browser-head button", "CLOSE")), "1");
  pumpUntil([&] { return pageShows("!document.querySelector('.browser')"); });
  close();
}

TEST_F(EditorWindow, TheFileBrowserStartsWithTheHostsEnvironmentNotTheHelpersSettings) {
  namespace fs = std::filesystem;
  // The user's file browser is a script, the default program for folders, that writes its environment.
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  const fs::path applications = fs::path(data) / "applications";
  const fs::path browser = applications / "tavrin-browser-probe.sh";
  const fs::path seen = applications / "browser-environment.txt";
  fs::create_directories(applications);
  fs::remove(seen);
  std::ofstream(browser) << "#!/bin/sh\nenv > '" << seen.string() << ".part' && mv '" << seen.string()
                         << ".part' '" << seen.string() << "'\n";
  fs::permissions(browser, fs::perms::owner_all);
  std::ofstream(applications / "tavrin-browser-probe.desktop")
      << "[Desktop Entry]\nType=Application\nName=Browser probe\nExec=" << browser.string()
      << " %u\nMimeType=inode/directory;\n";
  std::ofstream(applications / "mimeapps.list")
      << "[Default Applications]\ninode/directory=tavrin-browser-probe.desktop\n";

  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  ASSERT_TRUE(
      evaluate("window.webkit.messageHandlers.mlib.postMessage({name: '__openPresetsFolder', value: 0}); 1"));
  ASSERT_TRUE(pumpUntil([&] { return fs::exists(seen); }, 5s));
  std::ifstream file(seen);
  const std::string environment =
      "\n" + std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  // What the helper sets for WebKit's processes alone, where the host did not set it.
  for (const char* name : {"GDK_GL", "WEBKIT_DISABLE_DMABUF_RENDERER", "WEBKIT_WEB_RENDER_DEVICE_FILE",
                           "DBUS_SESSION_BUS_ADDRESS"})
    EXPECT_EQ(environment.find("\n" + std::string(name) + "=") != std::string::npos,
              std::getenv(name) != nullptr)
        << name;
  close();
  for (const char* made : {"tavrin-browser-probe.sh", "browser-environment.txt",
                           "tavrin-browser-probe.desktop", "mimeapps.list"})
    fs::remove(applications / made);
}

}  // namespace gui_test
