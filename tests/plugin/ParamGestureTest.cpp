// Changes made inside the plug-in reaching the host: editor edits and mapped controllers inside gestures held
// for 25 ms of processed audio, engine-made changes as bare values, and the params flush while active and
// inactive, with and without the host's params extension.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PluginFixture.h"
#include "engine/ParamTable.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

namespace {

using Texts = std::vector<std::string>;

// "frame begin id", "frame value id normalised" or "frame end id", so a failure shows the whole sequence.
std::string describe(uint64_t frame, const EventData& event) {
  const uint16_t type = event.header.type;
  char text[96];
  if (type == CLAP_EVENT_PARAM_VALUE)
    std::snprintf(text, sizeof text, "%llu value %u %.6f", (unsigned long long)frame,
                  event.paramValue.param_id, event.paramValue.value);
  else
    std::snprintf(text, sizeof text, "%llu %s %u", (unsigned long long)frame,
                  type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? "begin"
                  : type == CLAP_EVENT_PARAM_GESTURE_END ? "end"
                                                         : "other",
                  event.gesture.param_id);
  return text;
}

Texts describe(const RenderResult& result) {
  Texts texts;
  for (const TimedEvent& e : result.outputEvents) texts.push_back(describe(e.frame, e.event));
  return texts;
}

Texts describe(const std::vector<EventData>& events) {
  Texts texts;
  for (const EventData& e : events) texts.push_back(describe(0, e));
  return texts;
}

// A params flush from the calling thread with the given input events.
std::vector<EventData> flushWith(PluginFixture& p, const std::vector<EventData>& input) {
  InputEventList in;
  for (const EventData& e : input) in.push(e);
  OutputEventList out;
  const auto* params = p.instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  params->flush(p.instance.plugin(), in.clapEvents(), out.clapEvents());
  return out.events();
}

}  // namespace

TEST(ParamGesture, EditorEditIsReportedInsideAGestureHeldFor25msOfProcessedAudio) {
  PluginFixture p;
  ASSERT_TRUE(p.object->applyEditorEdit(kParamFilterACutoff, 0.5));
  EXPECT_EQ(p.host.flushRequestCount(), 1);
  ASSERT_TRUE(p.host.takeFlushRequest());  // the first process call below serves it

  std::vector<int32_t> countdowns;
  const RenderResult result = p.render(
      {}, 256 * 8, 256, {.before = {}, .after = [&] {
                           countdowns.push_back(p.object->gestureCountdown[kParamFilterACutoff].load());
                         }});
  EXPECT_EQ(countdowns, (std::vector<int32_t>{944, 688, 432, 176, 0, 0, 0, 0}));
  EXPECT_EQ(describe(result), (Texts{"0 begin 7", "0 value 7 0.500000", "1024 end 7"}));

  // The events' form: a host that copies events by their size keeps the parameter id.
  const clap_event_param_value& v = result.outputEvents[1].event.paramValue;
  EXPECT_EQ(result.outputEvents[0].event.header.size, sizeof(clap_event_param_gesture));
  EXPECT_EQ(v.header.size, sizeof(clap_event_param_value));
  EXPECT_EQ(v.header.space_id, CLAP_CORE_EVENT_SPACE_ID);
  EXPECT_TRUE(v.cookie == nullptr && v.note_id == -1 && v.port_index == -1 && v.channel == -1 && v.key == -1);
  for (const LogEntry& entry : p.host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;

  // The hold follows the rate; an unknown id changes nothing.
  PluginFixture slower(44100.0);
  ASSERT_TRUE(slower.object->applyEditorEdit(kParamAmpEnvRelease, 1.0));
  EXPECT_EQ(slower.object->gestureCountdown[kParamAmpEnvRelease].load(), 1103);
  EXPECT_FALSE(slower.object->applyEditorEdit(kNumParams, 0.5));
  EXPECT_EQ(slower.host.flushRequestCount(), 1);
}

TEST(ParamGesture, TwoEditsOfOneDragShareOneGesture) {
  PluginFixture p;
  int block = 0;
  const RenderResult result =
      p.render({}, 256 * 10, 256,
               {.before =
                    [&] {
                      if (block == 0) p.object->applyEditorEdit(kParamFilterACutoff, 0.3);
                      if (block == 2) p.object->applyEditorEdit(kParamFilterACutoff, 0.6);  // 10.7 ms later
                      ++block;
                    },
                .after = {}});
  // The second edit re-arms the hold: it ends 1200 frames after the block that reported it.
  EXPECT_EQ(describe(result),
            (Texts{"0 begin 7", "0 value 7 0.300000", "512 value 7 0.600000", "1536 end 7"}));
}

TEST(ParamGesture, HostValuesForAParameterAreIgnoredWhileItsGestureIsOpen) {
  PluginFixture p;
  p.object->applyEditorEdit(kParamFilterACutoff, 0.5);
  p.host.takeFlushRequest();
  const std::vector<TimedEvent> timeline = {{100, makeParamValueEvent(kParamFilterACutoff, 0.9)},
                                            {100, makeParamValueEvent(kParamFilterAResonance, 1.0)},
                                            {1100, makeParamValueEvent(kParamFilterACutoff, 0.8)},
                                            {1300, makeParamValueEvent(kParamFilterACutoff, 0.2)}};
  std::vector<double> cutoff;
  const RenderResult result = p.render(
      timeline, 256 * 6, 256,
      {.before = {}, .after = [&] { cutoff.push_back(p.object->engine.getParam(kParamFilterACutoff)); }});
  // Held through the fifth block, whose scan ends the gesture; the value in the sixth block is applied.
  const double edited = 10010.0, applied = static_cast<float>(clapDenormParam(kParamFilterACutoff, 0.2));
  EXPECT_EQ(cutoff, (std::vector<double>{edited, edited, edited, edited, edited, applied}));
  EXPECT_EQ(p.object->engine.getParam(kParamFilterAResonance), kParams[kParamFilterAResonance].max);
  // Host values are never echoed back.
  EXPECT_EQ(describe(result), (Texts{"0 begin 7", "0 value 7 0.500000", "1024 end 7"}));
}

TEST(ParamGesture, MappedControllersReportBeginValueAndEndInTheirBlock) {
  PluginFixture p;
  const std::vector<TimedEvent> timeline = {{10, makeMidiEvent(0xB0, 74, 0)},
                                            {300, makeMidiEvent(0xB3, 71, 127)}};
  const RenderResult result = p.render(timeline, 256 * 4, 256);
  EXPECT_EQ(p.object->engine.getParam(kParamFilterACutoff), 20.0);
  EXPECT_EQ(describe(result), (Texts{"0 begin 7", "0 value 7 0.000000", "0 end 7", "256 begin 8",
                                     "256 value 8 1.000000", "256 end 8"}));
  EXPECT_EQ(p.host.flushRequestCount(), 0);  // reported by the process call itself
}

TEST(ParamGesture, EngineMadeChangeReachesTheHostAsABareValueAfterThePublish) {
  PluginFixture p;
  int block = 0;
  // The engine moves the morph fader by itself in the second block (on the audio thread, as its
  // write-back does).
  const RenderResult result = p.render({}, 256 * 12, 256,
                                       {.before =
                                            [&] {
                                              if (block++ == 1)
                                                p.object->engine.setParamFromDsp(kParamMorphFader, 0.75);
                                            },
                                        .after = {}});
  // The publish runs in the seventh block (1792 frames reach 1600 at 48 kHz); the eighth block's scan
  // reports it.
  EXPECT_EQ(describe(result), (Texts{"1792 value 51 0.750000"}));
  EXPECT_TRUE(p.object->guiPoll.engineChanged[kParamMorphFader].load());
  EXPECT_EQ(p.object->guiPoll.engineValue[kParamMorphFader].load(), 0.75f);
}

TEST(ParamGesture, FlushWhileActiveOpensTheGestureAndProcessingEndsIt) {
  PluginFixture p;
  p.startOnThisThread();
  p.object->applyEditorEdit(kParamFilterACutoff, 0.25);
  // The host's values come with the flush: the held parameter ignores its own, another one takes it.
  const auto flushed = flushWith(
      p, {makeParamValueEvent(kParamFilterACutoff, 1.0), makeParamValueEvent(kParamAmpEnvAttack, 0.0)});
  EXPECT_EQ(describe(flushed), (Texts{"0 begin 7", "0 value 7 0.250000"}));
  EXPECT_EQ(p.object->engine.getParam(kParamAmpEnvAttack), kParams[kParamAmpEnvAttack].min);
  EXPECT_EQ(flushWith(p, {}).size(), 0u);  // nothing pending, nothing pushed

  DirectBlock block(1200);
  EXPECT_EQ(p.instance.process(block.block), CLAP_PROCESS_CONTINUE);
  EXPECT_EQ(describe(block.out.events()), (Texts{"0 end 7"}));
  p.instance.stopProcessing();
  p.host.clearAudioThread();
  for (const LogEntry& entry : p.host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;
}

TEST(ParamGesture, FlushWhileInactiveEndsEveryGesture) {
  PluginFixture p;
  // A gesture left open at deactivation.
  p.startOnThisThread();
  p.object->applyEditorEdit(kParamFilterACutoff, 0.5);
  DirectBlock block(64);
  p.instance.process(block.block);
  EXPECT_EQ(describe(block.out.events()), (Texts{"0 begin 7", "0 value 7 0.500000"}));
  p.instance.stopProcessing();
  p.host.clearAudioThread();
  p.instance.deactivate();
  EXPECT_EQ(describe(flushWith(p, {})), (Texts{"0 end 7"}));

  // An edit while inactive: the flush the host runs for it opens and closes the gesture at once.
  p.object->applyEditorEdit(kParamAmpEnvRelease, 1.0);
  ASSERT_TRUE(p.host.takeFlushRequest());
  EXPECT_EQ(describe(flushWith(p, {})), (Texts{"0 begin 12", "0 value 12 1.000000", "0 end 12"}));
  EXPECT_EQ(p.object->gestureCountdown[kParamAmpEnvRelease].load(), 0);

  // Nothing holds either parameter against the host once processing resumes.
  ASSERT_TRUE(p.instance.activate(p.rate, 1, 4096));
  const RenderResult result = p.render({{0, makeParamValueEvent(kParamFilterACutoff, 1.0)},
                                        {0, makeParamValueEvent(kParamAmpEnvRelease, 0.0)}},
                                       256, 256);
  EXPECT_EQ(p.object->engine.getParam(kParamFilterACutoff), 20000.0);
  EXPECT_EQ(p.object->engine.getParam(kParamAmpEnvRelease), kParams[kParamAmpEnvRelease].min);
  EXPECT_TRUE(result.outputEvents.empty());
  for (const LogEntry& entry : p.host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;
}

TEST(ParamGesture, HostWithoutACompleteParamsExtensionStillGetsTheEvents) {
  for (const HostOptions options : {HostOptions{.params = false}, HostOptions{.paramsWithoutClear = true}}) {
    PluginFixture p(48000.0, 4096, options);
    ASSERT_TRUE(p.object->applyEditorEdit(kParamFilterACutoff, 0.5));
    EXPECT_EQ(p.host.flushRequestCount(), 0);  // nothing to ask, or no complete table to ask through
    const RenderResult result = p.render({}, 256 * 6, 256);
    EXPECT_EQ(describe(result), (Texts{"0 begin 7", "0 value 7 0.500000", "1024 end 7"}));
  }
}
