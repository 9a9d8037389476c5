#include "platform/Desktop.h"

#include <utility>

namespace platform {

namespace {

std::optional<ScreenArea> s_screenArea;
std::vector<PanelRequest> s_panels;
std::vector<std::string> s_openedFolders;

}  // namespace

std::optional<ScreenArea> mainScreenVisibleArea() {
  return s_screenArea;
}

void setMainScreenVisibleArea(std::optional<ScreenArea> area) {
  s_screenArea = area;
}

void runPanel(PanelRequest request) {
  s_panels.push_back(std::move(request));
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
  s_openedFolders.push_back(path);
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
