// The CLAP gui extension of CLAPPlugin: creation with a default size from the screen, parenting, the
// size protocol at a fixed 840:480 aspect, and destruction.
#include <cmath>
#include <cstring>

#include "platform/Desktop.h"
#include "plugin/CLAPPlugin.h"

namespace {

constexpr const char* kGuiApi = CLAP_WINDOW_API_COCOA;
constexpr uint32_t kBaseWidth = 840;
constexpr uint32_t kBaseHeight = 480;
constexpr double kAspect = 1.75;       // 840 / 480
constexpr double kScreenShare = 0.75;  // the default editor takes at most this part of the screen
constexpr int kSizeSteps = 6;          // scales 1.0, 1.2, ... 2.0
constexpr double kStepTolerance = 1e-9;

}  // namespace

bool CLAPPlugin::guiIsApiSupported(const char* api, bool isFloating) {
  return !isFloating && api != nullptr && std::strcmp(api, kGuiApi) == 0;
}

bool CLAPPlugin::guiCreate(const char* api, bool isFloating) {
  // Only the API the build supports: a window record of another API would be read as the wrong kind.
  if (!guiIsApiSupported(api, isFloating)) return false;
  editor = std::make_unique<PluginEditor>();

  // A size restored from the state or set by the host stays; the first opening follows the screen.
  double areaWidth = 0.0;
  double areaHeight = 0.0;
  if (editorWidth.load(std::memory_order_relaxed) == kBaseWidth &&
      editorHeight.load(std::memory_order_relaxed) == kBaseHeight &&
      tavrin::mainScreenWorkArea(areaWidth, areaHeight)) {
    const double fit =
        std::min(areaWidth * kScreenShare / kBaseWidth, areaHeight * kScreenShare / kBaseHeight);
    double scale = 1.0;
    for (int k = 0; k < kSizeSteps; ++k) {
      const double step = (k + 5) / 5.0;
      if (fit + kStepTolerance < step) break;
      scale = step;
    }
    editorWidth.store(static_cast<uint32_t>(scale * kBaseWidth + 0.5), std::memory_order_relaxed);
    editorHeight.store(static_cast<uint32_t>(scale * kBaseHeight + 0.5), std::memory_order_relaxed);
  }

  editor->setGuiPollData(&guiPoll);
  editor->setControllerMapSource([this] { return controllerMapView(); });
  fillEditorCallbacks(*editor);
  engine.setEditorAttached(true);
  return true;
}

ControllerMapView CLAPPlugin::controllerMapView() const {
  ControllerMapView view;
  for (size_t cc = 0; cc < kNumControllers; ++cc) view.params[cc] = ccMap[cc].load(std::memory_order_relaxed);
  const int32_t param = ccLearnParam.load(std::memory_order_relaxed);
  const bool waiting =
      ccLearnArmed.load(std::memory_order_relaxed) && param >= 0 && static_cast<uint32_t>(param) < kNumParams;
  view.learning = waiting ? param : -1;
  return view;
}

void CLAPPlugin::guiDestroy() {
  engine.setEditorAttached(false);
  editor.reset();
}

bool CLAPPlugin::guiSetParent(const clap_window* window) {
  if (!editor || window == nullptr || !guiIsApiSupported(window->api, false)) return false;
  editor->createPlatformView(window->cocoa);
  return true;
}

bool CLAPPlugin::guiGetSize(uint32_t* width, uint32_t* height) {
  *width = editorWidth.load(std::memory_order_relaxed);
  *height = editorHeight.load(std::memory_order_relaxed);
  return true;
}

bool CLAPPlugin::guiSetSize(uint32_t width, uint32_t height) {
  editorWidth.store(width, std::memory_order_relaxed);
  editorHeight.store(height, std::memory_order_relaxed);
  if (editor) editor->resizePlatformView(static_cast<int>(width), static_cast<int>(height));
  return true;
}

bool CLAPPlugin::guiGetResizeHints(clap_gui_resize_hints* hints) {
  hints->can_resize_horizontally = true;
  hints->can_resize_vertically = true;
  hints->preserve_aspect_ratio = true;
  hints->aspect_ratio_width = kBaseWidth;
  hints->aspect_ratio_height = kBaseHeight;
  return true;
}

bool CLAPPlugin::guiAdjustSize(uint32_t* width, uint32_t* height) {
  // The width stays as the host proposed it; the height follows unless it is within one point already.
  const double fitting = std::round(*width / kAspect);
  const int64_t difference = static_cast<int64_t>(*height) - static_cast<int64_t>(fitting);
  if (difference < -1 || difference > 1) *height = static_cast<uint32_t>(fitting);
  return true;
}
