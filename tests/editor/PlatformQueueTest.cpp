// The main queue and its timers, and the background queue handing results back to the main queue.

#include <thread>

#include "EditorFixture.h"

namespace {

using ::testing::ElementsAre;

TEST(MainQueue, RunsBlocksInOrderAndTimersAtTheirInterval) {
  PlatformScope scope;
  platform::MainQueue& queue = platform::mainQueue();
  std::vector<int> order;
  queue.async([&] {
    order.push_back(1);
    queue.async([&] { order.push_back(3); });  // queued while running: waits for the next run
  });
  queue.async([&] { order.push_back(2); });
  EXPECT_EQ(queue.runPending(), 2u);
  EXPECT_THAT(order, ElementsAre(1, 2));
  EXPECT_EQ(queue.runPending(), 1u);
  EXPECT_THAT(order, ElementsAre(1, 2, 3));

  int ticks = 0;
  const auto timer = queue.makeTimer(1000, 500, [&] { ++ticks; });
  EXPECT_EQ(queue.fireTimers(platform::monotonicNanoseconds() + 1'000'000), 0u);  // not resumed yet
  timer->resume();
  const uint64_t start = platform::monotonicNanoseconds();
  EXPECT_EQ(queue.fireTimers(start), 1u);
  EXPECT_EQ(queue.fireTimers(start + 999), 0u);
  EXPECT_EQ(queue.fireTimers(start + 1000), 1u);
  EXPECT_EQ(queue.fireTimers(start + 100'000), 1u);  // missed fires fold into one
  EXPECT_EQ(ticks, 3);
  timer->cancel();
  EXPECT_EQ(queue.fireTimers(start + 1'000'000), 0u);
  EXPECT_EQ(ticks, 3);
}

TEST(MainQueue, ATimerMayCancelItselfFromItsHandler) {
  PlatformScope scope;
  std::shared_ptr<platform::DispatchTimer> timer;
  int ticks = 0;
  timer = platform::mainQueue().makeTimer(10, 0, [&] {
    ++ticks;
    timer->cancel();
  });
  timer->resume();
  const uint64_t now = platform::monotonicNanoseconds();
  platform::mainQueue().fireTimers(now);
  platform::mainQueue().fireTimers(now + 100);
  EXPECT_EQ(ticks, 1);
}

TEST(MainQueue, BackgroundWorkHandsItsResultToTheMainQueue) {
  PlatformScope scope;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::thread::id workThread;
  std::thread::id replyThread;
  platform::backgroundAsync([&] {
    workThread = std::this_thread::get_id();
    platform::mainQueue().async([&] { replyThread = std::this_thread::get_id(); });
  });
  ASSERT_TRUE(platform::mainQueue().runUntil([&] { return replyThread != std::thread::id(); },
                                             std::chrono::seconds(10)));
  EXPECT_NE(workThread, mainThread);
  EXPECT_EQ(replyThread, mainThread);
}

}  // namespace
