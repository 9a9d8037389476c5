// The state through the built module over the CLAP interface: a state saved from one instance loads into
// another with the same parameter values, the same stream and the same sound.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "tests/state/StateFixture.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"

using namespace tavrin::host;

namespace {

std::vector<uint8_t> saveOver(const PluginInstance& instance) {
  const auto* state = instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryOStream out;
  out.chunk = 1000;
  EXPECT_TRUE(state->save(instance.plugin(), &out.stream));
  return out.bytes;
}

bool loadOver(const PluginInstance& instance, const std::vector<uint8_t>& bytes) {
  const auto* state = instance.extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryIStream in(bytes);
  in.chunk = 1000;
  return state->load(instance.plugin(), &in.stream);
}

RenderResult play(PluginInstance& instance, Host& host) {
  RenderJob job;
  job.sampleRate = 48000;
  job.frames = 48000 / 2;
  job.blocks.fixedFrames = 256;
  EXPECT_TRUE(instance.activate(job.sampleRate, 1, 256));
  const std::vector<TimedEvent> timeline = {{0, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 51, 0.9)},
                                            {100, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 64, 0.7)},
                                            {12000, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, 51, 0.0)},
                                            {12000, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, 64, 0.0)}};
  RenderResult result = render(instance, host, timeline, job);
  instance.deactivate();
  return result;
}

// A state with something in every part, and the built module to load it into.
struct StateModule : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(tavrin_state_save(*rich.engine, crafted, rich.sidecar));
    ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  }
  RichState rich;
  std::vector<uint8_t> crafted;
  ClapModule module;
  Host host;
};

}  // namespace

TEST_F(StateModule, SavedFromOneInstanceLoadsIntoAnotherWithTheSameValuesAndSound) {
  PluginInstance first(module.factory(), host, "com.nobrel.tavrin");
  PluginInstance second(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(first.init() && second.init());
  ASSERT_NE(first.extension<clap_plugin_state>(CLAP_EXT_STATE), nullptr);

  const int callbacks = host.callbackRequestCount();
  ASSERT_TRUE(loadOver(first, crafted));
  EXPECT_GT(host.callbackRequestCount(), callbacks);  // the editor is to be brought up to date
  const std::vector<uint8_t> saved = saveOver(first);
  ASSERT_TRUE(loadOver(second, saved));
  EXPECT_EQ(saveOver(second), saved);

  const auto* params = first.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  for (clap_id id = 0; id < kNumParams; ++id) {
    double a = -1.0;
    double b = -2.0;
    ASSERT_TRUE(params->get_value(first.plugin(), id, &a) && params->get_value(second.plugin(), id, &b));
    EXPECT_EQ(a, b) << id;
  }
  double cutoff = 0.0;
  params->get_value(first.plugin(), kParamFilterACutoff, &cutoff);
  EXPECT_NEAR(cutoff, (1234.5 - 20.0) / (20000.0 - 20.0), 1e-12);

  const RenderResult one = play(first, host);
  const RenderResult two = play(second, host);
  ASSERT_EQ(one.left.size(), two.left.size());
  double energy = 0.0;
  for (size_t i = 0; i < one.left.size(); ++i) {
    ASSERT_EQ(one.left[i], two.left[i]) << i;
    ASSERT_EQ(one.right[i], two.right[i]) << i;
    energy += one.left[i] * one.left[i];
  }
  EXPECT_GT(energy, 1.0);
  for (const LogEntry& entry : host.logEntries()) ADD_FAILURE() << "plug-in logged: " << entry.message;
}

TEST_F(StateModule, AFailedLoadKeepsThePlugInsSideData) {
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  ASSERT_TRUE(loadOver(instance, crafted));
  EXPECT_FALSE(loadOver(instance, {'T', 'V', 'R', 'N', 5}));
  const std::vector<uint8_t> after = saveOver(instance);
  const std::string text(after.begin(), after.end());
  EXPECT_NE(text.find(R"("theme":"dark")"), std::string::npos);  // the UI state stayed with the plug-in
  EXPECT_NE(text.find(R"("windowWidth":1000,"windowHeight":571)"), std::string::npos);
  EXPECT_EQ(after[12 + 8 * kNumParams + 4 * 74], kParamFilterACutoff);  // and the map
}
