// Work queues of the editor: the main queue with its timers, and one background queue.
//
// The main queue holds blocks that must run on the main thread. Nothing runs them by itself: whoever owns
// the main thread drains it (the plug-in's main-thread callback in a host, the test itself in tests) with
// runPending and fireTimers. The background queue runs its blocks one after another on a worker thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

// Nanoseconds of the monotonic clock.
uint64_t monotonicNanoseconds();

// A repeating timer on the main queue: fires its handler every interval (nanoseconds) once resumed, the
// first time at the moment of resume or firstDelayNs after it; missed fires are folded into one. Cancel
// releases the handler.
class DispatchTimer {
public:
  DispatchTimer(uint64_t intervalNs, uint64_t leewayNs, std::function<void()> handler)
      : periodNs(intervalNs), slackNs(leewayNs), onFire(std::move(handler)) {}

  void resume(uint64_t firstDelayNs = 0);
  void cancel();

  uint64_t intervalNs() const { return periodNs; }
  uint64_t leewayNs() const { return slackNs; }
  bool running() const { return resumed && !isCancelled; }
  bool cancelled() const { return isCancelled; }

  // Fires the handler when the timer runs and its time has come at nowNs. True when it fired.
  bool fireIfDue(uint64_t nowNs);

private:
  uint64_t periodNs;
  uint64_t slackNs;
  std::function<void()> onFire;
  uint64_t nextFireNs = 0;
  bool resumed = false;
  bool isCancelled = false;
};

class MainQueue {
public:
  // Queues block to run on the main thread. Any thread.
  void async(std::function<void()> block);
  // Any thread: wake is called whenever a block is queued, so that whoever owns the main thread comes to
  // drain the queue, until removeWaker(the id answered) returns; no call begins after that.
  uint64_t addWaker(std::function<void()> wake);
  void removeWaker(uint64_t id);

  // Main thread: runs the blocks queued before this call, in order; returns how many ran.
  size_t runPending();
  // Waits until at least one block is queued or the timeout passes; true when one is queued.
  bool waitForBlock(std::chrono::milliseconds timeout);
  // Main thread: runs every block as it arrives until done() answers true or the timeout passes; true
  // when done() answered true.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Main thread: a new suspended timer on this queue.
  std::shared_ptr<DispatchTimer> makeTimer(uint64_t intervalNs, uint64_t leewayNs,
                                           std::function<void()> handler);
  // Main thread: fires every live timer that is due at nowNs; returns how many fired.
  size_t fireTimers(uint64_t nowNs);

  // Drops every queued block and forgets every timer (tests start from an empty queue).
  void clear();

private:
  std::mutex queueMutex;
  std::condition_variable blockQueued;
  std::deque<std::function<void()>> pendingBlocks;
  std::vector<std::weak_ptr<DispatchTimer>> liveTimers;  // main thread only
  // A waker may queue a block itself (a host that answers at once): the lock is taken again then.
  std::recursive_mutex wakersMutex;
  std::vector<std::pair<uint64_t, std::function<void()>>> wakers;
  uint64_t lastWakerId = 0;
};

// The process's main queue.
MainQueue& mainQueue();

// Runs work on the background queue's worker thread, after the work queued before it.
void backgroundAsync(std::function<void()> work);

}  // namespace platform
