// The built module's parameters through the render host: a mapped controller reaches the host inside a
// gesture, host values show in the parameter's value and text, and nothing is echoed back.
#include <gtest/gtest.h>

#include <string>

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
  const uint16_t types[] = {CLAP_EVENT_PARAM_GESTURE_BEGIN, CLAP_EVENT_PARAM_VALUE,
                            CLAP_EVENT_PARAM_GESTURE_END};
  for (size_t i = 0; i < 3; ++i) {
    const EventData& e = result.outputEvents[i].event;
    EXPECT_EQ(result.outputEvents[i].frame, 0u) << i;
    EXPECT_EQ(e.header.type, types[i]) << i;
    EXPECT_EQ(e.header.type == CLAP_EVENT_PARAM_VALUE ? e.paramValue.param_id : e.gesture.param_id, kCutoff)
        << i;
  }
  EXPECT_EQ(result.outputEvents[1].event.paramValue.value, 0.0);

  double value = -1.0;
  ASSERT_TRUE(params->get_value(instance.plugin(), kCutoff, &value));
  EXPECT_EQ(value, 0.0);
  ASSERT_TRUE(params->get_value(instance.plugin(), kResonance, &value));
  EXPECT_EQ(value, 0.5);
  char text[64];
  ASSERT_TRUE(params->value_to_text(instance.plugin(), kCutoff, value, text, sizeof text));
  EXPECT_EQ(std::string(text), "10.0 kHz");
  for (const LogEntry& entry : host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;
}
