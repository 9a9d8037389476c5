#include "platform/RemoteWebViewPeer.h"

#include <cmath>

#include "platform/EditorFrames.h"

namespace platform {

namespace {

using frames::FieldReader;
using frames::FrameWriter;
using frames::Kind;

// A page that leaves a script unanswered this long has a helper that stopped answering.
constexpr uint64_t kAnswerTimeoutNs = 10'000'000'000;
// How often the answers are looked at.
constexpr uint64_t kAnswerWatchNs = 2'000'000'000;
constexpr uint64_t kNsPerMs = 1'000'000;

int32_t pixels(double points) {
  return static_cast<int32_t>(std::lround(points));
}

FrameWriter& rectangle(FrameWriter& frame, Rect area) {
  return frame.u32(static_cast<uint32_t>(pixels(area.x)))
      .u32(static_cast<uint32_t>(pixels(area.y)))
      .u32(static_cast<uint32_t>(pixels(area.width)))
      .u32(static_cast<uint32_t>(pixels(area.height)));
}

}  // namespace

RemoteWebViewPeer::RemoteWebViewPeer(WebView& webView, std::shared_ptr<HelperLink> helperLink, Hooks calls,
                                     const std::string& failure)
    : owner(webView),
      hooks(std::move(calls)),
      handlerNames(webView.configuration().userContentController->handlerNames()),
      frame(webView.frame()) {
  answerWatch = mainQueue().makeTimer(kAnswerWatchNs, kAnswerWatchNs / 4, [this] { watchAnswers(); });
  answerWatch->resume(kAnswerWatchNs);
  if (!failure.empty()) {
    giveUp(failure);
    return;
  }
  attach(std::move(helperLink));
  if (!link) lose("the editor's helper could not be started");
}

RemoteWebViewPeer::~RemoteWebViewPeer() {
  if (hooks.gone) hooks.gone(*this);
  if (restartTimer) restartTimer->cancel();
  answerWatch->cancel();
  if (link) link->setReceiver(nullptr);
}

void RemoteWebViewPeer::attach(std::shared_ptr<HelperLink> newLink) {
  link = std::move(newLink);
  if (!link || link->ended()) {
    link.reset();
    return;
  }
  pageLoaded = false;
  link->setReceiver([this](const std::optional<std::string>& body) { receive(body); });
  sendState();
}

void RemoteWebViewPeer::sendState() {
  FrameWriter create(Kind::create);
  create.u32(static_cast<uint32_t>(handlerNames.size()));
  for (const std::string& name : handlerNames) create.text(name);
  link->send(rectangle(create, frame).finish());
  link->send(FrameWriter(Kind::zoom).f64(zoom).finish());
  link->send(FrameWriter(Kind::hide).u8(hidden).finish());
  if (parent != 0) place(parent, frame);
}

void RemoteWebViewPeer::loadHTML(const char* html, size_t size, const std::string& baseUrl) {
  if (link) link->send(FrameWriter(Kind::load).text({html, size}).text(baseUrl).finish());
}

void RemoteWebViewPeer::evaluate(const std::string& script, ScriptCompletion completion) {
  if (!link) {
    if (completion) completion("the editor's helper is not running");
    return;
  }
  const uint32_t id = completion ? ++lastId : 0;
  if (completion) scripts[id] = {std::move(completion), monotonicNanoseconds()};
  link->send(FrameWriter(Kind::evaluate).u32(id).text(script).finish());
}

void RemoteWebViewPeer::watchAnswers() {
  if (stalled()) {
    link->helperStalled();
    lose("the editor's helper stopped answering");
  } else if (link && pageLoaded && scripts.empty()) {
    evaluate("0", [](const std::optional<std::string>&) {});
  }
}

bool RemoteWebViewPeer::stalled() const {
  return link && !scripts.empty() &&
         monotonicNanoseconds() - scripts.begin()->second.sentNs > kAnswerTimeoutNs;
}

void RemoteWebViewPeer::place(uint64_t parentWindow, Rect area) {
  parent = parentWindow;
  frame = area;
  if (!link) return;
  FrameWriter placing(Kind::place);
  link->send(rectangle(placing.u64(parentWindow), area).finish());
}

void RemoteWebViewPeer::setHidden(bool hide) {
  hidden = hide;
  if (link) link->send(FrameWriter(Kind::hide).u8(hide).finish());
}

void RemoteWebViewPeer::setZoom(double pageZoom) {
  zoom = pageZoom;
  if (link) link->send(FrameWriter(Kind::zoom).f64(pageZoom).finish());
}

void RemoteWebViewPeer::setKeyboardFocus(bool focused) {
  if (link) link->send(FrameWriter(Kind::focus).u8(focused).finish());
}

void RemoteWebViewPeer::runPanel(PanelRequest request) {
  if (!link) {
    if (request.completion) request.completion(false, std::string());
    return;
  }
  const uint32_t id = ++lastId;
  panels[id] = std::move(request.completion);
  link->send(FrameWriter(Kind::panel)
                 .u32(id)
                 .u8(request.kind == PanelRequest::Kind::save)
                 .u64(parent)
                 .text(request.folder)
                 .text(request.suggestedName)
                 .text(request.allowedExtension)
                 .finish());
}

void RemoteWebViewPeer::openFolder(const std::string& path) {
  if (link) link->send(FrameWriter(Kind::openFolder).text(path).finish());
}

void RemoteWebViewPeer::receive(const std::optional<std::string>& body) {
  if (body) {
    handle(*body);
    return;
  }
  const std::string reason = "the editor's helper " + link->whyEnded();
  // One that ends before it showed the page would meet the same end again (an address space too small
  // for WebKit, a broken installation).
  if (!pageLoaded) giveUp(reason + " before it showed the page");
  lose(reason);
}

void RemoteWebViewPeer::handle(std::string_view body) {
  FieldReader fields(body);
  switch (fields.kind().value_or(Kind{})) {
    case Kind::message: {
      const std::string name = fields.text();
      const std::string json = fields.text();
      if (!fields.ok()) break;
      if (hooks.active) hooks.active(*this);
      owner.postMessage(name, json);
      break;
    }
    case Kind::loaded:
      pageLoaded = true;
      owner.finishNavigation();
      break;
    case Kind::loadFailed:
      owner.failNavigation();
      break;
    case Kind::processEnded:
      owner.terminateContentProcess();
      break;
    case Kind::evaluated: {
      const uint32_t id = fields.u32();
      const bool failed = fields.u8() != 0;
      const std::string text = fields.text();
      const auto found = scripts.find(id);
      if (!fields.ok() || found == scripts.end()) break;
      const ScriptCompletion completion = std::move(found->second.completion);
      scripts.erase(found);
      completion(failed ? std::optional<std::string>(text) : std::nullopt);
      break;
    }
    case Kind::panelDone: {
      const uint32_t id = fields.u32();
      const bool confirmed = fields.u8() != 0;
      const std::string path = fields.text();
      const auto found = panels.find(id);
      if (!fields.ok() || found == panels.end()) break;
      const auto completion = std::move(found->second);
      panels.erase(found);
      if (completion) completion(confirmed && !path.empty(), confirmed ? path : std::string());
      break;
    }
    case Kind::parentGone:
      giveUp("the host's window " + std::to_string(parent) + " is gone or does not exist");
      break;
    case Kind::failed: {
      const std::string reason = fields.text();
      if (fields.ok()) giveUp(reason);
      break;
    }
    default:
      if (hooks.status) hooks.status(body);
  }
}

void RemoteWebViewPeer::lose(const std::string& reason) {
  if (link) link->setReceiver(nullptr);
  link.reset();
  // What waited is answered as failed: a batch in flight must not block the push for good.
  auto waitingScripts = std::move(scripts);
  auto waitingPanels = std::move(panels);
  scripts.clear();
  panels.clear();
  for (auto& entry : waitingScripts) entry.second.completion(reason);
  for (auto& entry : waitingPanels)
    if (entry.second) entry.second(false, std::string());
  if (givenUp || restartTimer) return;
  const uint64_t waitMs = backoff.afterDeath(monotonicNanoseconds() / kNsPerMs);
  hooks.log("tavrin: " + reason + "; the editor starts again in " + std::to_string(waitMs) + " ms");
  restartTimer = mainQueue().makeTimer(kNsPerMs, 0, [this] {
    restartTimer->cancel();
    restartTimer.reset();
    restart();
  });
  restartTimer->resume(waitMs * kNsPerMs);
}

void RemoteWebViewPeer::giveUp(const std::string& reason) {
  // The helper ends after this, and a new one would meet the same end: the editor comes back when the
  // host opens it again.
  if (givenUp) return;
  givenUp = true;
  hooks.log("tavrin: " + reason + ": the editor shows nothing until it is opened again");
}

void RemoteWebViewPeer::restart() {
  std::string whyNot;
  attach(hooks.launch(whyNot));
  if (!link) {
    lose("the editor's helper could not be started again (" + whyNot + ")");
    return;
  }
  // A new helper has a new page: the document is loaded again as after a content process's death.
  owner.terminateContentProcess();
}

}  // namespace platform
