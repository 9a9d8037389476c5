#pragma once
// The built module's editor in a host's X11 window, as a Linux host opens it: the host answers the
// plug-in's requests for main-thread calls, and the test reaches the real page, which lives in the
// editor's helper process, through the probe socket the helper connects to (TAVRIN_EDITOR_PROBE). Needs
// an X11 display (xvfb-run).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"
#include "tools/host/x11/HostWindow.h"

namespace gui_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWindowWidth = 840;
constexpr int kWindowHeight = 480;

// A render at 48 kHz in blocks of 256 frames.
inline tavrin::host::RenderJob blocksOf256(int blocks) {
  tavrin::host::RenderJob job;
  job.sampleRate = 48000;
  job.frames = 256 * blocks;
  job.blocks.fixedFrames = 256;
  return job;
}

// Counts of what a process holds: threads, open file descriptors, and web content processes below it.
struct ProcessCounts {
  int threads = 0;
  int fds = 0;
  int webProcesses = 0;
};
ProcessCounts processCounts();
// Processes below this one whose command line holds name: "WebKitWebProcess" for the pages' content
// processes; "tavrin-editor", "WebKit" for every process of the editor.
std::vector<int> processesBelowUs(const std::string& name);
inline std::vector<int> webProcessIds() {
  return processesBelowUs("WebKitWebProcess");
}
inline bool editorProcessesRemain() {
  return !processesBelowUs("tavrin-editor").empty() || !processesBelowUs("WebKit").empty();
}

// The host window's pixels, the editor's included (every stride-th of each row and column); and whether
// the page has drawn there (many colours, not the one of a cover or an empty window).
std::vector<unsigned long> windowPixels(const tavrin::host::HostWindow& window, int width, int height,
                                        int stride = 1);
bool pageDrawn(const tavrin::host::HostWindow& window);

// The pages' probe: the newest helper's connection to a socket of this process.
class PageProbe {
public:
  PageProbe();
  ~PageProbe();
  // Runs script in the newest helper's page; its result as text, none when it failed. pump runs while
  // the answer is awaited.
  std::optional<std::string> evaluate(const std::string& script, const std::function<void()>& pump);

private:
  bool takeNewestConnection();
  std::string path;
  int listening = -1;
  int connection = -1;
  uint32_t lastId = 0;
};

class EditorWindow : public ::testing::Test {
protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  const clap_plugin* plugin() const { return instance->plugin(); }
  // create, the host's window sized as the editor asks, set_parent, show.
  bool open();
  void close() { gui->destroy(plugin()); }

  // Answers the plug-in's request for a main-thread call, as a host's main loop does; answers how long
  // the plug-in took.
  std::chrono::nanoseconds tick();
  // Ticks every 16 ms until done() answers true or the timeout passes; answers done().
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);
  void pumpFor(std::chrono::milliseconds time);
  // Runs script in the page (of the newest helper) and answers its result as text; none when it failed.
  std::optional<std::string> evaluate(const std::string& script);
  // Runs script (a click or a focus answering 1) until it answers 1, ticking meanwhile: the page's
  // receivers are up before it has rendered, and it renders what a click before it showed a little later.
  bool clickWhenShown(const std::string& script) {
    return pumpUntil([&] { return evaluate(script) == "1"; }, 5s);
  }
  // Whether condition holds in the page; false while the page cannot answer.
  bool pageShows(const std::string& condition);

  double paramValue(clap_id id);
  // Opens the editor and marks its page, so that a page that came back can be told from it; answers the
  // one helper's pid, or 0 when the editor did not come up.
  int openMarkedEditor();

  static std::unique_ptr<tavrin::host::ClapModule> module;
  static std::unique_ptr<PageProbe> probe;
  std::unique_ptr<tavrin::host::Host> host;
  std::unique_ptr<tavrin::host::PluginInstance> instance;
  std::unique_ptr<tavrin::host::HostWindow> window;
  const clap_plugin_gui* gui = nullptr;
  const clap_plugin_params* params = nullptr;
};

}  // namespace gui_test
