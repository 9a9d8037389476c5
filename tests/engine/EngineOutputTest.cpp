// The master chain as the engine runs it: noise floor, silence, latency and recovery.
#include <algorithm>
#include <cmath>

#include "engine/EngineFixture.h"

namespace {

using EngineOutput = EngineTest;

TEST_F(EngineOutput, DefaultSoundWithoutNotesIsTheNoiseFloor) {
  engine->setSampleRate(48000.0);
  auto other = std::make_unique<PluginProcessor>();
  other->setSampleRate(48000.0);
  Stereo a = render(48000);
  Stereo b{std::vector<float>(48000), std::vector<float>(48000)};
  other->process(b.left.data(), b.right.data(), 48000);

  // The first samples are the limiter's look-ahead, the latency the host is told.
  EXPECT_EQ(engine->latencySamples(), 32u);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(a.left[i], 0.0f);
  const float p = peakOf(a.left);
  EXPECT_GT(p, 2e-7f);
  EXPECT_LT(p, 3e-6f);
  EXPECT_EQ(a.left, a.right);
  EXPECT_EQ(a.left, b.left);
}

TEST_F(EngineOutput, ResetClearsPoisonedMasterState) {
  engine->setParam(kParamEqLow, 1.0);
  engine->setSampleRate(48000.0);
  run(256);
  // A NaN that reached the EQ's filter states stays there until a reset clears them.
  engine->blockLeft = ml::DSPVector(std::nanf(""));
  engine->blockRight = ml::DSPVector(std::nanf(""));
  engine->master.processEq(engine->masterSettings, engine->blockLeft, engine->blockRight);
  ASSERT_TRUE(std::isnan(engine->blockLeft[0]));
  engine->resetAll();
  Stereo out = render(4096);
  for (uint32_t i = 64; i < 4096; ++i) ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i]));
}

TEST_F(EngineOutput, LocksRaiseTheRatioSelectionRequestOnlyWhenTurnedOn) {
  engine->setFilterLocked(1, true);
  EXPECT_TRUE(engine->filterLocked(7));  // any index past 0 is lock B
  EXPECT_TRUE(engine->published.ratioSelectionDirty.exchange(false));
  engine->setFilterLocked(1, false);
  EXPECT_FALSE(engine->published.ratioSelectionDirty.load());
  engine->setRatioLocked(true);
  EXPECT_TRUE(engine->published.ratioSelectionDirty.exchange(false));
}

TEST_F(EngineOutput, ResetLeavesNothingOfTheOldSignalAndNoiseLevelZeroIsSilence) {
  engine->setParam(kParamNoiseLevel, 0.0);
  engine->setSampleRate(48000.0);
  const Stereo quiet = render(48000);
  EXPECT_EQ(peakOf(quiet.left), 0.0f);
  EXPECT_EQ(peakOf(quiet.right), 0.0f);
  EXPECT_EQ(engine->getRmsR(), 0.0f);
  engine->handleNoteOn(0, 60, 1.0, 0);
  run(4800);
  engine->resetAll();
  const Stereo out = render(64);
  EXPECT_EQ(peakOf(out.left), 0.0f);
  EXPECT_EQ(peakOf(out.right), 0.0f);
}

TEST_F(EngineOutput, AfterANoteTheReverbSleepsWhileTheNoiseFloorSoundsAndTheMetersFollow) {
  for (const double noise : {0.03, 0.0}) {
    engine = std::make_unique<PluginProcessor>();
    engine->setParam(kParamNoiseLevel, noise);
    engine->setSampleRate(48000.0);
    engine->handleNoteOn(0, 60, 1.0, 0);
    run(24000);
    engine->handleNoteOff(0, 60, 0);
    run(48000 * 15);
    EXPECT_TRUE(engine->master.reverb.asleep) << noise;
    const Stereo out = render(48000);
    if (noise > 0.0) {
      EXPECT_GT(peakOf(out.left), 2e-7f);
      EXPECT_LT(peakOf(out.left), 3e-6f);
      EXPECT_GT(engine->getRmsL(), 0.0f);
    } else {
      EXPECT_EQ(peakOf(out.left), 0.0f);
      EXPECT_EQ(peakOf(out.right), 0.0f);
      EXPECT_EQ(engine->getPeakL(), 0.0f);
      EXPECT_EQ(engine->getRmsL(), 0.0f);
      EXPECT_EQ(engine->getRmsR(), 0.0f);
    }
  }
}

TEST_F(EngineOutput, IdleVoiceCountersStayBounded) {
  engine->setSampleRate(48000.0);
  run(64 * 200);
  for (int32_t blocks : engine->voiceSilentBlocks) EXPECT_LE(blocks, 5);
}

}  // namespace
