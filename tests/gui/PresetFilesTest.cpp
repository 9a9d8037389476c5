// Preset files through the real page and the module's bridge: a save that the disk refuses is shown on
// the page in words.
#include "EditorWindowFixture.h"
#include "tests/tools/FileSizeLimit.h"

namespace gui_test {

namespace {

// Clicks the button with the text inside the elements the selector finds; 1 when there was one.
std::string clickButtonScript(const std::string& selector, const std::string& text) {
  return "(() => { const b = [...document.querySelectorAll('" + selector +
         "')].find(b => b.textContent === '" + text + "'); if (!b) return 0; b.click(); return 1; })()";
}

}  // namespace

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

}  // namespace gui_test
