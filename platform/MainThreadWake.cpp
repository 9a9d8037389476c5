#include "platform/MainThreadWake.h"

#include "platform/DispatchQueue.h"

namespace platform {

MainThreadWake::MainThreadWake(std::function<void()> wakeCall) : wake(std::move(wakeCall)) {
  wakerId = mainQueue().addWaker(wake);
  ticker = std::thread([this] {
    std::unique_lock<std::mutex> guard(lock);
    while (!stop.wait_for(guard, kTick, [this] { return stopping; })) wake();
  });
}

MainThreadWake::~MainThreadWake() {
  mainQueue().removeWaker(wakerId);
  {
    std::lock_guard<std::mutex> guard(lock);
    stopping = true;
  }
  stop.notify_all();
  ticker.join();
}

}  // namespace platform
