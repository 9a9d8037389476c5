#include "platform/HelperLink.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/DispatchQueue.h"
#include "platform/EditorFrames.h"

namespace platform {

namespace {

constexpr size_t kReadBytes = 1u << 16;
// A helper that leaves this much unread has stopped answering.
constexpr size_t kLongestOutbox = 64u << 20;
// How long a helper that closed its socket is given to end, so that the log can say how it ended.
constexpr auto kExitWait = std::chrono::milliseconds(500);
constexpr int kExitPollMs = 5;

}  // namespace

std::shared_ptr<HelperLink> HelperLink::start(const std::string& program, std::string& reason) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    reason = std::string("no socket pair: ") + std::strerror(errno);
    return nullptr;
  }
  std::shared_ptr<HelperLink> link(new HelperLink());
  link->socketFd = pair[0];
  const bool spawned = link->helper.spawn(program, pair[1], reason);
  close(pair[1]);
  if (!spawned) return nullptr;
  fcntl(link->socketFd, F_SETFL, fcntl(link->socketFd, F_GETFL) | O_NONBLOCK);
  link->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (link->wakeFd < 0) {
    reason = std::string("no event descriptor: ") + std::strerror(errno);
    return nullptr;
  }
  link->io = std::thread([raw = link.get()] { raw->run(); });
  return link;
}

HelperLink::~HelperLink() {
  if (io.joinable()) {
    {
      std::lock_guard<std::mutex> guard(lock);
      stopping = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto woke = write(wakeFd, &one, sizeof one);
    io.join();
  }
  if (socketFd >= 0) close(socketFd);
  if (wakeFd >= 0) close(wakeFd);
  helper.end(endGrace);
}

void HelperLink::send(std::string frame) {
  if (frame.empty()) return;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (outbox.size() - outboxSent > kLongestOutbox) return;  // the I/O thread ends the link
    outbox += frame;
  }
  const uint64_t one = 1;
  [[maybe_unused]] const auto woke = write(wakeFd, &one, sizeof one);
}

void HelperLink::run() {
  frames::FrameReader reader;
  std::string why;
  bool helperReads = true;
  while (why.empty()) {
    bool wantsWrite = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (stopping) return;
      if (outbox.size() - outboxSent > kLongestOutbox) {
        why = "stopped reading";
        break;
      }
      wantsWrite = helperReads && outboxSent < outbox.size();
    }
    pollfd watched[2] = {{socketFd, static_cast<short>(POLLIN | (wantsWrite ? POLLOUT : 0)), 0},
                         {wakeFd, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno != EINTR) why = std::string("could not be watched: ") + std::strerror(errno);
      continue;
    }
    if (watched[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const auto taken = read(wakeFd, &count, sizeof count);
    }
    // A helper that closed its end may have said why before: that is read up to the end of the stream.
    if ((watched[0].revents & POLLOUT) && !writeSome()) helperReads = false;
    if (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) why = readSome(reader);
  }
  // The helper closed its end, sent what it must not, or stopped reading: the link has ended.
  shutdown(socketFd, SHUT_RDWR);
  {
    std::lock_guard<std::mutex> guard(lock);
    endReason = std::move(why);
  }
  arrive(std::nullopt);
}

std::string HelperLink::readSome(frames::FrameReader& reader) {
  char buffer[kReadBytes];
  const ssize_t got = recv(socketFd, buffer, sizeof buffer, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return {};
  if (got <= 0) return awaitHelperEnd();
  const bool fed = reader.feed(buffer, static_cast<size_t>(got));
  while (auto body = reader.next()) arrive(std::move(body));
  return fed && !reader.failed() ? std::string() : "sent a frame over the limit";
}

std::string HelperLink::awaitHelperEnd() {
  // A helper's socket closes as it ends: it is reaped within moments, unless the link is being dropped.
  const auto deadline = std::chrono::steady_clock::now() + kExitWait;
  while (!helper.ended() && std::chrono::steady_clock::now() < deadline) {
    pollfd wake{wakeFd, POLLIN, 0};
    if (poll(&wake, 1, kExitPollMs) > 0) {
      uint64_t count = 0;
      [[maybe_unused]] const auto taken = read(wakeFd, &count, sizeof count);
      std::lock_guard<std::mutex> guard(lock);
      if (stopping) break;
    }
  }
  return helper.ended() ? helper.howItEnded() : "closed its link";
}

bool HelperLink::writeSome() {
  std::lock_guard<std::mutex> guard(lock);
  while (outboxSent < outbox.size()) {
    const ssize_t put =
        ::send(socketFd, outbox.data() + outboxSent, outbox.size() - outboxSent, MSG_NOSIGNAL);
    if (put < 0) return errno == EAGAIN || errno == EINTR;
    outboxSent += static_cast<size_t>(put);
  }
  outbox.clear();
  outboxSent = 0;
  return true;
}

void HelperLink::arrive(std::optional<std::string> body) {
  {
    std::lock_guard<std::mutex> guard(lock);
    inbox.push_back(std::move(body));
  }
  arrived.notify_all();
  deliverSoon();
}

void HelperLink::deliverSoon() {
  mainQueue().async([weak = weak_from_this()] {
    if (const auto link = weak.lock()) link->deliver();
  });
}

void HelperLink::setReceiver(Receiver receiver) {
  onReceive = std::move(receiver);
  if (onReceive) deliverSoon();
}

void HelperLink::deliver() {
  // The receiver may drop the last other reference to this link.
  const auto keep = shared_from_this();
  for (;;) {
    std::optional<std::string> body;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (inbox.empty() || endSeen || !onReceive) return;
      body = std::move(inbox.front());
      inbox.pop_front();
    }
    endSeen = !body.has_value();
    onReceive(body);
  }
}

std::string HelperLink::whyEnded() {
  std::lock_guard<std::mutex> guard(lock);
  return endReason;
}

bool HelperLink::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto keep = shared_from_this();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    deliver();
    if (done()) return true;
    if (endSeen) return false;
    std::unique_lock<std::mutex> guard(lock);
    if (inbox.empty() && arrived.wait_until(guard, deadline) == std::cv_status::timeout) return done();
  }
}

}  // namespace platform
