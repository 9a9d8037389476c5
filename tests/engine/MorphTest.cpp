// The morph of the block cache between poles A and B: one pole, the rules in the cache, the fader's
// glide and jumps, the filter-mode blends and the played filters, the epoch, bad pole indices and the
// lanes' morph.
#include <gtest/gtest.h>

#include "MorphFixture.h"

using morphtest::defaultsCapture;
using morphtest::Morph;
using morphtest::Snapshot;

TEST_F(Morph, OnePoleLeavesTheParametersAndTheFaderDoesNothing) {
  Snapshot a = defaultsCapture();
  a.value[kParamFilterACutoff] = 200.0;
  engine->setSnapshot(0, a);
  engine->setParam(kParamFilterACutoff, 3000.0);
  engine->setParam(kParamMorphFader, 0.0);
  run(128);
  EXPECT_FALSE(engine->morph.block.active);
  engine->setParam(kParamMorphFader, 1.0);
  run(128);
  EXPECT_EQ(cached(kParamFilterACutoff), 3000.0);
}

TEST_F(Morph, BlockCacheFollowsTheRules) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterACutoff] = 200.0;
  b.value[kParamFilterACutoff] = 20000.0;
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
  EXPECT_DOUBLE_EQ(cached(kParamFilterACutoff), 2000.0);
  EXPECT_EQ(cached(kParamFilterAMode), 2.0);
  EXPECT_EQ(cached(kParamEnv1Delay), 0.5);
  EXPECT_EQ(cached(kParamFold), 3.0);
  EXPECT_EQ(engine->getParam(kParamFilterACutoff), kParams[kParamFilterACutoff].def);  // store untouched
  EXPECT_TRUE(engine->morph.block.octaveDiffers);
  EXPECT_EQ(engine->morph.block.octaveB, 2.0f);
}

TEST_F(Morph, SmallFaderMovesGlideAndLargeOnesJump) {
  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterAResonance] = 0.0;
  b.value[kParamFilterAResonance] = 0.8;
  setPoles(a, b, 0.1);
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
  EXPECT_EQ(engine->morph.calib[0].toMode, 2);
  EXPECT_FLOAT_EQ(engine->morph.calib[0].t, 0.3f);
  EXPECT_TRUE(engine->filterCalibBlend(0, 0).active);   // a voice playing the block's mode
  EXPECT_FALSE(engine->filterCalibBlend(0, 3).active);  // a voice playing another mode (a kit slot)
  EXPECT_FALSE(engine->morph.calib[1].active);
  engine->clearSnapshot(1);
  run(64);
  EXPECT_FALSE(engine->morph.calib[0].active);
}

TEST_F(Morph, PlayedFiltersTakeTheBlendedCalibration) {
  engine->setParam(kParamFilterACutoff, 1000.0);
  engine->handleNoteOn(0, 60, 1.0, 0);
  run(64 * 40);
  const float plain = engine->calibratedCutoffA.load();
  EXPECT_NEAR(plain, 783.0f, 8.0f);  // the low-pass factor at 1 kHz (and small voice factors)

  Snapshot a = defaultsCapture(), b = defaultsCapture();
  a.value[kParamFilterACutoff] = b.value[kParamFilterACutoff] = 1000.0;
  a.value[kParamFilterAMode] = 0.0;  // low-pass
  b.value[kParamFilterAMode] = 2.0;  // band-pass, factor 1
  setPoles(a, b, 0.3);
  run(64 * 10);
  EXPECT_NEAR(engine->calibratedCutoffA.load() / plain, (0.783f + 0.3f * (1.0f - 0.783f)) / 0.783f, 1e-3f);
}

TEST_F(Morph, EpochMovesWhenBothPolesComeAndGo) {
  const uint32_t start = engine->snapshotEpoch.load();
  engine->setSnapshot(0, defaultsCapture());
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start);
  engine->setSnapshot(1, defaultsCapture());
  run(128);
  EXPECT_EQ(engine->snapshotEpoch.load(), start + 1);
  engine->clearSnapshot(0);
  run(64);
  EXPECT_EQ(engine->snapshotEpoch.load(), start + 2);
}

TEST_F(Morph, BadPoleIndicesAreIgnored) {
  engine->setSnapshot(2, defaultsCapture());
  engine->setSnapshot(-1, defaultsCapture());
  engine->clearSnapshot(5);
  Snapshot out;
  EXPECT_FALSE(engine->getSnapshotCopy(-1, out));
  EXPECT_EQ(engine->engineSnapSeq(7), 0u);
  run(64);
  EXPECT_FALSE(live(0).valid);
  EXPECT_FALSE(live(1).valid);
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
  EXPECT_TRUE(engine->seq.laneMorph[0]);
  EXPECT_FALSE(engine->seq.laneMorph[1]);  // lane 1 was not captured
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
}
