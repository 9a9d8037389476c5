// The editor's callbacks: parameter edits and control keys by name, the UI-state merge, snapshots, kit
// slots, tunings and kit files, with the page's bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "EditorSessionFixture.h"
#include "plugin/EditorCallbacks.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ParamSnapshot capturedSnapshot(uint32_t id, double plain) {
  ParamSnapshot s;
  s.value[id] = plain;
  s.has[id] = true;
  s.valid = true;
  return s;
}

// A kit slot's note, or -1 while it holds no sound.
int slotNote(PluginProcessor& engine, int slot) {
  ParamSnapshot sound;
  int note = 0;
  bool present = false;
  return engine.getSlotCopy(slot, sound, note, present) && present ? note : -1;
}

}  // namespace

TEST(EditorCallbacks, ParameterMessageEditsInsideAGestureAndFoldsUnlessTheViewRestores) {
  EditorSession e;
  PluginProcessor& engine = e.plugin().engine;
  e.post("cutoff", "0.5");
  EXPECT_EQ(engine.getParam(kParamFilterACutoff), 10010.0);
  EXPECT_TRUE(e.plugin().editDirty[kParamFilterACutoff].load());
  EXPECT_EQ(e.plugin().gestureCountdown[kParamFilterACutoff].load(), 1200);
  EXPECT_EQ(e.p.host.flushRequestCount(), 1);
  EXPECT_TRUE(rebasePending(engine, kParamFilterACutoff));

  engine.clearRebasePending();
  e.post("__uiRestoring", "1");
  e.post("resonanceA", "1");
  EXPECT_EQ(engine.getParam(kParamFilterAResonance), kParams[kParamFilterAResonance].max);
  EXPECT_FALSE(rebasePending(engine, kParamFilterAResonance));

  // Names the plug-in does not know, and values that are not finite, change nothing.
  const double cutoff = engine.getParam(kParamFilterACutoff);
  editorSetValue(e.plugin(), "cutoffZ", 0.1);
  editorSetValue(e.plugin(), nullptr, 0.1);
  editorSetValue(e.plugin(), "cutoff", kNaN);
  editorSetValue(e.plugin(), "cutoff", std::numeric_limits<double>::infinity());
  EXPECT_EQ(engine.getParam(kParamFilterACutoff), cutoff);
}

TEST(EditorCallbacks, LaneKeysSetTheNamedLaneAndKeepTheOtherHalfOfTheDelay) {
  EditorSession e;
  PluginProcessor& engine = e.plugin().engine;
  e.post("__seqDelay_1", "0.5");
  e.post("__seqDelayMul_1", "3");
  EXPECT_EQ(engine.getSeqDelayDiv(1), 0.5f);
  EXPECT_EQ(engine.getSeqDelayMul(1), 3);
  e.post("__seqDelay_1", "0.25");
  EXPECT_EQ(engine.getSeqDelayMul(1), 3);

  e.post("__seqTriggerKey", "60");
  for (int lane = 0; lane < 3; ++lane) EXPECT_EQ(engine.getSeqTriggerKey(lane), 60);
  e.post("__seqTriggerKey_2", "48");
  e.post("__seqTriggerKeyX", "40");
  e.post("__seqTriggerKey_7", "40");
  EXPECT_EQ(engine.getSeqTriggerKey(0), 60);
  EXPECT_EQ(engine.getSeqTriggerKey(2), 48);

  const bool enabled2 = engine.getSeqEnabled(2);
  e.post("__seqEnabled_7", enabled2 ? "0" : "1");
  e.post("__seqEnabled_", enabled2 ? "0" : "1");
  EXPECT_EQ(engine.getSeqEnabled(2), enabled2);

  e.post("__seqFreeRate_2", "7");
  EXPECT_EQ(engine.getSeqFreeRate(2), 7.0f);
  e.post("__seqRunMode_1", "2");
  EXPECT_EQ(engine.getSeqRunMode(1), 2);
  EXPECT_TRUE(rebasePending(engine, kRebaseKeySeqRun + 1));
  e.post("__filterLockB", "1");
  EXPECT_TRUE(engine.filterLocked(1));
  EXPECT_TRUE(rebasePending(engine, kRebaseKeyLockB));

  // A value that is not finite never reaches a lane.
  editorSetValue(e.plugin(), "__seqDelay_1", kNaN);
  editorSetValue(e.plugin(), "__seqFreeRate_2", kNaN);
  EXPECT_EQ(engine.getSeqDelayDiv(1), 0.25f);
  EXPECT_EQ(engine.getSeqFreeRate(2), 7.0f);
}

TEST(EditorCallbacks, KitAndEngineFlagKeys) {
  EditorSession e;
  PluginProcessor& engine = e.plugin().engine;
  e.post("__slotPan_3", "0.75");
  e.post("__slotGain_3", "2.5");
  e.post("__slotNote_3", "61.6");
  float gain = 0.0f;
  float pan = 0.0f;
  ASSERT_TRUE(engine.getSlotGainPan(3, gain, pan));
  EXPECT_EQ(pan, 0.5f);
  EXPECT_EQ(gain, 2.5f);
  ParamSnapshot slot;
  int note = 0;
  bool present = true;
  engine.getSlotCopy(3, slot, note, present);
  EXPECT_EQ(note, 62);
  editorSetValue(e.plugin(), "__slotGain_3", kNaN);
  editorSetValue(e.plugin(), "__slotGain_99999999999999999999", 1.0);
  engine.getSlotGainPan(3, gain, pan);
  EXPECT_EQ(gain, 2.5f);

  e.post("__afxBaseKey", "47.6");
  EXPECT_EQ(engine.afxBaseKeyValue(), 48);
  e.post("__envFeel", "2.0");
  EXPECT_TRUE(engine.envFeelModern());

  editorSetValue(e.plugin(), "__ccLearn", 7.0 / 119.0);
  EXPECT_TRUE(e.plugin().ccLearnArmed.load());
  EXPECT_EQ(e.plugin().ccLearnParam.load(), 7);
  e.post("__ccLearnCancel", "0");
  EXPECT_FALSE(e.plugin().ccLearnArmed.load());
  EXPECT_EQ(e.plugin().ccLearnParam.load(), -1);
}

TEST(EditorCallbacks, ArmedSlotIsAnsweredOnlyWhenItHoldsASound) {
  EditorSession e;
  e.plugin().engine.setSlotSnapshotGainPan(5, capturedSnapshot(kParamFilterACutoff, 10010.0), 64, 0.5f, 1.0f);
  e.post("__armSlot_4", "1");
  EXPECT_TRUE(e.view().scripts().empty());
  e.post("__armSlot_5", "1");
  ASSERT_EQ(e.view().scripts().size(), 1u);
  EXPECT_EQ(e.view().scripts()[0],
            "if(window.mlibLoadSlot) window.mlibLoadSlot(5,{\"cutoffA\":0.500000},64,0.500000,1.000000);");
  e.post("__armSlot_24", "1");
  EXPECT_EQ(e.view().scripts().size(), 1u);
}

TEST(EditorCallbacks, UIStateKeepsOnlyTheNativeKeysOfTheStoredCopy) {
  const std::string stored = "{\"windowWidth\":900,\"snapshotADsp\":\"x\",\"tuningFile\":\"Just\"}";
  EXPECT_EQ(mergeUIState("{\"windowWidth\":1,\"tab\":0.5}", stored),
            "{\"windowWidth\":900,\"tab\":0.500000,\"tuningFile\":\"Just\"}");
  EXPECT_EQ(mergeUIState("{\"tab\":2}", "not json"), "{\"tab\":2}");
  // A page state that is not an object would lose the native keys.
  for (const char* bad : {static_cast<const char*>(nullptr), "{\"tab\":", "[1,2]", "3"})
    EXPECT_EQ(mergeUIState(bad, stored), std::nullopt);

  const std::string padded = "{\"a\":\"" + std::string(kMaxUIStateBytes - 8, 'x') + "\"}";
  ASSERT_EQ(padded.size(), kMaxUIStateBytes);
  EXPECT_TRUE(mergeUIState(padded.c_str(), "").has_value());
  const std::string tooLong = "{\"a\":\"" + std::string(kMaxUIStateBytes - 7, 'x') + "\"}";
  EXPECT_EQ(mergeUIState(tooLong.c_str(), ""), std::nullopt);

  EditorSession e;
  e.plugin().uiStateJson = stored;
  e.post("__uiState", "\"{\\\"windowWidth\\\":1}\"");
  EXPECT_EQ(e.plugin().uiStateJson, "{\"windowWidth\":900,\"tuningFile\":\"Just\"}");
  e.post("__uiState", "\"[]\"");
  EXPECT_EQ(e.plugin().uiStateJson, "{\"windowWidth\":900,\"tuningFile\":\"Just\"}");
}

TEST(EditorCallbacks, SnapshotsTakeTheEngineSettingsAndDropStaleCaptures) {
  EditorSession e;
  CLAPPlugin& plugin = e.plugin();
  PluginProcessor& engine = plugin.engine;
  engine.setFilterLocked(0, true);
  engine.setSeqFreeRate(1, 4.0f);
  engine.setSeqRunMode(0, 2);

  editorSnapshot(plugin, 0, "{\"cutoffA\":0.5,\"__lockA\":0,\"__seq0_run\":1}");
  ParamSnapshot pole;
  ASSERT_TRUE(engine.getSnapshotCopy(0, pole));
  EXPECT_EQ(pole.value[kParamFilterACutoff], 10010.0);
  EXPECT_EQ(pole.lockA, 1);
  EXPECT_EQ(pole.seqRun[0], 2);
  EXPECT_EQ(pole.seqRate[1], 4.0f);
  const uint64_t landed = pole.captureSeq;
  EXPECT_GT(landed, 0u);

  // A capture numbered before the pole the engine holds is dropped; one numbered after lands.
  const std::string stale = "{\"cutoffA\":0.25,\"__seq\":" + std::to_string(landed - 1) + "}";
  editorSnapshot(plugin, 0, stale.c_str());
  engine.getSnapshotCopy(0, pole);
  EXPECT_EQ(pole.value[kParamFilterACutoff], 10010.0);
  const std::string fresh = "{\"cutoffA\":0.25,\"__seq\":" + std::to_string(landed + 5) + "}";
  editorSnapshot(plugin, 0, fresh.c_str());
  engine.getSnapshotCopy(0, pole);
  EXPECT_EQ(pole.captureSeq, landed + 5);
  EXPECT_NE(pole.value[kParamFilterACutoff], 10010.0);

  e.post("__snapshotB", "\"{\\\"cutoffA\\\":1}\"");
  EXPECT_TRUE(engine.hasSnapshot(1));
  e.post("__snapshotB", "\"{oops\"");
  EXPECT_FALSE(engine.hasSnapshot(1));
  editorSnapshot(plugin, 0, nullptr);
  EXPECT_FALSE(engine.hasSnapshot(0));
  editorSnapshot(plugin, 2, "{\"cutoffA\":1}");
  EXPECT_FALSE(engine.hasSnapshot(0));
}

TEST(EditorCallbacks, SlotSnapshotsKeepTheSlotNoteWithoutOneAndClearOnBadJson) {
  EditorSession e;
  PluginProcessor& engine = e.plugin().engine;
  engine.setSlotNote(2, 50);
  editorSlotSnap(e.plugin(), 2, -1, "{\"cutoffA\":0.5}");
  EXPECT_EQ(slotNote(engine, 2), 50);
  editorSlotSnap(e.plugin(), 2, 60, "{}");
  EXPECT_EQ(slotNote(engine, 2), -1);
  editorSlotSnap(e.plugin(), 40, 60, "{\"cutoffA\":0.5}");  // no such slot: nothing
}

TEST(EditorCallbacks, ScalaAndEmbeddedTuningsBecomeTheLocalTuningWithTheirNames) {
  EditorSession e;
  CLAPPlugin& plugin = e.plugin();
  const std::string scala = "! just.scl\nJust fifths\n2\n3/2\n2/1\n";
  EXPECT_TRUE(editorLoadTuning(plugin, "just", scala.data(), scala.size()));
  LocalTuning tuning{};
  ASSERT_TRUE(plugin.engine.getLocalTuningCopy(tuning));
  EXPECT_EQ(plugin.tuningFile, "just");
  EXPECT_EQ(plugin.tuningSource, "file");

  const std::string broken = "! bad\nBad\nseven\n";
  EXPECT_FALSE(editorLoadTuning(plugin, "bad", broken.data(), broken.size()));
  EXPECT_FALSE(editorLoadTuning(plugin, "empty", nullptr, 4));
  EXPECT_EQ(plugin.tuningFile, "just");

  const double intervals[] = {0.0, 1.25, 1.5};
  const char* labels[] = {"1/1", nullptr, "3/2 and a label longer than its field"};
  editorTuningEmbed(plugin, "Embedded", 1.0, intervals, 3, labels);
  ASSERT_TRUE(plugin.engine.getLocalTuningCopy(tuning));
  EXPECT_EQ(tuning.ratios[2], 1.5);
  EXPECT_EQ(tuning.keysPerPeriod, 3);
  EXPECT_STREQ(tuning.degreeText[1], "");
  EXPECT_STREQ(tuning.degreeText[2], "3/2 and a label longer ");
  EXPECT_EQ(plugin.localTuning, "Embedded");
  EXPECT_EQ(plugin.tuningFile, "");
  EXPECT_EQ(plugin.tuningSource, "embed");

  editorClearTuning(plugin);
  EXPECT_FALSE(plugin.engine.getLocalTuningCopy(tuning));
  EXPECT_EQ(plugin.localTuning, "");
  EXPECT_EQ(plugin.tuningSource, "");
}

TEST(EditorCallbacks, EmbeddedTuningRefusesRatiosWithoutAUsableFrequency) {
  LocalTuning tuning{};
  const double good[] = {1.0, 1.5};
  EXPECT_TRUE(embeddedTuning(nullptr, std::numeric_limits<double>::infinity(), good, 2, nullptr, tuning));
  EXPECT_EQ(tuning.periodRatio, 2.0);
  EXPECT_STREQ(tuning.name, "");
  for (double bad : {kNaN, std::numeric_limits<double>::infinity(), -1.5}) {
    const double intervals[] = {1.0, bad};
    EXPECT_FALSE(embeddedTuning("x", 2.0, intervals, 2, nullptr, tuning)) << bad;
  }
  EXPECT_FALSE(embeddedTuning("x", 2.0, good, 0, nullptr, tuning));
  EXPECT_FALSE(embeddedTuning("x", 2.0, nullptr, 2, nullptr, tuning));

  // A name longer than its field is cut without splitting a character.
  std::string name(62, 'a');
  name += "\xC3\xA9";
  EXPECT_TRUE(embeddedTuning(name.c_str(), 3.0, good, 2, nullptr, tuning));
  EXPECT_EQ(std::string(tuning.name), std::string(62, 'a'));
  EXPECT_EQ(tuning.periodRatio, 3.0);
}

TEST(EditorCallbacks, KitFileLoadTellsThePageEverySlotAndShowsTheFirst) {
  EditorSession e;
  PluginProcessor& engine = e.plugin().engine;
  const std::string path = std::string(TAVRIN_BINARY_DIR) + "/editor-callbacks.tkit";
  engine.setSlotSnapshotGainPan(3, capturedSnapshot(kParamFilterACutoff, 10010.0), 52, 1.5f, 0.0f);
  engine.setSlotSnapshotGainPan(7, capturedSnapshot(kParamFilterACutoff, 20.0), 60, 1.0f, -1.0f);
  editorKitFile(e.plugin(), 0, path.c_str());
  EXPECT_TRUE(e.view().scripts().empty());
  engine.clearSlot(3);
  editorKitFile(e.plugin(), 2, path.c_str());
  EXPECT_EQ(slotNote(engine, 3), 52);
  EXPECT_EQ(
      e.view().scripts(),
      (std::vector<std::string>{
          "if(window.mlibRestoreSlots) window.mlibRestoreSlots({afxMode:false,baseKey:36,slots:[{slot:3,"
          "note:52,gain:1.500000,pan:0.500000},{slot:7,note:60,gain:1.000000,pan:0.000000}]});",
          "if(window.mlibLoadSlot) window.mlibLoadSlot(3,{\"cutoffA\":0.500000},52,1.500000,0.500000);"}));

  // Failures change nothing on the page and come back with their reasons.
  e.view().clearScripts();
  EXPECT_EQ(editorKitFile(e.plugin(), 1, (path + ".missing").c_str()).reason, "No such file or directory");
  EXPECT_EQ(editorKitFile(e.plugin(), 1, TAVRIN_BINARY_DIR).reason, "it is a folder, not a regular file");
  EXPECT_EQ(editorKitFile(e.plugin(), 0, TAVRIN_BINARY_DIR).reason, "Is a directory");
  EXPECT_FALSE(editorKitFile(e.plugin(), 1, nullptr).ok);
  EXPECT_TRUE(e.view().scripts().empty());
  std::remove(path.c_str());
}
