// The editor's helper program: one web view in a GTK window reparented into the host's X11 window,
// driven by the plug-in module's frames on the socket it inherited, reporting back what the page does.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/EditorFrames.h"
#include "platform/PlatformView.h"
#include "platform/WebView.h"

namespace platform {

class EditorHelper : public NavigationDelegate {
public:
  explicit EditorHelper(int socketFd);
  ~EditorHelper() override;
  EditorHelper(const EditorHelper&) = delete;
  EditorHelper& operator=(const EditorHelper&) = delete;

  // Takes what arrived on the socket; false once the link has ended (closed, or a frame over the limit).
  bool readSome();
  // Sends a frame, from any thread; a failed send ends the link.
  void send(const std::string& frame);
  bool linked() const { return !broken; }

  void didFinishNavigation(WebView& webView) override;
  void didFailNavigation(WebView& webView) override;
  void webContentProcessDidTerminate(WebView& webView) override;

private:
  class Forwarder;

  void handle(std::string_view body);
  void create(frames::FieldReader& fields);
  void place(frames::FieldReader& fields);
  void evaluate(frames::FieldReader& fields);
  // The scripts that want no answer and arrived together run as one: the page then lays itself out and
  // draws once for them all (the sync after a page load sends some 130), not once for each.
  void runGatheredScripts();
  void runPanel(frames::FieldReader& fields);

  const int socketFd;
  std::mutex sending;
  std::atomic<bool> broken = false;
  frames::FrameReader reader;
  std::string gatheredScripts;
  std::string document;  // the page's HTML, which the web view refers to
  std::shared_ptr<View> hostView = std::make_shared<View>();
  std::shared_ptr<WebView> webView;
};

}  // namespace platform
