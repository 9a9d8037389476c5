// Edits folded into the morph poles: capture numbers and stamps, the near pole and the mirror, exempt
// parameters, edits waiting for both poles, the save drain, the grace, the lane settings, and the pole
// hand-over under two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "MorphFixture.h"

using morphtest::defaultsCapture;
using morphtest::Morph;
using morphtest::Snapshot;

TEST_F(Morph, CaptureSequenceAndStamps) {
  const uint64_t first = engine->nextCaptureSeq();
  EXPECT_EQ(engine->nextCaptureSeq(), first + 1);
  Snapshot a = defaultsCapture();
  a.captureSeq = 40;
  engine->setSnapshot(0, a);
  EXPECT_TRUE(engine->snapshotSeqOlder(0, 39));  // staged, not yet taken
  EXPECT_FALSE(engine->snapshotSeqOlder(0, 40));
  EXPECT_FALSE(engine->snapshotSeqOlder(1, 0));  // no pole B
  run(64);
  EXPECT_EQ(engine->morph.stamp[0].load(), 40u);
}

TEST_F(Morph, EditsFoldIntoTheNearPoleAndMirrorAwayFromThePoles) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  b.value[kParamFold] = 6.0;  // the poles differ in Fold and agree in Shape
  setPoles(a, b, 0.01);

  engine->setParam(kParamShape, 0.6);
  engine->rebaseParamEdit(kParamShape);
  run(64);
  EXPECT_EQ(live(1).value[kParamShape], 0.0);  // at a pole: A alone
  EXPECT_EQ(engine->morph.stamp[0].load(), live(0).captureSeq);

  engine->setParam(kParamMorphFader, 0.5);
  run(64);
  engine->setParam(kParamNoiseMix, 0.25);
  engine->rebaseParamEdit(kParamNoiseMix);
  run(64);
  EXPECT_EQ(live(0).value[kParamNoiseMix], 0.25);  // equal in both: both follow
  EXPECT_EQ(live(1).value[kParamNoiseMix], 0.25);
  EXPECT_EQ(cached(kParamNoiseMix), 0.25);  // the morph sounds as edited

  engine->setParam(kParamFold, 2.0);  // unequal: the near pole (B from 0.5 on)
  engine->rebaseParamEdit(kParamFold);
  run(64);
  EXPECT_EQ(live(0).value[kParamFold], kParams[kParamFold].def);
  EXPECT_EQ(live(1).value[kParamFold], 2.0);
}

TEST_F(Morph, ModeCountAndFaderEditsNeverRebase) {
  setPoles(defaultsCapture(), defaultsCapture(), 0.5);
  for (uint32_t key : {kParamVoiceMode, kParamVoiceCount, kParamMorphFader, kNumRebaseKeys, 1000u}) {
    engine->rebaseParamEdit(key);
    if (key < kNumRebaseKeys) {
      EXPECT_FALSE(engine->morph.engineFold[key].load());
    }
  }
}

TEST_F(Morph, EditsWaitForBothPolesAndClearingDropsThem) {
  engine->setSnapshot(0, defaultsCapture());
  run(64);
  engine->setParam(kParamFold, 5.0);
  engine->rebaseParamEdit(kParamFold);
  run(64);
  EXPECT_EQ(live(0).value[kParamFold], kParams[kParamFold].def);
  engine->setSnapshot(1, defaultsCapture());
  run(64);
  EXPECT_EQ(live(0).value[kParamFold], 5.0);

  engine->rebaseParamEdit(kParamShape);
  engine->clearRebasePending();
  EXPECT_FALSE(engine->morph.saveFold[kParamShape].load());
}

TEST_F(Morph, SaveDrainFoldsIntoTheStagedPolesWithoutHandingThemOver) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  b.value[kParamFold] = 6.0;
  setPoles(a, b, 0.8);
  engine->setParam(kParamFold, 3.0);
  engine->setParam(kParamShape, 0.5);
  engine->rebaseParamEdit(kParamFold);
  engine->rebaseParamEdit(kParamShape);
  engine->drainRebaseToStaging();
  Snapshot sa, sb;
  ASSERT_TRUE(engine->getSnapshotCopy(0, sa));
  ASSERT_TRUE(engine->getSnapshotCopy(1, sb));
  EXPECT_EQ(sa.value[kParamFold], kParams[kParamFold].def);
  EXPECT_EQ(sb.value[kParamFold], 3.0);
  EXPECT_EQ(sa.value[kParamShape], 0.5);  // equal before: mirrored
  EXPECT_EQ(sb.value[kParamShape], 0.5);
  EXPECT_FALSE(engine->morph.staged[1].pending());
  EXPECT_TRUE(engine->morph.engineFold[kParamFold].load());  // the audio side folds on its own

  // A pole still waiting for its hand-over keeps waiting and carries the fold.
  engine->setSnapshot(1, b);
  engine->setParam(kParamFold, 4.0);
  engine->rebaseParamEdit(kParamFold);
  engine->drainRebaseToStaging();
  EXPECT_TRUE(engine->morph.staged[1].pending());
  ASSERT_TRUE(engine->getSnapshotCopy(1, sb));
  EXPECT_EQ(sb.value[kParamFold], 4.0);
}

TEST_F(Morph, PostLoadGraceLastsThreeTicks) {
  engine->tickPostLoadRebaseGrace();
  EXPECT_EQ(engine->morph.postLoadGrace.load(), 0);  // never below zero
  engine->openPostLoadRebaseGrace();
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_TRUE(engine->postLoadRebaseGraceActive());
    engine->tickPostLoadRebaseGrace();
  }
  EXPECT_FALSE(engine->postLoadRebaseGraceActive());
}

TEST_F(Morph, LaneSettingsAndLocksFoldFromTheirLiveSources) {
  engine->setSeqRateCommitted(1, 7.5f);
  engine->setSeqRunMode(0, 3);
  engine->setSeqSyncDiv(1, 12);
  engine->setFilterLocked(1, true);
  Snapshot s;
  const uint64_t before = engine->nextCaptureSeq();
  for (uint32_t key = kRebaseKeyLockA; key < kNumRebaseKeys; ++key) engine->foldRebaseSlot(s, key);
  EXPECT_EQ(s.lockB, 1);
  EXPECT_EQ(s.seqRate[0], -1.0f);  // no committed rate
  EXPECT_EQ(s.seqRate[1], 7.5f);
  EXPECT_EQ(s.seqRun[0], 3);
  EXPECT_EQ(s.seqDiv[1], 12);
  EXPECT_EQ(s.captureSeq, before + 8);
  engine->foldRebaseSlot(s, kNumRebaseKeys);  // no key: nothing changes
  EXPECT_EQ(s.captureSeq, before + 8);
}

// The main thread captures, clears, edits and drains while the audio thread takes the poles and folds:
// every pole the audio thread holds is one whole capture (plus whole folds), never a mix of two.
TEST(MorphPoles, HandOverThreadKeepsPolesWhole) {
  auto engine = std::make_unique<PluginProcessor>();
  std::atomic<bool> done{false};
  int torn = 0;
  std::thread audio([&] {
    while (!done.load(std::memory_order_acquire)) {
      engine->stageSnapshotHandOver();
      for (const Snapshot& s : engine->morph.live) {
        if (!s.valid) continue;
        // Every captured value but Fold (the folded key) encodes the same fraction of its range.
        const double frac = (s.value[kParamRatio] - kParams[kParamRatio].min) /
                            (kParams[kParamRatio].max - kParams[kParamRatio].min);
        for (uint32_t id = 0; id < kNumParams; ++id) {
          if (id == kParamFold) continue;
          const double f = (s.value[id] - kParams[id].min) / (kParams[id].max - kParams[id].min);
          torn += std::fabs(f - frac) > 1e-9;
        }
      }
    }
  });
  for (int i = 0; i < 4000; ++i) {
    Snapshot s;
    s.valid = true;
    const double frac = (i % 1000) / 1000.0;
    for (uint32_t id = 0; id < kNumParams; ++id) {
      s.value[id] = kParams[id].min + frac * (kParams[id].max - kParams[id].min);
      s.has[id] = true;
    }
    s.captureSeq = engine->nextCaptureSeq();
    const int pole = i & 1;
    if (i % 7 == 0)
      engine->clearSnapshot(pole);
    else
      engine->setSnapshot(pole, s);
    engine->setParam(kParamMorphFader, frac);
    engine->setParam(kParamFold, 1.0 + 7.0 * frac);
    engine->rebaseParamEdit(kParamFold);
    if (i % 5 == 0) engine->drainRebaseToStaging();
    Snapshot copy;
    if (engine->getSnapshotCopy(pole, copy)) {
      EXPECT_TRUE(copy.valid);
    }
  }
  while (engine->morph.staged[0].pending() || engine->morph.staged[1].pending()) std::this_thread::yield();
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(torn, 0);
}
