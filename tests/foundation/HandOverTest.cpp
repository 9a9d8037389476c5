#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/MLHandOver.h"

namespace {
// A record large enough that a torn copy would show: every field holds the same number.
struct Record {
  int values[256];
};
}  // namespace

TEST(HandOver, LastWriteWinsAndTakesHappenOnce) {
  ml::HandOver<Record> h;
  Record taken{};
  auto takeInto = [&](const Record& r) { taken = r; };
  EXPECT_FALSE(h.take(takeInto));
  h.write([](Record& r) { r.values[0] = 1; });
  h.write([](Record& r) { r.values[0] += 1; });  // the record not yet taken is taken back and changed
  EXPECT_TRUE(h.pending());
  EXPECT_TRUE(h.take(takeInto));
  EXPECT_EQ(taken.values[0], 2);
  EXPECT_FALSE(h.pending());
  EXPECT_FALSE(h.take(takeInto));

  // Holding takes keeps a published record published, and blocks no later take.
  h.write([](Record& r) { r.values[0] = 5; });
  int seen = 0;
  h.whileTakesHeld([&] { seen = taken.values[0]; });
  EXPECT_EQ(seen, 2);
  EXPECT_TRUE(h.take(takeInto));
  EXPECT_EQ(taken.values[0], 5);
  EXPECT_EQ(h.lastWritten().values[0], 5);
}

TEST(HandOver, EditsInPlaceKeepWhetherTheRecordIsPublished) {
  ml::HandOver<Record> h;
  Record taken{};
  auto takeInto = [&](const Record& r) { taken = r; };
  h.write([](Record& r) { r.values[0] = 1; });
  EXPECT_TRUE(h.take(takeInto));
  h.edit([](Record& r) { r.values[1] = 7; });  // taken already: stays taken
  EXPECT_FALSE(h.pending());
  EXPECT_EQ(h.lastWritten().values[1], 7);
  h.write([](Record& r) { r.values[0] = 2; });
  h.edit([](Record& r) { r.values[2] = 9; });  // still waiting: taken with the change
  EXPECT_TRUE(h.pending());
  EXPECT_TRUE(h.take(takeInto));
  EXPECT_EQ(taken.values[0], 2);
  EXPECT_EQ(taken.values[1], 7);
  EXPECT_EQ(taken.values[2], 9);
}

TEST(HandOver, ThreadedRecordsArriveWhole) {
  ml::HandOver<Record> h;
  std::atomic<bool> done{false};
  int torn = 0, takes = 0, last = -1;
  std::thread reader([&] {
    Record r{};
    while (!done.load(std::memory_order_acquire)) {
      if (!h.take([&](const Record& s) { r = s; })) continue;
      ++takes;
      for (int v : r.values) torn += v != r.values[0];
      torn += r.values[0] < last;  // never an older record after a newer one
      last = r.values[0];
    }
  });
  for (int i = 0; i < 50000; ++i)
    h.write([i](Record& r) {
      for (int& v : r.values) v = i;
    });
  while (h.pending()) std::this_thread::yield();
  done.store(true, std::memory_order_release);
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(takes, 0);
  EXPECT_EQ(last, 49999);
}
