// The 30 Hz push: exact statement texts of the first tick, what later ticks send and skip, the changed
// parameters, and the tuning statement.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "editor/EditorPush.h"
#include "engine/ParamTable.h"
#include "state/ClassicJson.h"

namespace {

struct Push {
  std::unique_ptr<GuiPollData> poll = std::make_unique<GuiPollData>();
  PushState state;

  PushScripts tick() { return buildPushScripts(*poll, state); }
  std::string batch() { return tick().batch; }
};

void publishTuning(GuiPollData& poll, uint32_t version) {
  poll.tuningVersion.store(version, std::memory_order_release);
}

}  // namespace

TEST(EditorPush, FirstTickSendsEveryGroupInOrderWithFourDecimals) {
  Push p;
  p.poll->voiceActivity[2] = 0.25f;
  p.poll->limiterActive = true;
  p.poll->lfo[0] = -0.5f;
  p.poll->lfo[3] = 0.125f;
  p.poll->seqStep[1] = 5;
  p.poll->seqActive[1] = true;
  p.poll->seqCount[1] = 2;
  p.poll->seqValues[1][0] = 0.75f;
  p.poll->seqValues[1][1] = 1.0f;
  p.poll->kitPlayhead = 0x80000001u;
  p.poll->levels[1] = 0.33333f;
  p.poll->keyTrackOffset[0] = 0.1f;
  p.poll->modPos[1] = 0.9f;
  p.poll->oscModPos[6] = 0.6f;
  p.poll->env1Stage = 2;
  p.poll->env2Value = 0.5f;
  p.poll->envNote = 60.0f;
  p.poll->envVelocity = 0.8f;
  EXPECT_EQ(
      p.batch(),
      "if(window.mlibSetVoiceActivity) window.mlibSetVoiceActivity([0.0000,0.0000,0.2500,0.0000,0.0000,"
      "0.0000,0.0000,0.0000]);"
      " if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(false);"
      " if(window.mlibSetLimiterState) window.mlibSetLimiterState(true);"
      " if(window.mlibSetLFOOutput) window.mlibSetLFOOutput(-0.5000, 0.0000, 0.0000, 0.1250);"
      " if(window.mlibSetSeqStep) window.mlibSetSeqStep(0, 5, 0);"
      " if(window.mlibSetSeqState) window.mlibSetSeqState([{active:false,vals:[]},{active:true,vals:[0.7500,"
      "1.0000]}]);"
      " if(window.mlibSetAfxPlayhead) window.mlibSetAfxPlayhead(2147483649);"
      " if(window.mlibSetPeakLevels) window.mlibSetPeakLevels(0.0000, 0.3333, 0.0000, 0.0000);"
      " if(window.mlibSetKeyTrackOffset) window.mlibSetKeyTrackOffset(0.1000, 0.0000);"
      " if(window.mlibSetModPositions) window.mlibSetModPositions(0.0000, 0.9000);"
      " if(window.mlibSetOscModPositions) window.mlibSetOscModPositions(0.0000, 0.0000, 0.0000, 0.0000, "
      "0.0000, 0.0000, 0.6000);"
      " if(window.mlibSetEnvPlayhead) window.mlibSetEnvPlayhead({envValue:0.0000,envStage:2,envPos:0.0000,"
      "env2Value:0.5000,env2Stage:6,env2Pos:0.0000,note:60.0000,vel:0.8000});");
  EXPECT_TRUE(p.state.primed);
  EXPECT_EQ(p.batch(), "");  // nothing moved: nothing to evaluate
}

TEST(EditorPush, LaterTicksSendOnlyGroupsThatMovedBeyondTheThreshold) {
  Push p;
  p.poll->voiceActivity[0] = 0.5f;
  p.tick();
  p.poll->voiceActivity[0] = 0.50005f;
  EXPECT_EQ(p.batch(), "");
  p.poll->voiceActivity[0] = 0.5002f;
  EXPECT_EQ(p.batch(),
            "if(window.mlibSetVoiceActivity) window.mlibSetVoiceActivity([0.5002,0.0000,0.0000,0.0000,0.0000,"
            "0.0000,0.0000,0.0000]);");

  // A skipped first group leaves the batch starting with a blank; integers and lamps change at any step.
  p.poll->mtsConnected = true;
  p.poll->env2Stage = 5;
  EXPECT_EQ(
      p.batch(),
      " if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(true);"
      " if(window.mlibSetEnvPlayhead) window.mlibSetEnvPlayhead({envValue:0.0000,envStage:6,envPos:0.0000,"
      "env2Value:0.0000,env2Stage:5,env2Pos:0.0000,note:-1.0000,vel:0.0000});");

  // A reset of the page sends everything again.
  p.state.primed = false;
  EXPECT_EQ(p.batch().rfind("if(window.mlibSetVoiceActivity) window.mlibSetVoiceActivity([0.5002,", 0), 0u);
  EXPECT_TRUE(pollMoved(0.5002f, 0.5f));
}

TEST(EditorPush, SequencerLanesSendAtMostEightValuesAndCompareFlagsAndCounts) {
  Push p;
  for (int i = 0; i < 8; ++i) p.poll->seqValues[0][i] = 0.1f * static_cast<float>(i);
  p.poll->seqCount[0] = 12;
  p.poll->seqCount[1] = -3;
  const std::string first = p.batch();
  EXPECT_NE(
      first.find(" if(window.mlibSetSeqState) window.mlibSetSeqState([{active:false,vals:[0.0000,0.1000,"
                 "0.2000,0.3000,0.4000,0.5000,0.6000,0.7000]},{active:false,vals:[]}]);"),
      std::string::npos);

  // A value past the count does not count as a move; the active flag does, with unmoved values.
  p.poll->seqValues[1][3] = 0.9f;
  EXPECT_EQ(p.batch(), "");
  p.poll->seqActive[0] = true;
  EXPECT_EQ(
      p.batch(),
      " if(window.mlibSetSeqState) window.mlibSetSeqState([{active:true,vals:[0.0000,0.1000,0.2000,0.3000,"
      "0.4000,0.5000,0.6000,0.7000]},{active:false,vals:[]}]);");
  p.poll->seqCount[0] = 7;
  EXPECT_NE(p.batch().find("{active:true,vals:[0.0000,0.1000,0.2000,0.3000,0.4000,0.5000,0.6000]}"),
            std::string::npos);
}

TEST(EditorPush, NonFiniteValuesReachThePageAsZeroAndDoNotBreakTheBatch) {
  Push p;
  p.poll->lfo[1] = std::numeric_limits<float>::quiet_NaN();
  p.poll->levels[0] = std::numeric_limits<float>::infinity();
  p.poll->engineValue[3] = std::numeric_limits<float>::quiet_NaN();
  p.poll->engineChanged[3] = true;
  const std::string batch = p.batch();
  EXPECT_EQ(batch.find("nan"), std::string::npos);
  EXPECT_EQ(batch.find("inf"), std::string::npos);
  EXPECT_NE(batch.find("window.mlibSetLFOOutput(0.0000, 0.0000, 0.0000, 0.0000);"), std::string::npos);
  EXPECT_NE(batch.find("window.mlibSetParamFromDsp('ratio', 0.000000);"), std::string::npos);
  EXPECT_EQ(p.batch(), "");  // a value that stays non-finite is not resent every tick
}

TEST(EditorPush, ChangedParametersAreSentOnceEngineFirstWithSixDecimals) {
  Push p;
  p.tick();
  p.poll->hostValue[kParamFilterACutoff] = 0.25f;
  p.poll->hostChanged[kParamFilterACutoff] = true;
  p.poll->engineValue[kParamFilterACutoff] = 0.5f;
  p.poll->engineChanged[kParamFilterACutoff] = true;
  p.poll->hostValue[kParamMorphFader] = 0.125f;
  p.poll->hostChanged[kParamMorphFader] = true;
  EXPECT_EQ(p.batch(),
            " if(window.mlibSetParamFromDsp) window.mlibSetParamFromDsp('cutoffA', 0.500000);"
            " if(window.mlibSetParam) window.mlibSetParam('cutoffA', 0.250000);"
            " if(window.mlibSetParam) window.mlibSetParam('crossfader', 0.125000);");
  EXPECT_FALSE(p.poll->hostChanged[kParamFilterACutoff].load());
  EXPECT_FALSE(p.poll->engineChanged[kParamFilterACutoff].load());
  EXPECT_EQ(p.batch(), "");
}

TEST(EditorPush, TuningIsSentOncePerVersionWithFilteredLabelsAndEncodedTexts) {
  Push p;
  EXPECT_EQ(p.tick().tuning, "");  // version 0 was never published as new

  GuiPollData& poll = *p.poll;
  poll.hasTuning = true;
  poll.tuningCount = 3;
  poll.tuningIntervals[0] = 1.0;
  poll.tuningIntervals[1] = 1.125;
  poll.tuningIntervals[2] = 1.5;
  std::strcpy(poll.tuningLabels[0], "1/1");
  std::strcpy(poll.tuningLabels[1], "-9/8 x");
  std::strcpy(poll.tuningLabels[2], "701.955c");
  poll.tuningPeriod = 2.0;
  poll.tuningScaleSize = 3;
  std::strcpy(poll.tuningName, "Tom's scale");
  poll.tuningSourceKind = 2;
  publishTuning(poll, 4);
  const PushScripts scripts = p.tick();
  EXPECT_EQ(
      scripts.tuning,
      "try{if(window.mlibSetTuningData) window.mlibSetTuningData({intervals:[1.000000000000,1.125000000000,"
      "1.500000000000],labels:[\"1/1\",\"9/8\",\"701.955\"],period:2.000000000000,scaleSize:3,"
      "name:decodeURIComponent('Tom%27s%20scale'),source:decodeURIComponent('file%3ATom%27s%20scale')});}"
      "catch(e){}");
  EXPECT_EQ(p.state.lastTuningVersion, 4u);
  EXPECT_EQ(p.tick().tuning, "");

  poll.tuningSourceKind = 1;
  poll.tuningCount = 100;  // more than the fields hold: 64 are sent
  publishTuning(poll, 5);
  const std::string mts = p.tick().tuning;
  EXPECT_NE(mts.find(",source:'mts'});}catch(e){}"), std::string::npos);
  size_t commas = 0;
  const std::string intervals = mts.substr(0, mts.find("],labels:"));
  for (char c : intervals) commas += c == ',' ? 1 : 0;
  EXPECT_EQ(commas, 63u);

  poll.tuningSourceKind = 0;
  poll.tuningCount = 1;
  publishTuning(poll, 6);
  EXPECT_NE(p.tick().tuning.find(",source:null});}catch(e){}"), std::string::npos);

  poll.hasTuning = false;
  publishTuning(poll, 7);
  EXPECT_EQ(p.tick().tuning, "try{if(window.mlibSetTuningData) window.mlibSetTuningData(null);}catch(e){}");

  // The page's resync asks for the tuning again, whatever the version.
  p.state.lastTuningVersion = PushState::kResendTuning;
  EXPECT_EQ(p.tick().tuning, "try{if(window.mlibSetTuningData) window.mlibSetTuningData(null);}catch(e){}");
}

TEST(EditorPush, TuningNameWithoutTerminatorStaysInsideItsField) {
  Push p;
  GuiPollData& poll = *p.poll;
  poll.hasTuning = true;
  poll.tuningCount = 1;
  poll.tuningIntervals[0] = 1.0;
  std::memset(poll.tuningName, 'a', sizeof poll.tuningName);
  std::memset(poll.tuningLabels[0], '7', sizeof poll.tuningLabels[0]);
  poll.tuningSourceKind = 2;
  publishTuning(poll, 1);
  const std::string script = p.tick().tuning;
  EXPECT_NE(script.find("name:decodeURIComponent('" + std::string(64, 'a') + "')"), std::string::npos);
  EXPECT_NE(script.find("labels:[\"" + std::string(24, '7') + "\"]"), std::string::npos);
}

TEST(EditorPush, NumbersTakeAFullStopUnderADecimalCommaLocale) {
  // A host may run under a locale with a decimal comma, which the C library's printf follows.
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing (scripts/setup.sh)";
  Push p;
  p.poll->lfo[0] = -0.5f;
  p.poll->tuningCount = 1;
  p.poll->tuningIntervals[0] = 1.5;
  p.poll->hasTuning = true;
  publishTuning(*p.poll, 1);
  p.poll->hostValue[kParamFilterACutoff] = 0.5f;
  p.poll->hostChanged[kParamFilterACutoff] = true;
  const PushScripts scripts = p.tick();
  const std::string json = classicJsonNumberText(0.25);
  std::setlocale(LC_ALL, before.c_str());

  EXPECT_NE(scripts.batch.find("window.mlibSetLFOOutput(-0.5000, 0.0000, 0.0000, 0.0000);"),
            std::string::npos);
  EXPECT_NE(scripts.batch.find("window.mlibSetParam('cutoffA', 0.500000);"), std::string::npos);
  EXPECT_NE(scripts.tuning.find("intervals:[1.500000000000]"), std::string::npos);
  EXPECT_EQ(json, "0.250000");
}
