// Sequencer lanes: the two-bank editing calls and their guards, run modes (free, note, sync), trigger
// delays, glides and ties, transport stops, the values over the morph poles, and the hand-over of lane
// contents while the audio thread plays.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "EngineFixture.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kRate = 44100.0;

class SeqLaneTest : public EngineTest {
protected:
  void SetUp() override { engine->setSampleRate(kRate); }

  // A lane with steps, enabled, in a run mode.
  void lane(int l, std::initializer_list<float> steps, int mode) {
    const std::vector<float> v(steps);
    engine->setSeqSteps(l, v.data(), static_cast<int>(v.size()));
    engine->setSeqRunMode(l, mode);
    engine->setSeqEnabled(l, true);
  }
  void tieAll(int l) {
    const unsigned char ties[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    engine->setSeqTies(l, ties, 8);
  }
  void blocks(int n) {
    for (int i = 0; i < n; ++i) run(64);
  }
  const SeqGlide& glide(int l) const { return engine->seq.lanes[l].glide; }
  int bank(int l) const { return engine->seq.lanes[l].activeBank.load(); }
};

TEST_F(SeqLaneTest, RewritingTheSameStepsOrTiesChangesNothing) {
  const float steps[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
  engine->setSeqSteps(0, steps, 8);
  engine->setSeqLaneEditBroke(0, false);
  engine->setSeqSteps(0, steps, 8);
  EXPECT_EQ(bank(0), 1);
  EXPECT_FALSE(engine->seqLaneEditBroke(0));
  engine->setSeqSteps(0, steps, 7);  // a shorter lane is an edit
  EXPECT_TRUE(engine->seqLaneEditBroke(0));

  const unsigned char ties[8] = {1, 0, 1};
  engine->setSeqTies(1, ties, 3);
  engine->setSeqLaneEditBroke(1, false);
  const unsigned char longer[8] = {1, 0, 1, 0, 0, 0, 0, 0};
  engine->setSeqTies(1, longer, 8);  // the same eight flags
  EXPECT_FALSE(engine->seqLaneEditBroke(1));
  engine->setSeqTies(2, ties, 3);  // lane 2 has no ties
  EXPECT_EQ(engine->seq.lanes[2].activeTieBank.load(), 0);
}

TEST_F(SeqLaneTest, StepValuesAndCountsAreGuarded) {
  const float wild[10] = {kNaN, -1.0f, 2.0f, std::numeric_limits<float>::infinity(), 0.5f, 0, 0,
                          0,    0.9f,  0.9f};
  engine->setSeqSteps(0, wild, 10);
  float out[8];
  ASSERT_EQ(engine->getSeqStepsCopy(0, out, 8), 8);
  const float held[5] = {0.0f, 0.0f, 1.0f, 1.0f, 0.5f};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], held[i]) << i;
  EXPECT_EQ(engine->getSeqStepsCopy(0, nullptr, 8), 0);
  engine->setSeqSteps(0, nullptr, 4);  // no values: ignored
  EXPECT_EQ(engine->getSeqStepCount(0), 8);
  engine->setSeqSteps(1, wild, -3);
  EXPECT_EQ(engine->getSeqStepCount(1), 0);
}

TEST_F(SeqLaneTest, LaneIndicesMapToLaneTwoOrAreIgnored) {
  engine->setSeqEnabled(7, true);
  engine->setSeqTriggerKey(-4, 200);  // stored unchecked
  EXPECT_TRUE(engine->getSeqEnabled(2));
  EXPECT_TRUE(engine->getSeqEnabled(-1));
  EXPECT_EQ(engine->getSeqTriggerKey(2), 200);
  EXPECT_EQ(engine->getSeqTriggerKey(0), -1);

  engine->setSeqFreeRate(3, 7.0f);
  EXPECT_EQ(engine->getSeqFreeRate(2), 1.0f);
  engine->setSeqFreeRate(0, kNaN);
  EXPECT_EQ(engine->getSeqFreeRate(0), 0.1f);
  engine->setSeqTarget(0, 3);  // only lane 1 has a target
  EXPECT_EQ(engine->seq.lane1Target.load(), 0);
  engine->setSeqRateCommitted(2, 3.0f);
  EXPECT_EQ(engine->getSeqRateCommitted(2), -1.0f);
  engine->setSeqDelay(1, kNaN, 3);
  EXPECT_EQ(engine->getSeqDelayDiv(1), 0.0f);
  EXPECT_EQ(engine->getSeqDelayMul(5), 1);
  EXPECT_EQ(engine->getSeqStepCount(-1), 0);
  EXPECT_TRUE(engine->shouldAdvanceSeq(9));  // a bad lane has no delay
}

TEST_F(SeqLaneTest, NoteAdvancesMeasureTheirStepLengthWithinLimits) {
  lane(0, {0.2f, 0.4f, 0.6f, 0.8f}, kSeqRunTrig);
  tieAll(0);
  engine->advanceSeqStep(0);  // the first advance has no measured length: no glide
  EXPECT_FALSE(glide(0).tied);

  blocks(1);
  engine->advanceSeqStep(0);  // 64 samples apart: 20 ms
  EXPECT_EQ(glide(0).duration, 882);
  blocks(1);
  EXPECT_FLOAT_EQ(glide(0).current, 0.6f + 64.0f / 882.0f * (0.8f - 0.6f));
  blocks(14);
  EXPECT_EQ(glide(0).current, 0.8f);  // landed

  blocks(3000);  // more than 4 s
  engine->advanceSeqStep(0);
  EXPECT_EQ(engine->getSeqStep(0), 3);
  EXPECT_EQ(glide(0).duration, 176400);
  EXPECT_EQ(glide(0).to, 0.2f);  // the last step glides into the first
}

TEST_F(SeqLaneTest, TiedStepBeforeARestGlidesToTheMiddleOrToZeroOnTheMorphFader) {
  lane(0, {0.8f, 0.0f, 0.0f}, kSeqRunTrig);
  lane(1, {0.8f, 0.0005f}, kSeqRunTrig);
  tieAll(0);
  tieAll(1);
  engine->seqEnterStep(0, 0, 1000);
  EXPECT_EQ(glide(0).to, 0.5f);
  engine->seqEnterStep(0, 1, 1000);  // a tied rest does not glide
  EXPECT_FALSE(glide(0).tied);

  engine->setSeqTarget(1, 4);
  engine->seqEnterStep(1, 0, 1000);
  EXPECT_EQ(glide(1).to, 0.0f);
  engine->seqEnterStep(1, -2, 1000);  // negative steps wrap
  EXPECT_EQ(glide(1).from, 0.8f);
  lane(2, {0.8f, 0.3f}, kSeqRunTrig);  // lane 2 never glides
  engine->seqEnterStep(2, 0, 1000);
  EXPECT_FALSE(glide(2).tied);
}

TEST_F(SeqLaneTest, FreeLaneAtFiftyHertzAdvancesAtMostOneStepPerBlock) {
  lane(2, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f}, kSeqRunFree);
  engine->setSeqFreeRate(2, 50.0f);
  int advances = 0;
  int last = engine->getSeqStep(2);
  for (int b = 0; b < 689; ++b) {  // one second
    blocks(1);
    const int now = engine->getSeqStep(2);
    if (now != last) {
      ++advances;
      EXPECT_EQ(now, (last + 1) % 8) << b;
    }
    last = now;
  }
  EXPECT_NEAR(advances, 50, 1);
}

TEST_F(SeqLaneTest, FreeLaneWithADelayStartsOnceAfterIt) {
  lane(0, {0.5f, 0.5f, 0.5f, 0.5f}, kSeqRunFree);
  engine->setSeqFreeRate(0, 10.0f);
  engine->setSeqDelay(0, 1.0f, 2);  // two beats at 120 BPM: one second
  blocks(680);
  EXPECT_EQ(engine->getSeqStep(0), 0);
  blocks(689 + 10);  // a second of steps at 10 Hz
  EXPECT_NEAR(engine->getSeqStep(0), (10 % 4), 1);
  EXPECT_TRUE(engine->seq.lanes[0].delay.armed);
}

TEST_F(SeqLaneTest, TrigLaneDelayArmsHoldsThenLetsNotesThroughUntilATransportStop) {
  lane(0, {0.5f, 0.5f, 0.5f}, kSeqRunTrig);
  engine->setSeqDelay(0, 1.0f, 1);            // one beat at 120 BPM: 22050 samples
  EXPECT_FALSE(engine->shouldAdvanceSeq(0));  // arms
  blocks(344);                                // 22016 samples
  EXPECT_FALSE(engine->shouldAdvanceSeq(0));
  blocks(1);
  EXPECT_TRUE(engine->shouldAdvanceSeq(0));

  engine->setTransportPlaying(true);
  blocks(1);
  engine->setTransportPlaying(false);
  blocks(1);
  EXPECT_FALSE(engine->shouldAdvanceSeq(0));  // the stop re-armed it
  engine->setSeqDelay(1, 1.0f, 0);            // a multiplier of 0 is no delay
  EXPECT_TRUE(engine->shouldAdvanceSeq(1));
}

TEST_F(SeqLaneTest, SyncLaneFollowsTheEngineSongPositionAtTheTempo) {
  lane(1, {0.1f, 0.2f, 0.3f, 0.4f}, kSeqRunSync);
  engine->setSeqSyncDiv(1, 9);  // one beat
  engine->setTempo(90.0);
  engine->setTransportPlaying(true);
  engine->setSongPosBeats(0.0);
  for (int b = 0; b < 2000; ++b) {
    blocks(1);
    const double pos = b * 64.0 / kRate * 90.0 / 60.0;  // the position the block started at
    ASSERT_EQ(engine->getSeqStep(1), static_cast<int>(std::floor(pos)) % 4) << b;
  }
  EXPECT_EQ(glide(1).duration, 29400);  // one beat at 90 BPM
}

TEST_F(SeqLaneTest, SyncLaneWithAOneBeatDelayHoldsStepZeroThroughTheFirstBeat) {
  lane(0, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f}, kSeqRunSync);
  engine->setSeqSyncDiv(0, 3);  // 1/16: a quarter beat
  engine->setSeqDelay(0, 1.0f, 1);
  engine->setTransportPlaying(true);
  engine->setSongPosBeats(0.6);
  blocks(1);
  EXPECT_EQ(engine->getSeqStep(0), 0);
  EXPECT_EQ(engine->seq.lanes[0].lastStep, -1);  // nothing entered yet
  engine->setSongPosBeats(3.1);                  // 2.1 beats after the delay
  blocks(1);
  EXPECT_EQ(engine->getSeqStep(0), 0);  // step 8 wraps to 0
}

TEST_F(SeqLaneTest, TransportStopPutsNoteAndSyncLanesBackButLeavesTheOthers) {
  for (const int third : {kSeqRunFree, kSeqRunTrig}) {
    lane(0, {0.5f, 0.5f, 0.5f, 0.5f}, kSeqRunNote);
    lane(1, {0.5f, 0.5f, 0.5f, 0.5f}, kSeqRunSync);
    lane(2, {0.5f, 0.5f, 0.5f, 0.5f}, third);
    engine->setSeqFreeRate(2, 0.1f);
    engine->setTransportPlaying(true);
    engine->setSongPosBeats(2.0);
    blocks(1);
    engine->advanceSeqStep(0);
    engine->advanceSeqStep(0);
    engine->seq.lanes[2].step.store(3);
    EXPECT_EQ(engine->getSeqStep(1), 2);
    engine->setTransportPlaying(false);
    blocks(1);
    EXPECT_EQ(engine->getSeqStep(0), 0) << third;
    EXPECT_EQ(engine->getSeqStep(1), 0) << third;
    EXPECT_EQ(engine->getSeqStep(2), 3) << third;
  }
}

TEST(SeqTieReanchor, AChangedTieInsideAStepFadesTheJumpOutByTheStepsEnd) {
  SeqTieReanchor rec;
  EXPECT_EQ(rec.apply(0.4f, false, 2, 0.2f), 0.4f);
  // The tie comes on at phase 0.5: the output stays at 0.4 and eases onto the new value.
  EXPECT_FLOAT_EQ(rec.apply(0.7f, true, 2, 0.5f), 0.4f);
  EXPECT_FLOAT_EQ(rec.apply(0.7f, true, 2, 0.75f), 0.7f - 0.3f * 0.5f);
  // The same step starting over restarts the record.
  rec.apply(0.1f, false, 2, 0.3f);
  EXPECT_EQ(rec.apply(0.9f, true, 2, 0.1f), 0.9f);
}

TEST_F(SeqLaneTest, ValuesOverTheMorphPolesWrapBlendAndGlide) {
  ParamSnapshot& a = engine->morph.live[0];
  ParamSnapshot& b = engine->morph.live[1];
  a.valid = b.valid = true;
  a.seqSteps[0] = {0.2f, 0.4f};
  b.seqSteps[0] = {0.6f, 0.8f};
  a.seqTies[0] = {1, 0};
  a.seqStepCount[0] = 2;
  b.seqStepCount[0] = 1000;  // a count from a damaged file reads at most 8 steps
  a.seqRate[0] = 1.0f;
  b.seqRate[0] = 4.0f;
  engine->seq.polePosition = 0.25;
  EXPECT_EQ(engine->seqStepValueOf(0, 0, -1), 0.4f);
  EXPECT_EQ(engine->seqStepValueOf(1, 0, 2), 0.0f);
  EXPECT_TRUE(engine->seqStepTieOf(0, 0, 2));
  EXPECT_FLOAT_EQ(engine->seqValMorph(0, 0, 0.5f, true), 0.3f + 0.5f * (0.5f - 0.3f));

  // The editor sees morphed values only while the lane morphs.
  lane(0, {0.9f, 0.9f, 0.9f}, kSeqRunTrig);
  float out[8];
  int n = -1;
  EXPECT_FALSE(engine->getSeqMorphValues(0, out, 8, n));
  engine->seq.laneMorph[0] = true;
  ASSERT_TRUE(engine->getSeqMorphValues(0, out, 8, n));
  ASSERT_EQ(n, 3);
  EXPECT_FLOAT_EQ(out[1], 0.5f);

  // Free rates: between the poles' rates while both carry one, else the committed rate.
  engine->seq.polePosition = 0.5;
  engine->updateSeqFreeRates();
  EXPECT_FLOAT_EQ(engine->getSeqFreeRate(0), 2.0f);
  b.seqRate[0] = -1.0f;
  engine->setSeqRateCommitted(0, 3.0f);
  engine->updateSeqFreeRates();
  EXPECT_EQ(engine->getSeqFreeRate(0), 3.0f);
}

TEST_F(SeqLaneTest, LaneReadingsForTheLaneTargets) {
  EXPECT_FALSE(engine->readSeqLane(0).read);  // empty
  lane(0, {0.0005f, 0.7f, 0.3f}, kSeqRunTrig);
  tieAll(0);
  EXPECT_FALSE(engine->readSeqLane(0).active);  // step 0 is a rest
  engine->advanceSeqStep(0);
  blocks(1);
  engine->advanceSeqStep(0);  // step 2 glides for 882 samples into the rest: towards 0.5
  blocks(1);
  SeqLaneReading r = engine->readSeqLane(0);
  EXPECT_TRUE(r.glide);
  EXPECT_FLOAT_EQ(r.frac, 64.0f / 882.0f);
  EXPECT_EQ(r.to, 0.5f);
  EXPECT_FALSE(engine->readSeqLane(2).read);  // lane 2 drives nothing

  // A morphed lane reads the poles; its target is the captured one of the pole in force.
  ParamSnapshot& a = engine->morph.live[0];
  ParamSnapshot& b = engine->morph.live[1];
  a.valid = b.valid = true;
  a.seqSteps[1] = {0.0f, 0.6f};
  b.seqSteps[1] = {0.0f, 0.2f};
  a.seqStepCount[1] = b.seqStepCount[1] = 2;
  a.seq1Target = 1;
  b.seq1Target = 4;
  engine->seq.laneMorph[1] = true;
  engine->seq.polePosition = 0.75;
  lane(1, {0.9f, 0.9f}, kSeqRunTrig);
  r = engine->readSeqLane(1);
  EXPECT_FALSE(r.active);  // both poles rest on step 0
  EXPECT_EQ(r.target, 4);
  engine->advanceSeqStep(1);
  EXPECT_FLOAT_EQ(engine->readSeqLane(1).value, 0.3f);
}

// The editor rewrites a lane while the audio thread plays it: every value the audio side reads is a whole
// value that was written, the count belongs to a written list, and the last list written is the one in
// force.
TEST(SeqLanesThread, LaneRewritesWhileTheAudioThreadPlaysAreReadWhole) {
  ScopedFloatingPointControl fp;
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(kRate);
  const float first[8] = {0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f, 0.25f};
  const float second[4] = {0.75f, 0.75f, 0.75f, 0.75f};
  engine->setSeqSteps(0, first, 8);
  engine->setSeqRunMode(0, kSeqRunFree);
  engine->setSeqFreeRate(0, 50.0f);
  engine->setSeqEnabled(0, true);
  std::atomic<bool> done{false};
  std::atomic<int> badReads{0};
  std::atomic<int> audioBlocks{0};
  std::thread audio([&] {
    std::vector<float> l(64), r(64);
    float copy[8];
    while (!done.load()) {
      engine->process(l.data(), r.data(), 64);
      audioBlocks.fetch_add(1);
      engine->advanceSeqStep(0);
      const float v = engine->seq.lanes[0].glide.current;
      const int n = engine->getSeqStepsCopy(0, copy, 8);
      if (!(v >= 0.0f && v <= 0.75f)) badReads.fetch_add(1);
      if (n != 8 && n != 4) badReads.fetch_add(1);
      for (int i = 0; i < n; ++i)
        if (copy[i] != 0.25f && copy[i] != 0.75f && copy[i] != 0.0f) badReads.fetch_add(1);
    }
  });
  for (int i = 0; i < 20000 || audioBlocks.load() < 2000; ++i) {
    if (i % 2 == 0)
      engine->setSeqSteps(0, second, 4);
    else
      engine->setSeqSteps(0, first, 8);
    const unsigned char ties[8] = {static_cast<unsigned char>(i & 1)};
    engine->setSeqTies(0, ties, 1);
  }
  engine->setSeqSteps(0, second, 4);
  done.store(true);
  audio.join();
  EXPECT_EQ(badReads.load(), 0);
  EXPECT_EQ(engine->getSeqStepCount(0), 4);  // the last list written
}

}  // namespace
