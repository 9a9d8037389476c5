// The push and the resync in an open editor: the 30 Hz timer, one batch in flight at a time, the resets
// of a page load and of "__ready", the full resync and the main-thread callback after a state load.
#include <clap/ext/state.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EditorSessionFixture.h"
#include "editor/PercentEncode.h"
#include "editor/PluginEditorImpl.h"
#include "state/MemoryStreams.h"
#include "state/ParamNameMap.h"
#include "state/StateStream.h"

namespace {

const std::string kNullTuning = "try{if(window.mlibSetTuningData) window.mlibSetTuningData(null);}catch(e){}";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The envelope model that a state saved from the session's instance brings to a new engine.
bool savedModelIsModern(EditorSession& e) {
  const auto* state = e.p.instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryOStream saved;
  EXPECT_TRUE(state->save(e.p.instance.plugin(), &saved.stream));
  auto engine = std::make_unique<PluginProcessor>();
  engine->setEnvFeelModern(false);
  TavrinStateSidecar sidecar;
  EXPECT_TRUE(tavrin_state_load(*engine, saved.bytes.data(), saved.bytes.size(), sidecar));
  return engine->envFeelModern();
}

}  // namespace

TEST(EditorPushTimer, TimerRunsAt30HzAndKeepsOneBatchInFlight) {
  EditorSession e;
  PluginEditor::Impl& impl = *e.plugin().editor->impl;
  ASSERT_TRUE(impl.timer);
  EXPECT_EQ(impl.timer->intervalNs(), 33'333'333u);
  EXPECT_EQ(impl.timer->leewayNs(), 16'666'666u);
  EXPECT_TRUE(impl.timer->running());

  ASSERT_EQ(platform::mainQueue().fireTimers(platform::monotonicNanoseconds()), 1u);
  ASSERT_EQ(e.view().scripts().size(), 1u);
  EXPECT_TRUE(startsWith(e.view().scripts()[0], "if(window.mlibSetVoiceActivity)"));
  EXPECT_EQ(e.view().pendingCompletions(), 1u);

  // While the batch runs, ticks send nothing and lose nothing.
  GuiPollData& poll = e.plugin().guiPoll;
  poll.hostValue[kParamGlide] = 0.25f;
  poll.hostChanged[kParamGlide] = true;
  poll.voiceActivity[7] = 1.0f;
  e.tick();
  EXPECT_EQ(e.view().scripts().size(), 1u);
  e.view().completeScripts("ReferenceError: x");  // a script error of the page is swallowed
  e.tick();
  ASSERT_EQ(e.view().scripts().size(), 2u);
  EXPECT_EQ(e.view().scripts()[1],
            "if(window.mlibSetVoiceActivity) window.mlibSetVoiceActivity([0.0000,0.0000,0.0000,0.0000,0.0000,"
            "0.0000,0.0000,1.0000]); if(window.mlibSetParam) window.mlibSetParam('glide', 0.250000);");

  e.view().completeScripts();
  e.tick();
  EXPECT_EQ(e.view().scripts().size(), 2u);  // nothing moved: nothing evaluated, nothing in flight
  EXPECT_EQ(e.view().pendingCompletions(), 0u);
  e.tick();
  EXPECT_EQ(e.view().scripts().size(), 2u);

  // Closing the editor cancels the timer.
  auto timer = impl.timer;
  e.plugin().editor->destroyPlatformView();
  EXPECT_TRUE(timer->cancelled());
  e.tick();
}

TEST(EditorPushTimer, FinishedPageLoadResendsEverythingEvenWithABatchLostInFlight) {
  EditorSession e;
  e.tick();
  ASSERT_EQ(e.view().pendingCompletions(), 1u);
  e.view().clearScripts();
  e.view().finishNavigation();
  e.tick();
  ASSERT_EQ(e.view().scripts().size(), 1u);
  EXPECT_TRUE(startsWith(e.view().scripts()[0], "if(window.mlibSetVoiceActivity)"));

  // The lost batch's late completion does not free the new one's place.
  e.view().completeScripts();
  e.view().clearScripts();
  e.plugin().guiPoll.kitPlayhead = 3;
  e.tick();
  EXPECT_EQ(e.view().scripts(),
            (std::vector<std::string>{" if(window.mlibSetAfxPlayhead) window.mlibSetAfxPlayhead(3);"}));
}

// The page starts with the engine's state in its document: "__ready" then brings only the push, at once
// and whole. The whole state follows when a value moved after the document was made, at a second
// "__ready" of the same page, and when the state was too long to go with the document.
TEST(EditorPushTimer, ReadySendsTheStateThePageDidNotStartWithAndThePushAtOnce) {
  enum class Case { startedWithIt, valueMoved, longViewState };
  for (const Case c : {Case::startedWithIt, Case::valueMoved, Case::longViewState}) {
    SCOPED_TRACE(static_cast<int>(c));
    EditorSession e{EditorSession::Closed{}};
    if (c == Case::longViewState) e.plugin().uiStateJson = "\"" + std::string(1u << 20, 'x') + "\"";
    e.open();
    const bool handedOver = e.view().loads().back().html.find("window.mlibStartState=") != std::string::npos;
    EXPECT_EQ(handedOver, c != Case::longViewState);
    e.tick();
    e.view().completeScripts();
    e.view().clearScripts();
    if (c == Case::valueMoved) e.plugin().engine.setParam(kParamFilterACutoff, 10010.0);

    e.post("__ready", "1");
    const std::vector<std::string>& scripts = e.view().scripts();
    const size_t pushAt = kNumParams + 6;
    if (c == Case::startedWithIt) {
      ASSERT_EQ(scripts.size(), 2u);
      EXPECT_EQ(scripts[0], kNullTuning);
      e.view().completeScripts();
      e.view().clearScripts();
      e.post("__ready", "1");
    }
    ASSERT_EQ(scripts.size(), pushAt + 2);
    EXPECT_EQ(scripts[kNumParams], "if(window.mlibSetSnapshotSeq) window.mlibSetSnapshotSeq(0,0);");
    EXPECT_EQ(scripts[kNumParams + 5], "if(window.mlibSetMTSStatus) window.mlibSetMTSStatus(false);");
    if (c == Case::valueMoved) {
      EXPECT_EQ(scripts[8], "if(window.mlibSetParam) window.mlibSetParam('cutoffA', 0.500000);");
    }
    EXPECT_EQ(scripts[pushAt], kNullTuning);
    EXPECT_TRUE(startsWith(scripts[pushAt + 1], "if(window.mlibSetVoiceActivity)"));
    EXPECT_NE(scripts[pushAt + 1].find(" if(window.mlibSetControllerMap) window.mlibSetControllerMap("),
              std::string::npos);
  }
}

// Opening the editor never changes the sound: the resync tells the page the engine's envelope model
// before the view state, and a page with nothing stored answers with that model. A fresh instance plays
// the modern model; one loaded from a stream older than the choice of model, the classic one.
TEST(EditorPushTimer, OpeningTheEditorKeepsTheEnvelopeModelThatASaveCarries) {
  for (const bool fresh : {true, false}) {
    EditorSession e{EditorSession::Closed{}};
    if (!fresh) {
      MemoryOStream current;
      const auto* state = e.p.instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
      ASSERT_TRUE(state->save(e.p.instance.plugin(), &current.stream));
      // Its version 2 form: the values and the controller map alone.
      std::vector<uint8_t> old(current.bytes.begin(), current.bytes.begin() + 12 + 8 * kNumParams + 4 * 128);
      old[4] = 2;
      MemoryIStream in(old);
      ASSERT_TRUE(state->load(e.p.instance.plugin(), &in.stream));
    }
    const bool before = savedModelIsModern(e);
    EXPECT_EQ(before, fresh);

    e.open();
    const std::string told =
        std::string("if(window.mlibSetEnvFeel) window.mlibSetEnvFeel(") + (fresh ? "2" : "1") + ");";
    const std::string& document = e.view().loads().back().html;
    const size_t toldAt = document.find(tavrinPercentEncode(told));
    ASSERT_NE(toldAt, std::string::npos);
    EXPECT_GT(document.find(tavrinPercentEncode("if(window.mlibSetUIState) window.mlibSetUIState(null);")),
              toldAt);
    e.post("__envFeel", fresh ? "2" : "1");
    EXPECT_EQ(savedModelIsModern(e), before);
  }
}

TEST(EditorPushTimer, ControllerMapIsSentWhenLearnArmsOrBinds) {
  EditorSession e;
  e.tick();
  e.view().completeScripts();
  e.view().clearScripts();
  const auto tickScript = [&e] {
    e.tick();
    e.view().completeScripts();
    std::string batch = e.view().scripts().empty() ? "" : e.view().scripts().back();
    e.view().clearScripts();
    return batch;
  };
  const std::string defaults = "[71,8],[72,12],[73,9],[74,7]";
  e.post("__ccLearn", "0.1638655462184874");
  EXPECT_EQ(tickScript(), " if(window.mlibSetControllerMap) window.mlibSetControllerMap({map:[" + defaults +
                              "],learn:19});");
  EXPECT_EQ(tickScript(), "");

  // Controller 20 moves on the audio thread: learn binds it, and the page hears of it on the next tick.
  clap_event_midi cc{};
  cc.header = {sizeof cc, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
  cc.data[0] = 0xB0;
  cc.data[1] = 20;
  cc.data[2] = 64;
  e.plugin().processEvent(cc.header);
  EXPECT_NE(tickScript().find("window.mlibSetControllerMap({map:[[20,19]," + defaults + "],learn:-1});"),
            std::string::npos);
}

TEST(EditorPushTimer, StateLoadSyncsTheOpenEditorOnceOnTheMainThread) {
  EditorSession e;
  const auto* state = e.p.instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryOStream saved;
  e.plugin().uiStateJson = "{\"tab\":1}";
  ASSERT_TRUE(state->save(e.p.instance.plugin(), &saved.stream));
  MemoryIStream first(saved.bytes);
  MemoryIStream second(saved.bytes);
  ASSERT_TRUE(state->load(e.p.instance.plugin(), &first.stream));
  ASSERT_TRUE(state->load(e.p.instance.plugin(), &second.stream));
  EXPECT_TRUE(e.plugin().editorNeedsSync.load());
  EXPECT_GE(e.p.host.callbackRequestCount(), 1);

  // The main-thread call also runs the push, which has nothing new to send once it has sent everything.
  platform::mainQueue().fireTimers(platform::monotonicNanoseconds());
  e.view().completeScripts();
  e.view().clearScripts();
  e.p.instance.plugin()->on_main_thread(e.p.instance.plugin());
  EXPECT_FALSE(e.plugin().editorNeedsSync.load());
  ASSERT_EQ(e.view().scripts().size(), kNumParams + 6);
  // The loaded UI state, with what the state writer added to it, reaches the page encoded.
  EXPECT_TRUE(startsWith(e.view().scripts()[kNumParams + 2],
                         "(function(){var u=null;try{u=decodeURIComponent('%7B%22tab%22%3A1%2C"));
  e.p.instance.plugin()->on_main_thread(e.p.instance.plugin());
  EXPECT_EQ(e.view().scripts().size(), kNumParams + 6);
}

TEST(EditorPushTimer, SyncRequestWithoutAnEditorIsConsumedSilently) {
  PluginFixture p;
  p.object->editorNeedsSync = true;
  p.instance.plugin()->on_main_thread(p.instance.plugin());
  EXPECT_FALSE(p.object->editorNeedsSync.load());
  p.object->syncEditorToEngineState();

  // An editor without its view yet drops every script.
  const auto* gui = p.instance.extension<clap_plugin_gui>(CLAP_EXT_GUI);
  gui->create(p.instance.plugin(), CLAP_WINDOW_API_COCOA, false);
  p.object->editor->pollTick();
  p.object->syncEditorToEngineState();
  EXPECT_EQ(p.object->editor->webView(), nullptr);
  gui->destroy(p.instance.plugin());
}
