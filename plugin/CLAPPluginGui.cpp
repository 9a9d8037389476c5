// The CLAP gui extension of CLAPPlugin: creation with a default size from the screen, parenting in the
// host's window of the installed window system's API, the size protocol at a fixed 840:480 aspect, the
// scale of the host's screen, and destruction. While an editor exists the main queue (what the window
// system reports, the push timer) runs in the host's main-thread callbacks, which the plug-in asks for
// itself: no host extension is needed.
#include <cmath>
#include <cstring>

#include "platform/DispatchQueue.h"
#include "platform/MainThreadWake.h"
#include "platform/WindowSystem.h"
#include "plugin/CLAPPlugin.h"

namespace {

constexpr uint32_t kBaseWidth = 840;
constexpr uint32_t kBaseHeight = 480;
constexpr double kAspect = 1.75;       // 840 / 480
constexpr double kScreenShare = 0.75;  // the default editor takes at most this part of the screen
constexpr int kSizeSteps = 6;          // scales 1.0, 1.2, ... 2.0
constexpr double kStepTolerance = 1e-9;
constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 4.0;

}  // namespace

bool CLAPPlugin::guiIsApiSupported(const char* api, bool isFloating) {
  platform::WindowSystem* system = platform::windowSystem();
  return !isFloating && api != nullptr && system != nullptr && std::strcmp(api, system->windowApi()) == 0;
}

bool CLAPPlugin::guiCreate(const char* api, bool isFloating) {
  // Only the API the build supports: a window record of another API would be read as the wrong kind.
  if (!guiIsApiSupported(api, isFloating)) return false;
  platform::WindowSystem& system = *platform::windowSystem();
  mainThreadWake = std::make_unique<platform::MainThreadWake>([this] { _hostProxy.requestCallback(); });
  std::string whyNot;
  if (!system.start(whyNot)) {
    mainThreadWake.reset();
    log(CLAP_LOG_ERROR, "tavrin: no editor: " + whyNot);
    return false;
  }
  editor = std::make_unique<PluginEditor>();

  // A size restored from the state or set by the host stays; the first opening follows the screen.
  editorScale = 1.0;
  sizeFollowsScreen = editorWidth.load(std::memory_order_relaxed) == kBaseWidth &&
                      editorHeight.load(std::memory_order_relaxed) == kBaseHeight;
  if (sizeFollowsScreen) applyDefaultEditorSize();

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

void CLAPPlugin::applyDefaultEditorSize() {
  const double base = editorScale;
  double scale = 1.0;
  double areaWidth = 0.0;
  double areaHeight = 0.0;
  if (tavrin::mainScreenWorkArea(areaWidth, areaHeight)) {
    const double fit = std::min(areaWidth * kScreenShare / (kBaseWidth * base),
                                areaHeight * kScreenShare / (kBaseHeight * base));
    for (int k = 0; k < kSizeSteps; ++k) {
      const double step = (k + 5) / 5.0;
      if (fit + kStepTolerance < step) break;
      scale = step;
    }
  }
  editorWidth.store(static_cast<uint32_t>(scale * base * kBaseWidth + 0.5), std::memory_order_relaxed);
  editorHeight.store(static_cast<uint32_t>(scale * base * kBaseHeight + 0.5), std::memory_order_relaxed);
}

void CLAPPlugin::guiDestroy() {
  engine.setEditorAttached(false);
  editor.reset();
  hostWindow.reset();
  if (platform::WindowSystem* system = platform::windowSystem()) system->stop();
  mainThreadWake.reset();
}

void CLAPPlugin::runEditorQueue() {
  if (!mainThreadWake) return;
  platform::mainQueue().runPending();
  platform::mainQueue().fireTimers(platform::monotonicNanoseconds());
}

bool CLAPPlugin::guiSetParent(const clap_window* window) {
  if (!editor || window == nullptr || !guiIsApiSupported(window->api, false)) return false;
  if (editor->webView() != nullptr) return true;  // the view stays in the window it has
  void* parent = window->cocoa;
  if (std::strcmp(window->api, CLAP_WINDOW_API_X11) == 0) {
    if (!platform::windowSystem()->windowExists(window->x11)) {
      log(CLAP_LOG_ERROR,
          "tavrin: the host's window " + std::to_string(window->x11) + " does not exist: no editor");
      return false;
    }
    hostWindow = std::make_shared<platform::View>(
        platform::Rect{0.0, 0.0, static_cast<double>(editorWidth.load(std::memory_order_relaxed)),
                       static_cast<double>(editorHeight.load(std::memory_order_relaxed))});
    hostWindow->nativeWindow = window->x11;
    parent = hostWindow.get();
  }
  editor->createPlatformView(parent);
  return true;
}

bool CLAPPlugin::guiSetScale(double scale) {
  if (!std::isfinite(scale) || scale < kMinScale || scale > kMaxScale) return false;
  editorScale = scale;
  if (sizeFollowsScreen) applyDefaultEditorSize();
  if (editor) editor->setPageZoom(scale);
  return true;
}

bool CLAPPlugin::guiShow() {
  if (editor) editor->setPlatformViewHidden(false);
  return true;
}

bool CLAPPlugin::guiHide() {
  if (editor) editor->setPlatformViewHidden(true);
  return true;
}

bool CLAPPlugin::guiGetSize(uint32_t* width, uint32_t* height) {
  *width = editorWidth.load(std::memory_order_relaxed);
  *height = editorHeight.load(std::memory_order_relaxed);
  return true;
}

bool CLAPPlugin::guiSetSize(uint32_t width, uint32_t height) {
  sizeFollowsScreen = false;
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
