#include "platform/RemoteWindowSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "platform/EditorFrames.h"
#include "platform/HelperLink.h"
#include "platform/PlatformLog.h"
#include "platform/PlatformPaths.h"
#include "platform/RemoteWebViewPeer.h"

namespace platform {

namespace {

using frames::FieldReader;
using frames::FrameWriter;
using frames::Kind;

// The longest the host's main thread waits for a helper: for its start, and for an answer.
constexpr auto kStartWait = std::chrono::milliseconds(150);
constexpr auto kAnswerWait = std::chrono::milliseconds(150);

class RemoteWindowSystem : public WindowSystem {
public:
  const char* windowApi() const override { return "x11"; }

  bool start(std::string& whyNot) override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == 0) {
      whyNot = "DISPLAY is not set: there is no X11 display to show the editor on";
      return false;
    }
    if (spare && spare->link->ended()) spare.reset();
    if (!spare) {
      auto link = launch(whyNot);
      if (!link) return false;
      spare = std::make_unique<Spare>();
      spare->link = std::move(link);
    }
    // The first helper of the process is given a moment to tell the screen's size, which the default
    // size follows; a helper that fails later tells its web view, which says why in the log.
    Spare& waiting = *spare;
    if (!area) awaitSpare([&] { return waiting.ready || !waiting.failure.empty(); }, kStartWait);
    if (waiting.failure.empty() && !waiting.link->ended()) return true;
    whyNot = waiting.failure.empty() ? "the editor's helper " + waiting.link->whyEnded() + " as it started"
                                     : waiting.failure;
    spare.reset();
    return false;
  }

  void stop() override { spare.reset(); }

  bool windowExists(uint64_t window) override {
    if (window == 0) return false;
    // A helper still starting cannot answer in time: its web view reports a missing window itself.
    if (!spare) return true;
    Spare& asked = *spare;
    awaitSpare([&] { return asked.ready; }, std::chrono::milliseconds(0));
    if (!asked.ready || asked.link->ended()) return true;
    const uint32_t id = ++lastQuery;
    asked.link->send(FrameWriter(Kind::checkWindow).u32(id).u64(window).finish());
    awaitSpare([&] { return asked.windows.contains(id); }, kAnswerWait);
    const auto found = asked.windows.find(id);
    return found == asked.windows.end() || found->second;
  }

  std::unique_ptr<WebViewPeer> makeWebView(WebView& owner) override {
    std::shared_ptr<HelperLink> link;
    std::string failure;  // what the helper said while the host asked whether its window exists
    if (spare) {
      failure = std::move(spare->failure);
      if (!spare->link->ended()) link = std::move(spare->link);
    }
    spare.reset();
    if (!link && failure.empty()) {
      std::string whyNot;
      link = launch(whyNot);
      if (!link) log("tavrin: the editor's helper cannot be started: " + whyNot);
    }
    RemoteWebViewPeer::Hooks hooks;
    hooks.launch = [](std::string& reason) { return launch(reason); };
    hooks.status = [this](std::string_view body) { noteStatus(body, nullptr); };
    hooks.log = [](const std::string& line) { log(line); };
    hooks.active = [this](RemoteWebViewPeer& peer) { lastActive = &peer; };
    hooks.gone = [this](RemoteWebViewPeer& peer) {
      std::erase(livePeers, &peer);
      if (lastActive == &peer) lastActive = nullptr;
    };
    auto peer = std::make_unique<RemoteWebViewPeer>(owner, std::move(link), std::move(hooks), failure);
    livePeers.push_back(peer.get());
    return peer;
  }

  std::optional<ScreenArea> workArea() override { return area; }

  void runPanel(PanelRequest request) override {
    if (RemoteWebViewPeer* peer = activePeer()) {
      peer->runPanel(std::move(request));
    } else if (request.completion) {
      request.completion(false, std::string());
    }
  }

  void openFolder(const std::string& path) override {
    if (RemoteWebViewPeer* peer = activePeer()) peer->openFolder(path);
  }

private:
  // A helper started for an editor that has no web view yet.
  struct Spare {
    std::shared_ptr<HelperLink> link;
    bool ready = false;
    std::string failure;
    std::map<uint32_t, bool> windows;  // answers to window checks by query id
  };

  // Takes what the spare helper says until done() or the timeout; what it says later waits for its web
  // view.
  void awaitSpare(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    Spare& waiting = *spare;
    waiting.link->setReceiver([this, &waiting](const std::optional<std::string>& body) {
      if (body) noteStatus(*body, &waiting);
    });
    waiting.link->waitUntil(done, timeout);
    waiting.link->setReceiver(nullptr);
  }

  static std::shared_ptr<HelperLink> launch(std::string& whyNot) {
    const auto program = moduleEditorHelper();
    if (!program) {
      whyNot = "the module's own file cannot be located";
      return nullptr;
    }
    return HelperLink::start(*program, whyNot);
  }

  // The page that spoke last asked for the panel.
  RemoteWebViewPeer* activePeer() const {
    if (lastActive != nullptr) return lastActive;
    return livePeers.empty() ? nullptr : livePeers.back();
  }

  void noteStatus(std::string_view body, Spare* waiting) {
    FieldReader fields(body);
    const Kind kind = fields.kind().value_or(Kind{});
    if (kind == Kind::ready) {
      const bool hasArea = fields.u8() != 0;
      const double width = fields.f64();
      const double height = fields.f64();
      if (!fields.ok()) return;
      if (hasArea) area = ScreenArea{width, height};
      if (waiting != nullptr) waiting->ready = true;
    } else if (kind == Kind::failed && waiting != nullptr) {
      // A helper being started reports through the editor's creation.
      std::string reason = fields.text();
      if (fields.ok()) waiting->failure = std::move(reason);
    } else if (kind == Kind::log) {
      const std::string line = fields.text();
      if (fields.ok()) log(line);
    } else if (kind == Kind::windowState && waiting != nullptr) {
      const uint32_t id = fields.u32();
      const bool exists = fields.u8() != 0;
      if (fields.ok()) waiting->windows[id] = exists;
    }
  }

  std::unique_ptr<Spare> spare;
  std::optional<ScreenArea> area;
  uint32_t lastQuery = 0;
  std::vector<RemoteWebViewPeer*> livePeers;
  RemoteWebViewPeer* lastActive = nullptr;
};

}  // namespace

WindowSystem& remoteWindowSystem() {
  static RemoteWindowSystem s_system;
  return s_system;
}

}  // namespace platform
