#include "platform/DispatchQueue.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace platform {

namespace {

// One worker thread that runs its queue in order; joined when the process ends.
class BackgroundQueue {
public:
  BackgroundQueue() : worker([this] { run(); }) {}
  ~BackgroundQueue() {
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      stopping = true;
    }
    wake.notify_one();
    worker.join();
  }

  void async(std::function<void()> work) {
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      pendingWork.push_back(std::move(work));
    }
    wake.notify_one();
  }

private:
  void run() {
    for (;;) {
      std::function<void()> work;
      {
        std::unique_lock<std::mutex> lock(queueMutex);
        wake.wait(lock, [this] { return stopping || !pendingWork.empty(); });
        if (pendingWork.empty()) return;
        work = std::move(pendingWork.front());
        pendingWork.pop_front();
      }
      work();
    }
  }

  std::mutex queueMutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> pendingWork;
  bool stopping = false;
  std::thread worker;
};

}  // namespace

uint64_t monotonicNanoseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void DispatchTimer::resume(uint64_t firstDelayNs) {
  if (resumed || isCancelled) return;
  resumed = true;
  nextFireNs = monotonicNanoseconds() + firstDelayNs;
}

void DispatchTimer::cancel() {
  isCancelled = true;
  onFire = nullptr;
}

bool DispatchTimer::fireIfDue(uint64_t nowNs) {
  if (!running() || nowNs < nextFireNs) return false;
  nextFireNs = nowNs + periodNs;
  // The handler may cancel its own timer: it runs from a copy.
  const std::function<void()> handler = onFire;
  handler();
  return true;
}

void MainQueue::async(std::function<void()> block) {
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    pendingBlocks.push_back(std::move(block));
  }
  blockQueued.notify_all();
  std::lock_guard<std::recursive_mutex> lock(wakersMutex);
  for (const auto& waker : wakers) waker.second();
}

uint64_t MainQueue::addWaker(std::function<void()> wake) {
  std::lock_guard<std::recursive_mutex> lock(wakersMutex);
  wakers.emplace_back(++lastWakerId, std::move(wake));
  return lastWakerId;
}

void MainQueue::removeWaker(uint64_t id) {
  std::lock_guard<std::recursive_mutex> lock(wakersMutex);
  std::erase_if(wakers, [id](const auto& waker) { return waker.first == id; });
}

size_t MainQueue::runPending() {
  std::deque<std::function<void()>> blocks;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    blocks.swap(pendingBlocks);
  }
  for (auto& block : blocks) block();
  return blocks.size();
}

bool MainQueue::waitForBlock(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(queueMutex);
  return blockQueued.wait_for(lock, timeout, [this] { return !pendingBlocks.empty(); });
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    runPending();
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !waitForBlock(left)) return done();
  }
}

std::shared_ptr<DispatchTimer> MainQueue::makeTimer(uint64_t intervalNs, uint64_t leewayNs,
                                                    std::function<void()> handler) {
  auto timer = std::make_shared<DispatchTimer>(intervalNs, leewayNs, std::move(handler));
  std::erase_if(liveTimers, [](const std::weak_ptr<DispatchTimer>& entry) { return entry.expired(); });
  liveTimers.push_back(timer);
  return timer;
}

size_t MainQueue::fireTimers(uint64_t nowNs) {
  // Timers made or released by a handler take effect at the next call.
  const std::vector<std::weak_ptr<DispatchTimer>> timers = liveTimers;
  size_t fired = 0;
  for (const auto& entry : timers)
    if (const auto timer = entry.lock()) fired += timer->fireIfDue(nowNs);
  return fired;
}

void MainQueue::clear() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    dropped.swap(pendingBlocks);
  }
  liveTimers.clear();
}

MainQueue& mainQueue() {
  static MainQueue s_queue;
  return s_queue;
}

void backgroundAsync(std::function<void()> work) {
  // The main queue is made first so that it outlives the worker, whose last blocks may post to it.
  mainQueue();
  static BackgroundQueue s_queue;
  s_queue.async(std::move(work));
}

}  // namespace platform
