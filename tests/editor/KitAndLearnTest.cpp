// The page's kit and controller-learn messages as the plug-in receives them: the steps the page's own
// test drives, replayed from their shared file, every parameter id through learn, and the page's id table.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "EditorSessionFixture.h"
#include "editor/EditorPush.h"
#include "editor/MessageValues.h"
#include "platform/Desktop.h"
#include "state/LibraryFixture.h"

namespace {

const std::string kUiDir = std::string(TAVRIN_TEST_DIR) + "/../editor/ui";

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// What the plug-in holds for one probe name of the shared steps.
std::string probe(EditorSession& e, const std::string& what) {
  CLAPPlugin& plugin = e.plugin();
  PluginProcessor& engine = plugin.engine;
  ParamSnapshot sound;
  int note = 0;
  bool present = false;
  float gain = 0.0f;
  float pan = 0.0f;
  engine.getSlotCopy(3, sound, note, present);
  engine.getSlotGainPan(3, gain, pan);
  if (what == "kitMode") return engine.afxModeOn() ? "1" : "0";
  if (what == "baseKey") return std::to_string(engine.afxBaseKeyValue());
  if (what == "slotNote3") return std::to_string(note);
  if (what == "slotGain3") return number(gain);
  if (what == "slotPan3") return number(pan);
  if (what == "slotSound3") return std::to_string(present ? note : -1);
  if (what == "auditions") return std::to_string(engine.kit.audition.writeIndex.load());
  if (what == "learning") return std::to_string(plugin.controllerMapView().learning);
  if (what == "slotReplies3") {
    int replies = 0;
    for (const std::string& script : e.view().scripts())
      replies += script.rfind("if(window.mlibLoadSlot) window.mlibLoadSlot(3,", 0) == 0 ? 1 : 0;
    return std::to_string(replies);
  }
  if (what == "panel") {
    platform::mainQueue().runPending();
    if (platform::pendingPanels().empty()) return "none";
    const platform::PanelRequest& panel = platform::pendingPanels().back();
    return std::string(panel.kind == platform::PanelRequest::Kind::save ? "save " : "open ") +
           panel.allowedExtension + " " + fs::path(panel.folder).filename().string();
  }
  return "unknown probe " + what;
}

}  // namespace

TEST(KitAndLearn, EveryPageStepReachesThePlugIn) {
  const JsonTree fixture =
      parseJsonText(readFile(kUiDir + "/test/fixtures/kit-and-learn-messages.json").c_str());
  const cJSON* steps = cJSON_GetObjectItem(fixture.get(), "steps");
  ASSERT_GT(cJSON_GetArraySize(steps), 10);
  platform::resetDesktop();
  EditorSession e;
  const cJSON* step = nullptr;
  cJSON_ArrayForEach(step, steps) {
    const std::unique_ptr<char, decltype(&cJSON_free)> body(
        cJSON_PrintUnformatted(cJSON_GetObjectItem(step, "posts")), cJSON_free);
    e.view().postMessage("mlib", body.get());
    const cJSON* native = cJSON_GetObjectItem(step, "native");
    EXPECT_EQ(probe(e, cJSON_GetArrayItem(native, 0)->valuestring),
              cJSON_GetArrayItem(native, 1)->valuestring)
        << body.get();
  }
  platform::resetDesktop();
}

TEST(KitAndLearn, LearnArmsEveryParameterIdAsThePageSendsIt) {
  EditorSession e;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    e.post("__ccLearn", number((id + 0.5) / kNumParams));
    EXPECT_EQ(e.plugin().controllerMapView().learning, static_cast<int32_t>(id));
  }
  e.post("__ccLearn", "1");  // no parameter 119: armed, but learn waits for none
  EXPECT_EQ(e.plugin().controllerMapView().learning, -1);
}

TEST(KitAndLearn, PageNamesParameterIdsAsThePushDoes) {
  const std::string source = readFile(kUiDir + "/src/core/controllers.js");
  const size_t start = source.find("kParamIds = [");
  ASSERT_NE(start, std::string::npos);
  const std::string table = source.substr(start, source.find("];", start) - start);
  const std::regex quoted("'([A-Za-z0-9]+)'");
  uint32_t id = 0;
  for (auto it = std::sregex_iterator(table.begin(), table.end(), quoted); it != std::sregex_iterator();
       ++it, ++id) {
    ASSERT_LT(id, kNumParams);
    EXPECT_EQ((*it)[1].str(), kParamNames[id]) << id;
  }
  EXPECT_EQ(id, kNumParams);
}
