// Morph snapshots: the rule tables and blends, the morph of the block cache between poles A and B, the
// fader's glide and jumps, the filter-mode blends, the epoch, the rebase of edits into the poles, the
// post-load grace, and the hand-over under two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <set>
#include <thread>

#include "EngineFixture.h"

namespace {

using Snapshot = PluginProcessor::ParamSnapshot;

// A capture of every parameter at its default.
Snapshot defaultsCapture() {
  Snapshot s;
  s.valid = true;
  PluginProcessor::completeSnapshotDefaults(s);
  return s;
}

std::set<uint32_t> idsWhere(bool (*rule)(uint32_t)) {
  std::set<uint32_t> ids;
  for (uint32_t id = 0; id < kNumParams + 8; ++id)
    if (rule(id)) ids.insert(id);
  return ids;
}

class Morph : public EngineTest {
protected:
  void SetUp() override { engine->setSampleRate(48000.0); }

  // Poles A and B taken by one block, with the fader at position; the next block lands there at once
  // (the poles' arrival moves the epoch).
  void setPoles(const Snapshot& a, const Snapshot& b, double position) {
    engine->setSnapshot(0, a);
    engine->setSnapshot(1, b);
    engine->setParam(kParamMorphFader, position);
    run(128);
  }
  double cached(uint32_t id) const { return engine->cache[id]; }
  const Snapshot& live(int pole) const { return engine->morph.live[pole]; }
};

}  // namespace

TEST(MorphRules, TablesHoldExactlyTheirIds) {
  EXPECT_EQ(idsWhere(isMorphExcludedParam), (std::set<uint32_t>{0, 1, 51, 68, 69, 76, 77, 84, 86, 90, 92}));
  EXPECT_EQ(
      idsWhere(isDiscreteMorphParam),
      (std::set<uint32_t>{0,  1,  6,  18, 28, 29, 31, 32, 43, 46, 47, 48, 55, 56,  57,  58,  59,  63,  71,
                          82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 101, 106, 107, 111, 114, 118}));
  EXPECT_EQ(idsWhere(isLogMorphParam), (std::set<uint32_t>{7, 9, 10, 12, 15, 19, 72, 73, 75}));
  EXPECT_EQ(idsWhere(isMorphInputExempt), (std::set<uint32_t>{0, 1, 51}));
}

TEST(MorphRules, BlendsAtTheEndsAndTheMiddle) {
  EXPECT_DOUBLE_EQ(morphParamValue(kParamFilterACutoff, 200.0, 20000.0, 0.5), 2000.0);
  EXPECT_EQ(morphParamValue(kParamFilterACutoff, 200.0, 20000.0, 0.0), 200.0);
  EXPECT_DOUBLE_EQ(morphParamValue(kParamFilterACutoff, 200.0, 20000.0, 1.0), 20000.0);
  EXPECT_DOUBLE_EQ(morphParamValue(kParamFilterAResonance, 0.0, 0.8, 0.5), 0.4);
  EXPECT_EQ(morphParamValue(kParamFilterAResonance, 0.0, 0.8, 1.0), 0.8);
  EXPECT_EQ(morphParamValue(kParamFilterAMode, 0.0, 2.0, 0.4999), 0.0);
  EXPECT_EQ(morphParamValue(kParamFilterAMode, 0.0, 2.0, 0.5), 2.0);
  // A logarithmic id with a value at 0 blends linearly; equal values stay exact.
  EXPECT_DOUBLE_EQ(morphParamValue(kParamReverbDecay, 0.0, 4.0, 0.25), 1.0);
  EXPECT_EQ(morphParamValue(kParamEqLow, 0.3, 0.3, 0.77), 0.3);
}

TEST(MorphRules, SlotEqualityByKey) {
  Snapshot a, b;
  EXPECT_TRUE(slotEqual(a, b, kParamFold));
  b.value[kParamFold] = 2.0;
  EXPECT_FALSE(slotEqual(a, b, kParamFold));
  EXPECT_TRUE(slotEqual(a, b, kRebaseKeyLockA));
  b.lockB = 1;
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeyLockB));
  b.seqRate[1] = 3.0f;
  EXPECT_TRUE(slotEqual(a, b, kRebaseKeySeqRate));
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeySeqRate + 1));
  b.seqDiv[0] = 4;
  EXPECT_FALSE(slotEqual(a, b, kRebaseKeySeqDiv));
  EXPECT_FALSE(slotEqual(a, a, kNumRebaseKeys));
}

TEST(MorphRules, SnapshotsFromOutsideAreMadeSafe) {
  Snapshot s = defaultsCapture();
  s.value[kParamFold] = std::numeric_limits<double>::quiet_NaN();
  s.value[kParamFilterACutoff] = 1e9;
  s.seqStepCount = {200, 3};
  s.seqSteps[0][2] = std::numeric_limits<float>::infinity();
  s.seqSteps[1][0] = -4.0f;
  s.seqTies[0][1] = 9;
  s.seq1Target = 77;
  s.seqRate[0] = std::numeric_limits<float>::quiet_NaN();
  sanitizeSnapshot(s);
  EXPECT_FALSE(s.has[kParamFold]);
  EXPECT_EQ(s.value[kParamFilterACutoff], 20000.0);
  EXPECT_EQ(s.seqStepCount[0], 8u);
  EXPECT_EQ(s.seqStepCount[1], 3u);
  EXPECT_EQ(s.seqSteps[0][2], 1.0f);
  EXPECT_EQ(s.seqSteps[1][0], 0.0f);
  EXPECT_EQ(s.seqTies[0][1], 1);
  EXPECT_EQ(s.seq1Target, 4u);
  EXPECT_EQ(s.seqRate[0], -1.0f);
}

TEST_F(Morph, OnePoleLeavesTheParametersAndTheFaderDoesNothing) {
  Snapshot a = defaultsCapture();
  a.value[kParamFilterACutoff] = 200.0;
  engine->setSnapshot(0, a);
  engine->setParam(kParamFilterACutoff, 3000.0);
  engine->setParam(kParamMorphFader, 0.0);
  run(128);
  EXPECT_TRUE(engine->hasSnapshot(0));
  EXPECT_FALSE(engine->hasSnapshot(1));
  EXPECT_FALSE(engine->morph.block.active);
  EXPECT_EQ(cached(kParamFilterACutoff), 3000.0);
  engine->setParam(kParamMorphFader, 1.0);
  run(128);
  EXPECT_EQ(cached(kParamFilterACutoff), 3000.0);
}

TEST_F(Morph, BlockCacheFollowsTheRules) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterACutoff] = 200.0;
  b.value[kParamFilterACutoff] = 20000.0;
  a.value[kParamFilterAResonance] = 0.0;
  b.value[kParamFilterAResonance] = 0.8;
  a.value[kParamFilterAMode] = 0.0;
  b.value[kParamFilterAMode] = 2.0;
  a.value[kParamEnv1Delay] = 0.0;  // never morphed
  b.value[kParamEnv1Delay] = 2.0;
  b.has[kParamFold] = false;  // captured in one pole only
  b.value[kParamFold] = 8.0;
  a.value[kParamOctave] = -1.0;
  b.value[kParamOctave] = 2.0;
  engine->setParam(kParamFold, 3.0);
  engine->setParam(kParamEnv1Delay, 0.5);
  setPoles(a, b, 0.5);
  ASSERT_TRUE(engine->morph.block.active);
  EXPECT_EQ(engine->morph.block.position, 0.5);
  EXPECT_DOUBLE_EQ(cached(kParamFilterACutoff), 2000.0);
  EXPECT_DOUBLE_EQ(cached(kParamFilterAResonance), 0.4);
  EXPECT_EQ(cached(kParamFilterAMode), 2.0);
  EXPECT_EQ(cached(kParamEnv1Delay), 0.5);
  EXPECT_EQ(cached(kParamFold), 3.0);
  EXPECT_EQ(engine->getParam(kParamFilterACutoff),
            kParams[kParamFilterACutoff].def);  // the store is untouched
  EXPECT_TRUE(engine->morph.block.octaveDiffers);
  EXPECT_EQ(engine->morph.block.octaveA, -1.0f);
  EXPECT_EQ(engine->morph.block.octaveB, 2.0f);
  EXPECT_TRUE(engine->morph.block.faderPastHalf);

  engine->setParam(kParamMorphFader, 0.0);
  run(64);
  EXPECT_EQ(cached(kParamFilterACutoff), 200.0);
  EXPECT_EQ(cached(kParamFilterAMode), 0.0);
  EXPECT_FALSE(engine->morph.block.faderPastHalf);
}

TEST_F(Morph, SmallFaderMovesGlideAndLargeOnesJump) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterAResonance] = 0.0;
  b.value[kParamFilterAResonance] = 0.8;
  setPoles(a, b, 0.1);
  EXPECT_NEAR(engine->morph.block.position, 0.1, 1e-7);

  engine->setParam(kParamMorphFader, 0.3);
  run(64);
  const double gliding = engine->morph.block.position;
  EXPECT_GT(gliding, 0.1);
  EXPECT_LT(gliding, 0.2);
  run(64 * 100);
  EXPECT_NEAR(engine->morph.block.position, 0.3, 1e-4);

  engine->setParam(kParamMorphFader, 0.9);  // more than a quarter away
  run(64);
  EXPECT_NEAR(engine->morph.block.position, 0.9, 1e-7);
  EXPECT_NEAR(cached(kParamFilterAResonance), 0.72, 1e-7);

  // An epoch change lands a small move at once too.
  engine->setParam(kParamMorphFader, 0.8);
  engine->bumpSnapEpoch();
  run(64);
  EXPECT_NEAR(engine->morph.block.position, 0.8, 1e-7);
}

TEST_F(Morph, FilterModeBlendsWhileThePolesModesDiffer) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterAMode] = 0.0;
  b.value[kParamFilterAMode] = 2.0;
  a.value[kParamFilterBMode] = 1.0;
  b.value[kParamFilterBMode] = 1.0;
  setPoles(a, b, 0.3);
  const CalibModeBlend& blendA = engine->morph.calib[0];
  EXPECT_TRUE(blendA.active);
  EXPECT_EQ(blendA.mode, 0);
  EXPECT_EQ(blendA.fromMode, 0);
  EXPECT_EQ(blendA.toMode, 2);
  EXPECT_FLOAT_EQ(blendA.t, 0.3f);
  const FilterCalibBlend forA = engine->filterCalibBlend(0, 0);
  EXPECT_TRUE(forA.active);
  EXPECT_EQ(forA.fromMode, 0);
  EXPECT_EQ(forA.toMode, 2);
  EXPECT_FALSE(engine->filterCalibBlend(0, 3).active);  // a voice playing another mode (a kit slot)
  const CalibModeBlend& blendB = engine->morph.calib[1];
  EXPECT_FALSE(blendB.active);
  EXPECT_EQ(blendB.mode, 1);
  EXPECT_EQ(blendB.fromMode, 1);
  EXPECT_EQ(blendB.toMode, 1);

  engine->clearSnapshot(1);
  run(64);
  EXPECT_FALSE(engine->morph.calib[0].active);
  EXPECT_EQ(engine->morph.calib[0].t, 0.0f);
}

TEST_F(Morph, EpochMovesWhenBothPolesComeAndGo) {
  const uint32_t start = engine->snapshotEpoch.load();
  engine->setSnapshot(0, defaultsCapture());
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start);
  engine->setSnapshot(1, defaultsCapture());
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start + 1);
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start + 1);
  engine->clearSnapshot(0);
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start + 2);
  EXPECT_FALSE(engine->hasSnapshot(0));
  Snapshot none;
  EXPECT_FALSE(engine->getSnapshotCopy(0, none));
}

TEST_F(Morph, BadPoleIndicesAreIgnored) {
  engine->setSnapshot(2, defaultsCapture());
  engine->setSnapshot(-1, defaultsCapture());
  engine->clearSnapshot(5);
  Snapshot out;
  EXPECT_FALSE(engine->hasSnapshot(2));
  EXPECT_FALSE(engine->getSnapshotCopy(-1, out));
  EXPECT_EQ(engine->engineSnapSeq(7), 0u);
  EXPECT_FALSE(engine->snapshotSeqOlder(2, 0));
  run(64);
  EXPECT_FALSE(live(0).valid);
  EXPECT_FALSE(live(1).valid);
}

TEST_F(Morph, CaptureSequenceAndStamps) {
  const uint64_t first = engine->nextCaptureSeq();
  EXPECT_EQ(engine->nextCaptureSeq(), first + 1);
  Snapshot a = defaultsCapture();
  a.captureSeq = 40;
  engine->setSnapshot(0, a);
  EXPECT_EQ(engine->engineSnapSeq(0), 40u);  // staged, not yet taken
  EXPECT_TRUE(engine->snapshotSeqOlder(0, 39));
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
  EXPECT_EQ(live(0).value[kParamShape], 0.6);
  EXPECT_EQ(live(1).value[kParamShape], 0.0);  // at a pole: A alone
  EXPECT_EQ(engine->morph.stamp[0].load(), live(0).captureSeq);

  engine->setParam(kParamMorphFader, 0.5);
  run(64);
  engine->setParam(kParamNoiseMix, 0.25);
  engine->rebaseParamEdit(kParamNoiseMix);
  run(64);
  EXPECT_EQ(live(0).value[kParamNoiseMix], 0.25);  // equal in both: both follow
  EXPECT_EQ(live(1).value[kParamNoiseMix], 0.25);
  EXPECT_EQ(engine->morph.stamp[1].load(), live(1).captureSeq);
  EXPECT_EQ(cached(kParamNoiseMix), 0.25);  // the morph sounds as edited

  engine->setParam(kParamFold, 2.0);  // unequal: the near pole (B from 0.5 on)
  engine->rebaseParamEdit(kParamFold);
  run(64);
  EXPECT_EQ(live(0).value[kParamFold], kParams[kParamFold].def);
  EXPECT_EQ(live(1).value[kParamFold], 2.0);

  engine->setFilterLocked(0, true);
  engine->rebaseParamEdit(kRebaseKeyLockA);
  run(64);
  EXPECT_EQ(live(1).lockA, 1);
}

TEST_F(Morph, ModeCountAndFaderEditsNeverRebase) {
  setPoles(defaultsCapture(), defaultsCapture(), 0.5);
  for (uint32_t key : {kParamVoiceMode, kParamVoiceCount, kParamMorphFader, kNumRebaseKeys, 1000u}) {
    engine->rebaseParamEdit(key);
    if (key < kNumRebaseKeys) {
      EXPECT_FALSE(engine->morph.engineFold[key].load());
      EXPECT_FALSE(engine->morph.saveFold[key].load());
    }
  }
  engine->setParam(kParamVoiceCount, 2.0);
  engine->rebaseParamEdit(kParamVoiceCount);
  run(64);
  EXPECT_EQ(live(0).value[kParamVoiceCount], 8.0);
  EXPECT_EQ(live(1).value[kParamVoiceCount], 8.0);
}

TEST_F(Morph, EditsWaitForBothPolesAndClearingDropsThem) {
  engine->setSnapshot(0, defaultsCapture());
  run(64);
  engine->setParam(kParamFold, 5.0);
  engine->rebaseParamEdit(kParamFold);
  run(64);
  EXPECT_TRUE(engine->morph.engineFold[kParamFold].load());
  EXPECT_EQ(live(0).value[kParamFold], kParams[kParamFold].def);
  engine->setSnapshot(1, defaultsCapture());
  run(64);
  EXPECT_FALSE(engine->morph.engineFold[kParamFold].load());
  EXPECT_EQ(live(0).value[kParamFold], 5.0);

  engine->rebaseParamEdit(kParamShape);
  engine->clearRebasePending();
  EXPECT_FALSE(engine->morph.engineFold[kParamShape].load());
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
  EXPECT_GT(sb.captureSeq, 0u);
  EXPECT_FALSE(engine->morph.staged[0].pending());
  EXPECT_FALSE(engine->morph.staged[1].pending());
  EXPECT_FALSE(engine->morph.saveFold[kParamFold].load());
  EXPECT_TRUE(engine->morph.engineFold[kParamFold].load());  // the audio side folds on its own

  // A pole still waiting for its hand-over keeps waiting and carries the fold.
  engine->setSnapshot(1, b);
  engine->setParam(kParamFold, 4.0);
  engine->rebaseParamEdit(kParamFold);
  engine->drainRebaseToStaging();
  EXPECT_TRUE(engine->morph.staged[1].pending());
  ASSERT_TRUE(engine->getSnapshotCopy(1, sb));
  EXPECT_EQ(sb.value[kParamFold], 4.0);
  EXPECT_EQ(engine->engineSnapSeq(1), sb.captureSeq);
}

TEST_F(Morph, PostLoadGraceLastsThreeTicks) {
  EXPECT_FALSE(engine->postLoadRebaseGraceActive());
  engine->tickPostLoadRebaseGrace();
  EXPECT_EQ(engine->morph.postLoadGrace.load(), 0);  // never below zero
  engine->openPostLoadRebaseGrace();
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_TRUE(engine->postLoadRebaseGraceActive());
    engine->tickPostLoadRebaseGrace();
  }
  EXPECT_FALSE(engine->postLoadRebaseGraceActive());
}

TEST_F(Morph, LanesMorphUntilEditedAndAgainAfterACapture) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  for (Snapshot* s : {&a, &b}) {
    s->seqLaneCaptured[0] = true;
    s->seqStepCount[0] = 4;
  }
  a.seqSteps[0] = {0.2f, 0.4f, 0.0f, 1.0f};
  b.seqSteps[0] = {0.6f, 0.8f, 0.0f, 0.0f};
  engine->setSeqEnabled(0, true);
  const float steps[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  engine->setSeqSteps(0, steps, 4);
  EXPECT_TRUE(engine->seqLaneEditBroke(0));
  setPoles(a, b, 0.25);  // the hand-over clears the edit flag
  EXPECT_FALSE(engine->seqLaneEditBroke(0));
  EXPECT_TRUE(engine->seq.laneMorph[0]);
  EXPECT_FALSE(engine->seq.laneMorph[1]);  // lane 1 was not captured
  EXPECT_EQ(engine->seq.polePosition, 0.25);
  EXPECT_FLOAT_EQ(engine->seqValMorph(0, 1, 0.0f, false), 0.5f);
  EXPECT_FLOAT_EQ(engine->seqValMorph(0, 3, 0.0f, false), 0.75f);
  EXPECT_FLOAT_EQ(engine->seqValMorph(0, 5, 0.0f, false), 0.5f);  // wraps at the poles' count

  const float edited[4] = {0.1f, 0.1f, 0.1f, 0.1f};
  engine->setSeqSteps(0, edited, 4);
  run(64);
  EXPECT_FALSE(engine->seq.laneMorph[0]);
  engine->setSnapshot(0, a);
  run(64);
  EXPECT_TRUE(engine->seq.laneMorph[0]);
}

TEST_F(Morph, LaneFlagRestoreOutlastsThePolesOfTheLoad) {
  const float steps[2] = {0.3f, 0.6f};
  engine->setSeqSteps(1, steps, 2);  // broken before the load
  engine->setSnapshot(0, defaultsCapture());
  engine->stageSeqLatchRestore(true, false);
  engine->stageSnapshotHandOver();  // takes pole A (clearing the flags), then restores the saved ones
  EXPECT_TRUE(engine->seqLaneEditBroke(0));
  EXPECT_FALSE(engine->seqLaneEditBroke(1));
  EXPECT_FALSE(engine->seq.latchRestorePending.load());
}

TEST_F(Morph, LaneSettingsAndLocksFoldFromTheirLiveSources) {
  engine->setSeqRateCommitted(1, 7.5f);
  engine->setSeqRunMode(0, 3);
  engine->setSeqSyncDiv(1, 12);
  engine->setFilterLocked(1, true);
  Snapshot s;
  const uint64_t before = engine->nextCaptureSeq();
  for (uint32_t key = kRebaseKeyLockA; key < kNumRebaseKeys; ++key) engine->foldRebaseSlot(s, key);
  EXPECT_EQ(s.lockA, 0);
  EXPECT_EQ(s.lockB, 1);
  EXPECT_EQ(s.seqRate[0], -1.0f);  // no committed rate
  EXPECT_EQ(s.seqRate[1], 7.5f);
  EXPECT_EQ(s.seqRun[0], 3);
  EXPECT_EQ(s.seqRun[1], 1);
  EXPECT_EQ(s.seqDiv[0], 9);
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
    (void)engine->engineSnapSeq(1 - pole);
  }
  while (engine->morph.staged[0].pending() || engine->morph.staged[1].pending()) std::this_thread::yield();
  done.store(true, std::memory_order_release);
  audio.join();
  EXPECT_EQ(torn, 0);
}
