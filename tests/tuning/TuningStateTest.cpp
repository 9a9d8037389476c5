#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "tests/tuning/TuningFixtures.h"

TEST(TuningState, TwelveToneWithoutATuning) {
  TuningState s;
  block(s);
  EXPECT_FALSE(s.effectiveTuningActive());
  EXPECT_FLOAT_EQ(float(s.effectiveNoteFreq(69, 0)), 440.0f);
  EXPECT_EQ(s.effectiveScaleSize(), 12);
  TuningSnapshot snap;
  EXPECT_FALSE(s.getTuningSnapshot(snap));
  // Far keys stay finite and inside the frequency range.
  EXPECT_EQ(s.effectiveNoteFreq(1000, 0), 1e9);
  EXPECT_EQ(s.effectiveNoteFreq(-1000, 0), 0.001);
  EXPECT_EQ(s.effectiveNoteFreq(100000, 0), 261.6255653);  // beyond float range
}

TEST(TuningState, LocalTuningTakesEffectAtTheNextBlock) {
  TuningState s;
  block(s);
  const uint32_t v0 = s.getTuningVersion();
  s.setLocalTuning(fiveTone());
  // Not in force before the block takes it; the version moves at the take.
  EXPECT_FALSE(s.effectiveTuningActive());
  EXPECT_EQ(s.getTuningVersion(), v0);
  LocalTuning copy;
  ASSERT_TRUE(s.getLocalTuningCopy(copy));

  block(s);
  EXPECT_GT(s.getTuningVersion(), v0);
  EXPECT_TRUE(s.tuningActiveThisBlock());
  EXPECT_EQ(s.publishedScaleSize(), 5);
  EXPECT_EQ(s.effectiveNoteFreq(60, 0), 261.6255653);
  EXPECT_EQ(s.effectiveNoteFreq(65, 0), 2 * 261.6255653);  // degree 0 of octave 1
  EXPECT_EQ(s.effectiveNoteFreq(59, 0), (261.6255653 * std::exp2(960.0 / 1200.0)) * 0.5);
  EXPECT_EQ(s.effectiveNoteFreq(61, 0), 261.6255653 * std::exp2(240.0 / 1200.0));

  TuningSnapshot snap;
  ASSERT_TRUE(s.getTuningSnapshot(snap));
  EXPECT_EQ(snap.source, TuningSnapshot::kLocal);
  EXPECT_STREQ(snap.degreeText[1], "240.0");
  for (int i = 5; i < kMaxTuningIntervals; ++i) ASSERT_EQ(snap.ratios[i], 0.0) << i;
  TuningSnapshot onMain;
  ASSERT_TRUE(s.getTuningSnapshotOnMain(onMain));
  EXPECT_EQ(std::memcmp(&snap, &onMain, sizeof snap), 0);

  s.clearLocalTuning();
  EXPECT_FALSE(s.getLocalTuningCopy(copy));
  EXPECT_TRUE(s.effectiveTuningActive());  // still in force until the next block
  block(s);
  EXPECT_FALSE(s.effectiveTuningActive());
  EXPECT_FALSE(s.getTuningSnapshot(snap));
}

TEST(TuningState, SetterRepairsTheRecord) {
  TuningState s;
  LocalTuning t{};
  t.count = 90;
  t.keysPerPeriod = 0;
  t.periodRatio = NAN;
  t.ratios[0] = 7.0;
  t.ratios[1] = 1.5;
  std::memset(t.name, 'x', sizeof t.name);
  s.setLocalTuning(t);
  block(s);
  LocalTuning copy;
  ASSERT_TRUE(s.getLocalTuningCopy(copy));
  EXPECT_EQ(copy.count, 64);
  EXPECT_EQ(copy.keysPerPeriod, 64);
  EXPECT_EQ(copy.periodRatio, 2.0);
  EXPECT_EQ(copy.ratios[0], 1.0);
  EXPECT_EQ(std::strlen(copy.name), 63u);
  // Degrees beyond the table give ratio 1.
  t = fiveTone();
  t.keysPerPeriod = 7;
  s.setLocalTuning(t);
  block(s);
  EXPECT_EQ(s.effectiveNoteFreq(66, 0), 261.6255653);
  EXPECT_EQ(s.effectiveNoteFreq(67, 0), 2 * 261.6255653);
}

TEST(TuningState, LastOfTwoSetsWinsWithoutWaiting) {
  TuningState s;
  block(s);
  s.setLocalTuning(fiveTone());
  const auto start = std::chrono::steady_clock::now();
  s.setLocalTuning(scalaTuning("Pythagorean fifth\n1\n3/2\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  block(s);
  EXPECT_EQ(s.effectiveScaleSize(), 1);
  EXPECT_EQ(s.effectiveNoteFreq(61, 0), 261.6255653 * 1.5);
  // A set followed by a clear before the block leaves the tuning off.
  s.setLocalTuning(fiveTone());
  s.clearLocalTuning();
  block(s);
  EXPECT_FALSE(s.effectiveTuningActive());
}

TEST(TuningState, ReceivedTuningMessagesAreInForceUntilTheNextSetOrClear) {
  TuningState s;
  block(s);
  uint32_t v = s.getTuningVersion();
  s.parseMTSSysEx(kNote69Up.data(), unsigned(kNote69Up.size()));
  EXPECT_GT(s.getTuningVersion(), v);
  EXPECT_TRUE(s.effectiveTuningActive());
  EXPECT_NEAR(s.effectiveNoteFreq(69, 0), 452.89378251621605, 1e-9);
  v = s.getTuningVersion();
  block(s);
  EXPECT_GT(s.getTuningVersion(), v);  // the watch sees the new source
  EXPECT_TRUE(s.tuningActiveThisBlock());
  // Keys above 127 fold back by whole octaves of the received table (key 120 plays 121 here).
  const std::vector<uint8_t> key120 = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00,
                                       0x01, 0x78, 0x79, 0x00, 0x00, 0xF7};
  s.parseMTSSysEx(key120.data(), unsigned(key120.size()));
  const double f121 = 440.0 * std::pow(2.0, (121 - 69) / 12.0);
  EXPECT_NEAR(s.effectiveNoteFreq(120, 0), f121, 1e-9);
  EXPECT_NEAR(s.effectiveNoteFreq(144, 0), 4 * f121, 1e-9);
  EXPECT_NEAR(s.effectiveNoteFreq(186, 0), 32 * 440.0 * std::pow(2.0, (126 - 69) / 12.0), 1e-6);

  TuningSnapshot snap;
  ASSERT_TRUE(s.getTuningSnapshot(snap));
  EXPECT_EQ(snap.source, TuningSnapshot::kMTS);
  EXPECT_NEAR(snap.ratios[9], 452.89378251621605 / 261.6255653005986, 1e-12);

  // A local tuning set afterwards wins and forgets the message; a later message wins again.
  s.setLocalTuning(fiveTone());
  block(s);
  EXPECT_EQ(s.effectiveNoteFreq(65, 0), 2 * 261.6255653);
  s.parseMTSSysEx(kNote69Up.data(), unsigned(kNote69Up.size()));
  EXPECT_NEAR(s.effectiveNoteFreq(69, 0), 452.89378251621605, 1e-9);
  EXPECT_NEAR(s.effectiveNoteFreq(65, 0), 440.0 * std::pow(2.0, -4 / 12.0), 1e-9);
  LocalTuning copy;
  EXPECT_TRUE(s.getLocalTuningCopy(copy));  // the saved state keeps the local tuning only
  s.clearLocalTuning();
  block(s);
  EXPECT_FALSE(s.effectiveTuningActive());

  // Ignored without data or length.
  v = s.getTuningVersion();
  s.parseMTSSysEx(nullptr, 12);
  s.parseMTSSysEx(kNote69Up.data(), 0);
  EXPECT_EQ(s.getTuningVersion(), v);
}

// The main thread sets, clears and reads while the audio thread takes, receives tuning messages and
// renders: every record the audio thread sees must be whole (all ratios of one record share one value),
// and the client's table and caches are shared between both threads without races.
TEST(TuningStateHandOver, ThreadStress) {
  TuningState s;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, takes{0};
  std::thread audio([&] {
    for (int round = 0; !done.load(std::memory_order_acquire); ++round) {
      if (round % 3 == 0) s.parseMTSSysEx(kNote69Up.data(), unsigned(kNote69Up.size()));
      const uint32_t before = s.getTuningVersion();
      block(s);
      if (s.getTuningVersion() != before) takes.fetch_add(1, std::memory_order_relaxed);
      TuningSnapshot snap;
      if (s.getTuningSnapshot(snap) && snap.source == TuningSnapshot::kLocal) {
        for (int i = 2; i < snap.count; ++i)
          if (snap.ratios[i] != snap.ratios[1]) torn.fetch_add(1, std::memory_order_relaxed);
        if (std::strtol(snap.name, nullptr, 10) * 0.001 + 1.0 != snap.ratios[1])
          torn.fetch_add(1, std::memory_order_relaxed);
      }
      s.effectiveNoteFreq(61, 0);
    }
  });
  for (int i = 0; i < 20000; ++i) {
    if (i % 7 == 6) {
      s.clearLocalTuning();
      continue;
    }
    LocalTuning t{};
    t.count = t.keysPerPeriod = 64;
    t.periodRatio = 3.0;
    const double r = 1.0 + (i % 1000) * 0.001;
    for (int k = 1; k < 64; ++k) t.ratios[k] = r;
    std::snprintf(t.name, sizeof t.name, "%d", i % 1000);
    s.setLocalTuning(t);
    if (i % 5 == 0) {
      TuningSnapshot snap;
      s.getTuningSnapshotOnMain(snap);
      LocalTuning copy;
      EXPECT_TRUE(s.getLocalTuningCopy(copy));
      EXPECT_EQ(copy.ratios[5], r);
    }
  }
  while (s.localTuningPending()) std::this_thread::yield();
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(takes.load(), 0);
}
