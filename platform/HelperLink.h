// The module's end of the link to one editor helper process: the helper, its socket, and a thread that
// writes what the main thread queued and reads what the helper sends. What arrives is handed to the main
// thread through the main queue (which asks the host for a main-thread call); the main thread never waits
// for the helper longer than the bounded waits it asks for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/EditorFrames.h"
#include "platform/HelperProcess.h"

namespace platform {

class HelperLink : public std::enable_shared_from_this<HelperLink> {
public:
  // Main thread: each frame body, in order, then once nullopt when the link has ended.
  using Receiver = std::function<void(const std::optional<std::string>& body)>;

  // Starts the helper program with a new link; null, with the reason, when it cannot be started.
  static std::shared_ptr<HelperLink> start(const std::string& program, std::string& reason);
  // Ends the link: the helper sees its socket close and ends (or is killed after a short grace).
  ~HelperLink();
  HelperLink(const HelperLink&) = delete;
  HelperLink& operator=(const HelperLink&) = delete;

  // What arrives while the link has no receiver waits for the next one.
  void setReceiver(Receiver receiver);
  // Queues a frame (frames::FrameWriter::finish) for the helper; an empty frame is dropped.
  void send(std::string frame);
  // Main thread: hands over what arrived until done() answers true or timeout passes; answers done().
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  bool ended() const { return endSeen; }
  // Main thread: the helper stopped answering, so the link's end kills it at once instead of giving it
  // time to end by itself.
  void helperStalled() { endGrace = std::chrono::milliseconds(0); }
  // Once ended: what ended the link, as said of the helper ("exited with status 1", "sent a frame over
  // the limit").
  std::string whyEnded();
  pid_t helperId() const { return helper.id(); }

private:
  // How long a closed link's helper may take to end by itself before it is killed.
  static constexpr std::chrono::milliseconds kEndGrace{120};

  HelperLink() = default;
  void run();
  // I/O thread: what ended the link, empty while it lasts.
  std::string readSome(frames::FrameReader& reader);
  std::string awaitHelperEnd();
  // I/O thread: false when the helper's end no longer takes bytes.
  bool writeSome();
  void arrive(std::optional<std::string> body);
  void deliverSoon();
  // Main thread: hands what arrived to the receiver.
  void deliver();

  HelperProcess helper;
  int socketFd = -1;
  int wakeFd = -1;  // an eventfd that wakes the I/O thread for output or shutdown
  std::thread io;
  Receiver onReceive;
  bool endSeen = false;                            // main thread: the receiver was told the link ended
  std::chrono::milliseconds endGrace = kEndGrace;  // main thread

  std::mutex lock;
  std::condition_variable arrived;
  std::string outbox;  // guarded: bytes not yet written
  size_t outboxSent = 0;
  bool stopping = false;
  std::deque<std::optional<std::string>> inbox;  // guarded
  std::string endReason;                         // guarded
};

}  // namespace platform
