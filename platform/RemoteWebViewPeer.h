// A web view shown by an editor helper process: what the web view is asked goes to the helper as frames,
// what the helper reports comes back to the web view on the main thread. A helper that dies is started
// again with the restart back-off and given the view's state; the page then loads afresh.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/DispatchQueue.h"
#include "platform/HelperLink.h"
#include "platform/RestartBackoff.h"
#include "platform/WebView.h"

namespace platform {

class RemoteWebViewPeer : public WebViewPeer {
public:
  // Starts a helper for the link: null, with the reason, when none can be started.
  using Launcher = std::function<std::shared_ptr<HelperLink>(std::string& whyNot)>;
  // Reports a frame that no web view handles (a helper's status) and a line for the log.
  struct Hooks {
    Launcher launch;
    std::function<void(std::string_view body)> status;
    std::function<void(const std::string& line)> log;
    std::function<void(RemoteWebViewPeer& peer)> active;  // the page sent a message
    std::function<void(RemoteWebViewPeer& peer)> gone;    // the peer is being destroyed
  };

  // Shows the view through the helper of link (one still starting). A helper that has already said why
  // it cannot show the editor (failure) is not used: the view stays empty, and the log says why.
  RemoteWebViewPeer(WebView& owner, std::shared_ptr<HelperLink> link, Hooks hooks,
                    const std::string& failure);
  ~RemoteWebViewPeer() override;
  RemoteWebViewPeer(const RemoteWebViewPeer&) = delete;
  RemoteWebViewPeer& operator=(const RemoteWebViewPeer&) = delete;

  // Each request goes to the helper as it is made; the view's state is kept to be given to a new one.
  void place(uint64_t parentWindow, Rect frame) override;
  void loadHTML(const char* html, size_t size, const std::string& baseUrl) override;
  void setZoom(double zoom) override;
  void setKeyboardFocus(bool focused) override;
  void setHidden(bool hidden) override;
  void evaluate(const std::string& script, ScriptCompletion completion) override;

  // A file panel transient for the host's window, and the file browser, run by this view's helper.
  void runPanel(PanelRequest request);
  void openFolder(const std::string& path);

private:
  struct PendingScript {
    ScriptCompletion completion;
    uint64_t sentNs = 0;
  };

  void attach(std::shared_ptr<HelperLink> newLink);
  void sendState();
  void receive(const std::optional<std::string>& body);
  void handle(std::string_view body);
  // The helper is gone (or is dropped for reason): answers what waited and plans its restart.
  void lose(const std::string& reason);
  // The helper ends for good (it said why, or died before it showed the page): no restart.
  void giveUp(const std::string& reason);
  void restart();
  // A helper that leaves a script unanswered for long has stopped answering: it is replaced. An idle
  // page is asked something, so that a helper that stopped is found also when nothing is pushed.
  void watchAnswers();
  bool stalled() const;

  WebView& owner;
  Hooks hooks;
  std::shared_ptr<HelperLink> link;
  std::vector<std::string> handlerNames;
  uint64_t parent = 0;
  Rect frame;
  bool hidden = false;
  double zoom = 1.0;
  bool pageLoaded = false;  // the helper of the link has loaded the page
  bool givenUp = false;     // the editor cannot be shown until it is opened again: no restart
  uint32_t lastId = 0;
  std::map<uint32_t, PendingScript> scripts;
  std::map<uint32_t, std::function<void(bool, const std::string&)>> panels;
  RestartBackoff backoff;
  std::shared_ptr<DispatchTimer> restartTimer;
  std::shared_ptr<DispatchTimer> answerWatch;
};

}  // namespace platform
