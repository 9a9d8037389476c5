#include "platform/gtk/EditorHelper.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Desktop.h"
#include "platform/WindowSystem.h"
#include "platform/gtk/GtkWindowSystem.h"

namespace platform {

using frames::FieldReader;
using frames::FrameWriter;
using frames::Kind;

namespace {

constexpr size_t kReadBytes = 1u << 16;

Rect readRect(FieldReader& fields) {
  const auto x = static_cast<int32_t>(fields.u32());
  const auto y = static_cast<int32_t>(fields.u32());
  const auto width = static_cast<int32_t>(fields.u32());
  const auto height = static_cast<int32_t>(fields.u32());
  return {static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
          static_cast<double>(height)};
}

}  // namespace

// The page's messages to a named handler, sent on to the module.
class EditorHelper::Forwarder : public ScriptMessageHandler {
public:
  explicit Forwarder(EditorHelper& owner) : helper(owner) {}
  void didReceiveScriptMessage(const ScriptMessage& message) override {
    helper.send(FrameWriter(Kind::message).text(message.name).text(message.bodyJson).finish());
  }

private:
  EditorHelper& helper;
};

EditorHelper::EditorHelper(int fd) : socketFd(fd) {}

EditorHelper::~EditorHelper() {
  if (webView) webView->setNavigationDelegate(nullptr);
  webView.reset();
  close(socketFd);
}

bool EditorHelper::readSome() {
  if (!linked()) return false;
  char buffer[kReadBytes];
  const ssize_t got = recv(socketFd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (got <= 0 || !reader.feed(buffer, static_cast<size_t>(got))) return false;
  while (linked()) {
    const auto body = reader.next();
    if (!body) break;
    handle(*body);
  }
  runGatheredScripts();
  return linked() && !reader.failed();
}

void EditorHelper::send(const std::string& frame) {
  // Log lines come from any thread: a frame goes out whole.
  std::lock_guard<std::mutex> guard(sending);
  size_t sent = 0;
  while (linked() && sent < frame.size()) {
    const ssize_t put = ::send(socketFd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      // The main loop sees the socket shut and ends.
      broken = true;
      shutdown(socketFd, SHUT_RDWR);
      return;
    }
    sent += static_cast<size_t>(put);
  }
}

void EditorHelper::handle(std::string_view body) {
  FieldReader fields(body);
  const Kind kind = fields.kind().value_or(Kind{});
  if (kind != Kind::evaluate) runGatheredScripts();
  switch (kind) {
    case Kind::create:
      create(fields);
      break;
    case Kind::load: {
      std::string html = fields.text();
      const std::string baseUrl = fields.text();
      if (!fields.ok() || !webView) break;
      document = std::move(html);
      webView->loadHTMLString(document.data(), document.size(), baseUrl);
      break;
    }
    case Kind::evaluate:
      evaluate(fields);
      break;
    case Kind::place:
      place(fields);
      break;
    case Kind::hide: {
      const bool hidden = fields.u8() != 0;
      if (fields.ok() && webView) webView->setHidden(hidden);
      break;
    }
    case Kind::zoom: {
      const double zoom = fields.f64();
      if (fields.ok() && webView && zoom > 0.0) webView->setPageZoom(zoom);
      break;
    }
    case Kind::focus: {
      const bool focused = fields.u8() != 0;
      if (fields.ok() && webView) webView->setKeyboardFocus(focused);
      break;
    }
    case Kind::checkWindow: {
      const uint32_t id = fields.u32();
      const uint64_t window = fields.u64();
      if (fields.ok())
        send(FrameWriter(Kind::windowState).u32(id).u8(windowSystem()->windowExists(window)).finish());
      break;
    }
    case Kind::panel:
      runPanel(fields);
      break;
    case Kind::openFolder: {
      const std::string path = fields.text();
      if (fields.ok()) openFolderInFileBrowser(path);
      break;
    }
    default:
      break;  // not a request of the module's: ignored
  }
}

void EditorHelper::create(FieldReader& fields) {
  const uint32_t count = fields.u32();
  WebViewConfiguration configuration;
  const auto forwarder = std::make_shared<Forwarder>(*this);
  for (uint32_t i = 0; i < count && fields.ok(); ++i) {
    const std::string name = fields.text();
    if (fields.ok()) configuration.userContentController->addScriptMessageHandler(forwarder, name);
  }
  const Rect frame = readRect(fields);
  if (!fields.ok() || webView) return;
  webView = std::make_shared<WebView>(frame, configuration);
  webView->setNavigationDelegate(this);
}

void EditorHelper::place(FieldReader& fields) {
  const uint64_t parent = fields.u64();
  const Rect frame = readRect(fields);
  if (!fields.ok() || !webView) return;
  if (parent != hostView->nativeWindow) {
    if (parent != 0 && !windowSystem()->windowExists(parent)) {
      hostWindowGone();
      return;
    }
    webView->removeFromSuperview();
    hostView->nativeWindow = parent;
    webView->setFrame(frame);
    if (parent != 0) hostView->addSubview(webView);
    return;
  }
  webView->setFrame(frame);
}

void EditorHelper::evaluate(FieldReader& fields) {
  const uint32_t id = fields.u32();
  const std::string script = fields.text();
  if (!fields.ok()) return;
  if (id == 0 && webView) {
    // Each in its own try, as if it ran alone: one that throws leaves the others running.
    gatheredScripts += "try{" + script + "\n}catch(e){}\n";
    return;
  }
  runGatheredScripts();
  ScriptCompletion completion;
  if (id != 0)
    completion = [this, id](const std::optional<std::string>& error) {
      send(FrameWriter(Kind::evaluated).u32(id).u8(error.has_value()).text(error.value_or("")).finish());
    };
  if (webView)
    webView->evaluateJavaScript(script, std::move(completion));
  else if (completion)
    completion("no web view");
}

void EditorHelper::runGatheredScripts() {
  if (gatheredScripts.empty()) return;
  webView->evaluateJavaScript(gatheredScripts, nullptr);
  gatheredScripts.clear();
}

void EditorHelper::runPanel(FieldReader& fields) {
  PanelRequest request;
  const uint32_t id = fields.u32();
  request.kind = fields.u8() != 0 ? PanelRequest::Kind::save : PanelRequest::Kind::open;
  request.transientFor = fields.u64();
  request.folder = fields.text();
  request.suggestedName = fields.text();
  request.allowedExtension = fields.text();
  if (!fields.ok()) return;
  request.completion = [this, id](bool confirmed, const std::string& path) {
    send(FrameWriter(Kind::panelDone).u32(id).u8(confirmed).text(path).finish());
  };
  platform::runPanel(std::move(request));
}

void EditorHelper::didFinishNavigation(WebView&) {
  send(FrameWriter(Kind::loaded).finish());
}

void EditorHelper::didFailNavigation(WebView&) {
  send(FrameWriter(Kind::loadFailed).finish());
}

void EditorHelper::webContentProcessDidTerminate(WebView&) {
  send(FrameWriter(Kind::processEnded).finish());
}

}  // namespace platform
