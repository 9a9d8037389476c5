// Lane 1 driving the Morph Fader: the host hears of the engine's own change as bare value events.
#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

TEST(LaneTargetPlugin, MorphFaderTargetReachesTheHostAsBareValues) {
  PluginFixture p;
  PluginProcessor& engine = p.object->engine;
  const float steps[1] = {0.75f};
  engine.setSeqSteps(1, steps, 1);
  engine.setSeqRunMode(1, kSeqRunTrig);
  engine.setSeqTarget(1, kSeqTargetMorphFader);
  engine.setSeqEnabled(1, true);

  const RenderResult result = p.render({}, 256 * 12, 256);
  ASSERT_FALSE(result.outputEvents.empty());
  for (const TimedEvent& e : result.outputEvents) {
    ASSERT_EQ(e.event.header.type, CLAP_EVENT_PARAM_VALUE) << "no gesture around an engine-made change";
    EXPECT_EQ(e.event.paramValue.param_id, kParamMorphFader);
    EXPECT_EQ(e.event.paramValue.value, 0.75);
  }
  EXPECT_EQ(engine.getParam(kParamMorphFader), 0.75);
  EXPECT_EQ(p.object->guiPoll.engineValue[kParamMorphFader].load(), 0.75f);
}
