#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/EngineFixture.h"

namespace {

using Engine = EngineTest;

TEST_F(Engine, ParametersStartAtDefaultsAndRejectBadValues) {
  for (uint32_t id = 0; id < kNumParams; ++id) EXPECT_EQ(engine->getParam(id), kParams[id].def);
  EXPECT_EQ(engine->getParam(kNumParams), 0.0);
  engine->setParam(kNumParams, 1.0);  // ignored, no crash
  engine->setParam(kParamFilterACutoff, std::nan(""));
  EXPECT_EQ(engine->getParam(kParamFilterACutoff), 4500.0);
  engine->setParam(kParamFilterACutoff, 1e9);
  EXPECT_EQ(engine->getParam(kParamFilterACutoff), 20000.0);
}

TEST_F(Engine, VoiceConfigurationAndEngineChangedFlags) {
  engine->voiceConfigChanged.store(false);
  engine->setParam(kParamRatio, 2.0);
  EXPECT_FALSE(engine->voiceConfigChanged.load());
  engine->setParam(kParamGlide, 100.0);
  EXPECT_TRUE(engine->voiceConfigChanged.exchange(false));
  engine->setGlideSmooth(true);
  EXPECT_TRUE(engine->voiceConfigChanged.load());

  engine->setParamFromDsp(kParamMorphFader, 0.75);
  EXPECT_TRUE(engine->consumeParamDirtyFromDsp(kParamMorphFader));
  EXPECT_FALSE(engine->consumeParamDirtyFromDsp(kParamMorphFader));  // taken once
  EXPECT_FALSE(engine->consumeParamDirtyFromDsp(kNumParams));
}

TEST_F(Engine, HostBlockSizesNeverReachTheBlockDriver) {
  run(1);
  EXPECT_EQ(blocksRendered(), 1u);
  for (int i = 0; i < 63; ++i) run(1);
  EXPECT_EQ(blocksRendered(), 1u);
  EXPECT_EQ(engine->residueRemaining, 0u);
  run(1);
  EXPECT_EQ(blocksRendered(), 2u);
  run(199);
  EXPECT_EQ(blocksRendered(), 5u);
  EXPECT_EQ(engine->residueRemaining, 56u);
  run(0);
  EXPECT_EQ(engine->residueRemaining, 56u);

  // A sample-rate change and a reset start a fresh block.
  engine->setSampleRate(48000.0);
  run(1);
  EXPECT_EQ(blocksRendered(), 6u);
  engine->resetAll();
  run(1);
  EXPECT_EQ(blocksRendered(), 7u);
}

TEST_F(Engine, UnusableSampleRatesAreIgnored) {
  engine->setSampleRate(96000.0);
  run(10);
  for (double bad : {0.0, -48000.0, 999.0, 768001.0, std::nan(""), double(INFINITY)}) {
    engine->setSampleRate(bad);
    EXPECT_EQ(engine->getSampleRate(), 96000.0);
    EXPECT_EQ(engine->residueRemaining, 54u) << "a rejected rate must leave the engine as it was";
  }
  EXPECT_LT(engine->rowSmoothers[PluginProcessor::kRowRatio].coeff, 1.0f);
}

TEST_F(Engine, ProcessSetsFlushToZero) {
  run(1);
  volatile float tiny = 1e-38f;
  volatile float scaled = tiny * 0.001f;  // a denormal result without flushing
  EXPECT_EQ(scaled, 0.0f);
}

TEST_F(Engine, VoiceSumGainFollowsVoiceCount) {
  engine->setSampleRate(48000.0);
  run(64);
  EXPECT_NEAR(engine->voiceSumGain.current, 0.483f, 5e-4f);  // 8 voices: 8^-0.35
  engine->setParam(kParamVoiceMode, 1.0);                    // mono
  run(64 * 8);  // 8 ms at 48 kHz is 384 samples: done within six blocks
  EXPECT_EQ(engine->voiceSumGain.current, 1.0f);
}

TEST_F(Engine, EngineRowsClampAndSmooth) {
  engine->setSampleRate(48000.0);
  run(64);
  engine->setParam(kParamFilterACutoff, 20000.0);
  run(64);
  const ml::DSPVector& cutoff = engine->engineRows[PluginProcessor::kRowCutoffA];
  EXPECT_GT(cutoff[0], 4500.0f);
  EXPECT_LT(cutoff[63], 20000.0f);
  for (int i = 1; i < 64; ++i) EXPECT_GT(cutoff[i], cutoff[i - 1]);

  // A non-finite modulated Ratio becomes 1.0 and NaN elsewhere the row's lower bound, never NaN.
  engine->modulated[PluginProcessor::kModRatio].effective = std::nan("");
  engine->modulated[PluginProcessor::kModFold].effective = std::nan("");
  engine->stageEngineRows();
  EXPECT_EQ(engine->rowSmoothers[PluginProcessor::kRowRatio].value, 1.0f);
  EXPECT_LT(engine->rowSmoothers[PluginProcessor::kRowFold].value, 1.8f);
}

// Rows at rest are skipped while their inputs stay; a new value moves the row and its published position.
TEST_F(Engine, EngineRowsAtRestFollowANewValue) {
  engine->setSampleRate(48000.0);
  run(64 * 100);
  const ml::DSPVector& cutoff = engine->engineRows[PluginProcessor::kRowCutoffA];
  const float restingPosition = engine->getModCutoffAPos();
  EXPECT_EQ(cutoff[0], cutoff[63]);
  engine->setParam(kParamFilterACutoff, 200.0);
  engine->setParam(kParamEnv1CurveA, 0.5);
  run(64);
  EXPECT_LT(cutoff[63], cutoff[0]);
  EXPECT_LT(engine->getModCutoffAPos(), restingPosition);
  EXPECT_NE(engine->engineLast[PluginProcessor::kLastEnv1CurveA], 0.5f);
  run(64 * 200);
  EXPECT_EQ(cutoff[0], cutoff[63]);
  EXPECT_NEAR(cutoff[63], 200.0f, 0.01f);
  EXPECT_NEAR(engine->getModCutoffAPos(), std::log(10.0f) / std::log(1000.0f), 1e-5f);
  EXPECT_NEAR(engine->engineLast[PluginProcessor::kLastEnv1CurveA], 0.5f, 1e-4f);
}

TEST_F(Engine, NoteStartsAreStampedOncePerNote) {
  engine->setSampleRate(48000.0);
  auto post = [&](uint8_t type, int key, float velocity, int time) {
    ml::Event e;
    e.type = type;
    e.sourceIdx = static_cast<uint16_t>(key);
    e.time = time;
    e.value1 = static_cast<float>(key);
    e.value2 = velocity;
    engine->allocator.addEvent(e);
  };
  post(ml::Event::kNoteOn, 60, 0.8f, 10);
  run(64 * 5);  // held: no new start
  post(ml::Event::kNoteOn, 64, 0.8f, 0);
  run(64);
  EXPECT_EQ(engine->noteStartCounter, 2u);
  int stamped = 0;
  for (int v = 0; v < PluginProcessor::kNumVoices; ++v) stamped += engine->voiceNoteStamp[v] != 0;
  EXPECT_EQ(stamped, 2);
}

}  // namespace
