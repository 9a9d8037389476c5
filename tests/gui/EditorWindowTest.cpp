// The editor of the built module in a host's X11 window: the real page talks to the engine both ways,
// opening and closing leaves nothing behind, a killed page comes back, keys reach the page only while
// it asks for them, the host's scale is followed, and faults of the host neither crash nor leak.
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "EditorWindowFixture.h"
#include "engine/ParamTable.h"
#include "tools/host/Renderer.h"

namespace gui_test {

namespace {

using tavrin::host::makeNoteEvent;
using tavrin::host::makeParamValueEvent;
using tavrin::host::RenderJob;

double ms(std::chrono::nanoseconds time) {
  return std::chrono::duration<double, std::milli>(time).count();
}

// The page's Voices menu (an option index 0..7 for one to eight voices).
constexpr const char* kVoicesMenu =
    "[...document.querySelectorAll('label.menu')].find(l => l.textContent.startsWith('Voices'))"
    ".querySelector('select')";

RenderJob shortJob() {
  return gui_test::blocksOf256(40);
}

}  // namespace

TEST_F(EditorWindow, TheRealPageTalksToTheEngineBothWays) {
  // The host sets four voices and holds a note before the editor opens.
  ASSERT_TRUE(instance->activate(48000, 1, 256));
  tavrin::host::render(*instance, *host,
                       {{0, makeParamValueEvent(kParamVoiceCount, 3.0 / 7.0)},
                        {0, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 1.0)}},
                       shortJob());

  const auto start = Clock::now();
  ASSERT_TRUE(open());
  const auto opened = Clock::now();
  ASSERT_TRUE(pumpUntil([&] { return pageDrawn(*window); }));
  const auto drawn = Clock::now();
  // "__ready" reached the native side when the page shows the engine's voice count from the sync.
  ASSERT_TRUE(pumpUntil([&] { return pageShows(std::string(kVoicesMenu) + ".value === '3'"); }));
  const auto ready = Clock::now();

  // The push shows the held note's voice lamp.
  EXPECT_TRUE(
      pumpUntil([&] { return pageShows("+document.querySelector('.voices i').style.opacity > 0.25"); }));

  // A choice made through the page's own menu reaches the engine and the host.
  const int flushRequests = host->flushRequestCount();
  ASSERT_TRUE(
      evaluate(std::string("(() => { const s = ") + kVoicesMenu +
               "; Object.getOwnPropertyDescriptor(HTMLSelectElement.prototype, 'value').set.call(s, '5');"
               " s.dispatchEvent(new Event('change', {bubbles: true})); return 1; })()"));
  EXPECT_TRUE(pumpUntil([&] { return paramValue(kParamVoiceCount) == 5.0 / 7.0; }, 3s));
  EXPECT_GT(host->flushRequestCount(), flushRequests);
  const auto result = tavrin::host::render(*instance, *host, {}, shortJob());
  bool reported = false;
  for (const auto& out : result.outputEvents)
    reported |= out.event.header.type == CLAP_EVENT_PARAM_VALUE &&
                out.event.paramValue.param_id == kParamVoiceCount && out.event.paramValue.value == 5.0 / 7.0;
  EXPECT_TRUE(reported);

  // What a tick costs with the page live and the push running.
  std::chrono::nanoseconds longest{0};
  std::chrono::nanoseconds total{0};
  constexpr int kTicks = 60;
  for (int i = 0; i < kTicks; ++i) {
    const auto cost = tick();
    longest = std::max(longest, cost);
    total += cost;
    std::this_thread::sleep_for(16ms);
  }
  // The picture of the editor in the README is taken here.
  if (const char* picture = std::getenv("TAVRIN_EDITOR_SCREENSHOT")) {
    EXPECT_EQ(std::system(("import -window " + std::to_string(window->id()) + " " + picture).c_str()), 0);
  }
  std::cout << "open " << ms(opened - start) << " ms, first paint after " << ms(drawn - start)
            << " ms, \"__ready\" shown after " << ms(ready - start) << " ms, tick mean " << ms(total / kTicks)
            << " ms, longest " << ms(longest) << " ms\n";
  close();
  instance->deactivate();
}

TEST_F(EditorWindow, OpeningAndClosingLeavesNothingBehind) {
  // WebKit starts process-wide helpers with the first views; from then on nothing may grow.
  ProcessCounts warm;
  for (int cycle = 0; cycle < 20; ++cycle) {
    const auto start = Clock::now();
    ASSERT_TRUE(open());
    if (cycle == 1) {
      const auto opened = Clock::now();
      ASSERT_TRUE(pumpUntil([&] { return pageDrawn(*window); }));
      std::cout << "a later open takes " << ms(opened - start) << " ms, its first paint "
                << ms(Clock::now() - start) << " ms\n";
    }
    ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
    close();
    EXPECT_TRUE(window->children().empty());
    // Without a parent the editor builds no view at all.
    ASSERT_TRUE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
    close();
    pumpFor(200ms);
    if (cycle == 4) warm = processCounts();
  }
  // A handle or thread of the last close may take a moment to go under load; a leak never does.
  ProcessCounts after;
  pumpUntil(
      [&] {
        after = processCounts();
        return after.threads <= warm.threads && after.fds <= warm.fds &&
               after.webProcesses <= warm.webProcesses;
      },
      3s);
  EXPECT_LE(after.threads, warm.threads);
  EXPECT_LE(after.fds, warm.fds);
  EXPECT_LE(after.webProcesses, warm.webProcesses);
  std::cout << "cycles 5 to 20: threads " << warm.threads << " -> " << after.threads << ", fds " << warm.fds
            << " -> " << after.fds << ", web processes " << warm.webProcesses << " -> " << after.webProcesses
            << "\n";
}

TEST_F(EditorWindow, AKilledPageComesBack) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  ASSERT_TRUE(evaluate("window.probe = 1"));
  for (int round = 0; round < 2; ++round) {
    const std::vector<int> pages = webProcessIds();
    ASSERT_EQ(pages.size(), 1u);
    kill(pages[0], SIGKILL);
    const auto killed = Clock::now();
    EXPECT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam && !window.probe"); }));
    std::cout << "page back " << ms(Clock::now() - killed) << " ms after the kill\n";
    ASSERT_TRUE(evaluate("window.probe = 1"));
  }
  // The helper tells the host's log of each death.
  EXPECT_EQ(host->countLogged("content process crashed"), 2);
  close();
}

TEST_F(EditorWindow, KeysReachThePageOnlyWhileItAsksForThem) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  window->takeFocus();
  ASSERT_TRUE(clickWhenShown("document.querySelector('.preset-name').focus(), 1"));
  ASSERT_TRUE(pumpUntil([&] { return window->focusedWindow() != window->id(); }, 3s));
  ASSERT_EQ(std::system("xdotool type --delay 30 Zeta"), 0);
  EXPECT_TRUE(pumpUntil(
      [&] { return pageShows("document.querySelector('.preset-name').value.endsWith('Zeta')"); }, 3s));
  ASSERT_TRUE(evaluate("document.querySelector('.preset-name').blur(), 1"));
  EXPECT_TRUE(pumpUntil([&] { return window->focusedWindow() == window->id(); }, 3s));
  close();
}

TEST_F(EditorWindow, AtScaleTwoThePageFillsTheDoubledSize) {
  ASSERT_TRUE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
  for (const double refused : {0.5, 4.5, std::nan(""), HUGE_VAL})
    EXPECT_FALSE(gui->set_scale(plugin(), refused));
  ASSERT_TRUE(gui->set_scale(plugin(), 2.0));
  uint32_t width = 0;
  uint32_t height = 0;
  ASSERT_TRUE(gui->get_size(plugin(), &width, &height));
  EXPECT_EQ(width * 480, height * 840);
  EXPECT_GE(width, 1680u);
  window->resize(static_cast<int>(width), static_cast<int>(height));
  clap_window record{};
  record.api = CLAP_WINDOW_API_X11;
  record.x11 = window->id();
  ASSERT_TRUE(gui->set_parent(plugin(), &record));
  ASSERT_TRUE(gui->show(plugin()));
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  ASSERT_EQ(window->children().size(), 1u);
  int shownWidth = 0;
  int shownHeight = 0;
  EXPECT_TRUE(pumpUntil(
      [&] {
        return window->windowSize(window->children()[0], shownWidth, shownHeight) &&
               shownWidth == static_cast<int>(width) && shownHeight == static_cast<int>(height);
      },
      3s));
  EXPECT_TRUE(pageShows("window.innerWidth * 2 === " + std::to_string(width)));
  EXPECT_TRUE(pageShows("document.body.getBoundingClientRect().width * 2 >= " + std::to_string(width - 1)));
  close();
}

}  // namespace gui_test

namespace gui_test {

TEST_F(EditorWindow, HostFaultsNeitherCrashNorLeak) {
  for (const char* api : {CLAP_WINDOW_API_COCOA, CLAP_WINDOW_API_WIN32, "unknown"}) {
    EXPECT_FALSE(gui->is_api_supported(plugin(), api, false)) << api;
    EXPECT_FALSE(gui->create(plugin(), api, false)) << api;
  }
  EXPECT_FALSE(gui->create(plugin(), CLAP_WINDOW_API_X11, true));
  // No display to show the editor on: refused, and the log says why.
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  EXPECT_FALSE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
  setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(host->countLogged("DISPLAY is not set"), 1);

  // Windows of another API or that do not exist are refused; an editor closed before it was shown.
  ASSERT_TRUE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
  clap_window record{};
  record.api = CLAP_WINDOW_API_COCOA;
  record.cocoa = window.get();
  EXPECT_FALSE(gui->set_parent(plugin(), &record));
  record.api = CLAP_WINDOW_API_X11;
  // A window that does not exist is refused when the helper could check it in time; otherwise the
  // helper finds it missing and ends, and the editor stays empty until it is opened again.
  record.x11 = 0x7ffffff;
  if (gui->set_parent(plugin(), &record)) pumpFor(1s);
  close();
  ASSERT_TRUE(gui->create(plugin(), CLAP_WINDOW_API_X11, false));
  record.x11 = window->id();
  ASSERT_TRUE(gui->set_parent(plugin(), &record));
  close();
  EXPECT_TRUE(window->children().empty());

  // A second parent call keeps the view; a size set while hidden shows when the editor comes back.
  ASSERT_TRUE(open());
  ASSERT_TRUE(gui->set_parent(plugin(), &record));
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  EXPECT_EQ(window->children().size(), 1u);
  ASSERT_TRUE(gui->hide(plugin()));
  window->resize(1008, 576);
  ASSERT_TRUE(gui->set_size(plugin(), 1008, 576));
  ASSERT_TRUE(gui->show(plugin()));
  int width = 0;
  int height = 0;
  EXPECT_TRUE(pumpUntil(
      [&] {
        return window->windowSize(window->children().at(0), width, height) && width == 1008 && height == 576;
      },
      3s));

  // The host destroys its window first, then the editor; a new window gets a working editor.
  window->destroyWindow();
  pumpFor(200ms);
  close();
  pumpFor(200ms);
  window = std::make_unique<tavrin::host::HostWindow>(kWindowWidth, kWindowHeight);
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));

  // The plug-in destroyed with its editor open takes the editor and its processes with it.
  instance->destroy();
  EXPECT_TRUE(window->children().empty());
  EXPECT_TRUE(pumpUntil([] { return !editorProcessesRemain(); }, 3s));
}

TEST_F(EditorWindow, AHostOfferingOnlyTheLogGetsAWorkingEditor) {
  tavrin::host::HostOptions options;
  options.threadCheck = false;
  options.params = false;
  options.timerSupport = false;
  host = std::make_unique<tavrin::host::Host>(options);
  instance = std::make_unique<tavrin::host::PluginInstance>(module->factory(), *host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance->init());
  gui = instance->extension<clap_plugin_gui>(CLAP_EXT_GUI);
  EXPECT_TRUE(gui->is_api_supported(plugin(), CLAP_WINDOW_API_X11, false));
  ASSERT_TRUE(open());
  EXPECT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  EXPECT_TRUE(host->timers().empty());
  close();
}

}  // namespace gui_test
