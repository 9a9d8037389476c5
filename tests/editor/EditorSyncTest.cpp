// The full resync of the page: percent-encoding, parameter values, and the exact scripts of the state
// parts (snapshot numbers, UI state, kit, MTS-ESP lamps, tuning without labels).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "editor/EditorPush.h"
#include "editor/EditorSync.h"
#include "editor/PercentEncode.h"
#include "plugin/EditorCallbacks.h"
#include "plugin/PluginFixture.h"
#include "state/ParamNameMap.h"

TEST(EditorSync, PercentEncodingKeepsUnreservedBytesAndEncodesEveryOtherByte) {
  EXPECT_EQ(tavrinPercentEncode("a b/c"), "a%20b%2Fc");
  EXPECT_EQ(tavrinPercentEncode("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(tavrinPercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(tavrinPercentEncode("'\"%\\\n"), "%27%22%25%5C%0A");
  EXPECT_EQ(tavrinPercentEncode(std::string("a\0b", 3)), "a%00b");
  EXPECT_EQ(tavrinPercentEncode(nullptr, 5), "");
}

// The state goes into the head, before the page's own script, encoded so that nothing in it can end the
// script element; a document without a head, or no state, leaves the document as it is.
TEST(EditorSync, TheStartStateGoesIntoTheHeadEncoded) {
  const std::string page = "<!doctype html><html><head><title>t</title></head><body></body></html>";
  EXPECT_EQ(documentWithStartState(page, {"a('</script>');", "b();"}),
            "<!doctype html><html><head><script>window.mlibStartState=decodeURIComponent('"
            "try%7Ba%28%27%3C%2Fscript%3E%27%29%3B%0A%7Dcatch%28e%29%7B%7D%0Atry%7Bb%28%29%3B%0A%7Dcatch%28e%"
            "29%7B%7D%0A"
            "');</script><title>t</title></head><body></body></html>");
  EXPECT_EQ(documentWithStartState(page, {}), page);
  EXPECT_EQ(documentWithStartState("<p>no head</p>", {"b();"}), "<p>no head</p>");
}

TEST(EditorSync, ParametersAreSentOnceEachByCanonicalNameInNameMapOrder) {
  PluginFixture p;
  p.object->engine.setParam(kParamFilterACutoff, 10010.0);
  const auto params = syncParamValues(p.object->engine);
  const char* const first[] = {"voiceMode", "voiceCount",  "glide",   "ratio",      "fmIndex",    "fold",
                               "foldBias",  "filterModeA", "cutoffA", "resonanceA", "filterModeB"};
  for (size_t i = 0; i < std::size(first); ++i) EXPECT_STREQ(params[i].name, first[i]);
  EXPECT_DOUBLE_EQ(params[8].value, 0.5);
  std::array<int, kNumParams> seen{};
  for (const SyncParam& param : params) {
    const uint32_t id = tavrin_lookup_param_id(param.name);
    ASSERT_LT(id, kNumParams) << param.name;
    EXPECT_STREQ(param.name, kParamNames[id]);
    ++seen[id];
    const ParamInfo& row = kParams[id];
    EXPECT_DOUBLE_EQ(param.value, (p.object->engine.getParam(id) - row.min) / (row.max - row.min)) << id;
  }
  for (int count : seen) EXPECT_EQ(count, 1);
}

TEST(EditorSync, DefaultStateGivesEmptyPolesNoUIStateAnEmptyKitAndNoMaster) {
  PluginFixture p;
  EXPECT_EQ(
      syncStateScripts(*p.object),
      (std::vector<std::string>{
          "if(window.mlibSetSnapshotSeq) window.mlibSetSnapshotSeq(0,0);",
          "if(window.mlibSetEnvFeel) window.mlibSetEnvFeel(2);",
          "if(window.mlibSetUIState) window.mlibSetUIState(null);",
          "if(window.mlibRestoreSlots) window.mlibRestoreSlots({afxMode:false,baseKey:36,slots:[]});",
          "if(window.mlibSetControllerMap) window.mlibSetControllerMap({map:[[71,8],[72,12],[73,9],[74,7]],"
          "learn:-1});",
          "if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(false);"}));
}

TEST(EditorSync, StoredStateReachesThePageEncodedWithTheKitAndPoleNumbers) {
  PluginFixture p;
  CLAPPlugin& plugin = *p.object;
  plugin.uiStateJson = "{\"tab\":\"\xC3\xA9 x\"}";
  ParamSnapshot pole;
  pole.value[kParamFilterACutoff] = 10010.0;
  pole.has[kParamFilterACutoff] = true;
  pole.valid = true;
  pole.captureSeq = 41;
  plugin.engine.setSnapshot(1, pole);
  plugin.engine.setAfxMode(true);
  plugin.engine.setAfxBaseKey(48);
  plugin.engine.setSlotSnapshotGainPan(3, pole, 50, 0.5f, -1.0f);
  plugin.engine.setSlotSnapshotGainPan(7, pole, 55, 2.0f, 0.5f);
  for (auto& param : plugin.ccMap) param = 500;  // out of range: unmapped
  plugin.ccMap[127] = 118;
  plugin.ccLearnArmed = true;
  plugin.ccLearnParam = 0;
  plugin.engine.setEnvFeelModern(false);

  const std::vector<std::string> scripts = syncStateScripts(plugin);
  ASSERT_EQ(scripts.size(), 6u);
  EXPECT_EQ(scripts[0], "if(window.mlibSetSnapshotSeq) window.mlibSetSnapshotSeq(0,41);");
  EXPECT_EQ(scripts[1], "if(window.mlibSetEnvFeel) window.mlibSetEnvFeel(1);");
  EXPECT_EQ(scripts[2],
            "(function(){var u=null;try{u=decodeURIComponent('%7B%22tab%22%3A%22%C3%A9%20x%22%7D')}catch(e){}"
            "if(window.mlibSetUIState) window.mlibSetUIState(u);})();");
  EXPECT_EQ(scripts[3],
            "if(window.mlibRestoreSlots) window.mlibRestoreSlots({afxMode:true,baseKey:48,slots:["
            "{slot:3,note:50,gain:0.500000,pan:0.000000},{slot:7,note:55,gain:2.000000,pan:0.750000}]});");
  EXPECT_EQ(scripts[4],
            "if(window.mlibSetControllerMap) window.mlibSetControllerMap({map:[[127,118]],learn:0});");
}

TEST(EditorSync, MasterTuningIsSentWithoutLabels) {
  TuningSnapshot tuning{};
  tuning.valid = true;
  tuning.count = 2;
  tuning.ratios[0] = 1.0;
  tuning.ratios[1] = 1.5;
  std::strcpy(tuning.degreeText[1], "3/2");
  tuning.periodRatio = 2.0;
  tuning.keysPerPeriod = 12;
  std::strcpy(tuning.name, "Just");
  tuning.source = TuningSnapshot::kMTS;
  EXPECT_EQ(
      tuningDataScript(tuning, false),
      "try{if(window.mlibSetTuningData) window.mlibSetTuningData({intervals:[1.000000000000,1.500000000000],"
      "period:2.000000000000,scaleSize:12,name:decodeURIComponent('Just'),source:'mts'});}catch(e){}");
}
