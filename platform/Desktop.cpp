#include "platform/Desktop.h"

#include <utility>

#include "platform/WindowSystem.h"

namespace platform {

namespace {

std::optional<ScreenArea> s_screenArea;
std::vector<PanelRequest> s_panels;
std::vector<std::string> s_openedFolders;

// The stand-in: a screen of the size the tests set, panels that wait for answerPanel, folders recorded.
class HeadlessWindowSystem : public WindowSystem {
public:
  const char* windowApi() const override { return "cocoa"; }
  bool start(std::string&) override { return true; }
  void stop() override {}
  bool windowExists(uint64_t) override { return false; }
  std::unique_ptr<WebViewPeer> makeWebView(WebView&) override { return nullptr; }
  std::optional<ScreenArea> workArea() override { return s_screenArea; }
  void runPanel(PanelRequest request) override { s_panels.push_back(std::move(request)); }
  void openFolder(const std::string& path) override { s_openedFolders.push_back(path); }
};

// Constant-initialised, so that a module may install its system from a static initialiser.
WindowSystem* s_system = nullptr;
bool s_installed = false;

}  // namespace

WindowSystem& headlessWindowSystem() {
  static HeadlessWindowSystem s_headless;
  return s_headless;
}

WindowSystem* windowSystem() {
  return s_installed ? s_system : &headlessWindowSystem();
}

void setWindowSystem(WindowSystem* system) {
  s_system = system;
  s_installed = true;
}

std::optional<ScreenArea> mainScreenVisibleArea() {
  WindowSystem* system = windowSystem();
  return system != nullptr ? system->workArea() : std::nullopt;
}

void setMainScreenVisibleArea(std::optional<ScreenArea> area) {
  s_screenArea = area;
}

void runPanel(PanelRequest request) {
  if (WindowSystem* system = windowSystem()) system->runPanel(std::move(request));
}

const std::vector<PanelRequest>& pendingPanels() {
  return s_panels;
}

bool answerPanel(bool confirmed, const std::string& path) {
  if (s_panels.empty()) return false;
  PanelRequest request = std::move(s_panels.front());
  s_panels.erase(s_panels.begin());
  if (request.completion) request.completion(confirmed, confirmed ? path : std::string());
  return true;
}

void openFolderInFileBrowser(const std::string& path) {
  if (WindowSystem* system = windowSystem()) system->openFolder(path);
}

const std::vector<std::string>& openedFolders() {
  return s_openedFolders;
}

void resetDesktop() {
  s_screenArea.reset();
  s_panels.clear();
  s_openedFolders.clear();
}

}  // namespace platform

namespace tavrin {

bool mainScreenWorkArea(double& width, double& height) {
  const auto area = platform::mainScreenVisibleArea();
  if (!area) return false;
  width = area->width;
  height = area->height;
  return width > 0.0 && height > 0.0;
}

}  // namespace tavrin
