// The built module's parameters through the render host: a mapped controller reaches the host inside a
// gesture, host values show in the parameter's value and text, and nothing is echoed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "clap/ext/params.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"

using namespace tavrin::host;

namespace {

constexpr clap_id kCutoff = 7;     // "Filter A Cutoff", 20 Hz .. 20 kHz, bound to CC 74
constexpr clap_id kResonance = 8;  // "Filter A Resonance"

}  // namespace

TEST(ModuleParams, ControllerGesturesAndHostValuesOverTheClapInterface) {
  ClapModule module;
  ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  Host host;
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  const auto* params = instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->count(instance.plugin()), 119u);

  RenderJob job;
  job.sampleRate = 48000;
  job.frames = 256 * 4;
  job.blocks.fixedFrames = 256;
  ASSERT_TRUE(instance.activate(job.sampleRate, 1, 256));
  const std::vector<TimedEvent> timeline = {{10, makeMidiEvent(0xB0, 74, 0)},
                                            {600, makeParamValueEvent(kResonance, 0.5)}};
  const RenderResult result = render(instance, host, timeline, job);
  instance.deactivate();

  ASSERT_EQ(result.outputEvents.size(), 3u);  // the host's own value is not echoed
  const auto& [begin, value, end] =
      std::tie(result.outputEvents[0].event, result.outputEvents[1].event, result.outputEvents[2].event);
  EXPECT_TRUE(begin.header.type == CLAP_EVENT_PARAM_GESTURE_BEGIN && begin.gesture.param_id == kCutoff);
  EXPECT_TRUE(value.header.type == CLAP_EVENT_PARAM_VALUE && value.paramValue.param_id == kCutoff);
  EXPECT_TRUE(end.header.type == CLAP_EVENT_PARAM_GESTURE_END && end.gesture.param_id == kCutoff);
  EXPECT_EQ(value.paramValue.value, 0.0);
  EXPECT_EQ(result.outputEvents[2].frame, 0u);

  double now = -1.0;
  ASSERT_TRUE(params->get_value(instance.plugin(), kCutoff, &now));
  EXPECT_EQ(now, 0.0);
  ASSERT_TRUE(params->get_value(instance.plugin(), kResonance, &now));
  EXPECT_EQ(now, 0.5);
  char text[64];
  ASSERT_TRUE(params->value_to_text(instance.plugin(), kCutoff, now, text, sizeof text));
  EXPECT_EQ(std::string(text), "10.0 kHz");
  for (const LogEntry& entry : host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;
}

// What a host's conformance check does for every parameter: values spread over the range shown as text,
// read back, shown again and read again; the texts and the values agree.
TEST(ModuleParams, TextsAndValuesConvertBackAndForthConsistently) {
  ClapModule module;
  ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  Host host;
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  const auto* params = instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  const clap_plugin* plugin = instance.plugin();
  const uint32_t count = params->count(plugin);
  const uint32_t perParam = std::clamp((4000 + count - 1) / count, 5u, 100u);
  for (clap_id id = 0; id < count; ++id) {
    for (uint32_t i = 0; i < perParam; ++i) {
      const double start = double(i) / (perParam - 1);
      char text[256];
      char again[256];
      double value = -1.0;
      double last = -2.0;
      ASSERT_TRUE(params->value_to_text(plugin, id, start, text, sizeof text));
      ASSERT_TRUE(params->text_to_value(plugin, id, text, &value)) << id << " '" << text << "'";
      ASSERT_TRUE(params->value_to_text(plugin, id, value, again, sizeof again));
      EXPECT_STREQ(again, text) << id << " at " << start;
      ASSERT_TRUE(params->text_to_value(plugin, id, again, &last));
      EXPECT_EQ(last, value) << id << " '" << text << "'";
    }
  }
}
