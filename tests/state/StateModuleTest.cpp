// The state through the built module over the CLAP interface: a state saved from one instance loads into
// another with the same parameter values, the same stream and the same sound.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

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

// What a host's conformance check does: random values set through a flush, saved in pieces of 23 bytes,
// loaded into a new instance in pieces of 17: the host is asked to read the values again, they are the
// saved ones, and the stream saves again byte for byte.
TEST_F(StateModule, RandomValuesReloadWithARescanAndSaveTheSameStream) {
  std::vector<double> expected(kNumParams);
  std::vector<uint8_t> saved;
  {
    PluginInstance first(module.factory(), host, "com.nobrel.tavrin");
    ASSERT_TRUE(first.init());
    const auto* params = first.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
    std::mt19937 random(5);
    InputEventList events;
    for (clap_id id = 0; id < kNumParams; ++id) {
      clap_param_info info{};
      ASSERT_TRUE(params->get_info(first.plugin(), id, &info));
      const bool stepped = info.flags & CLAP_PARAM_IS_STEPPED;
      const double v = stepped ? double(random() % 2) : std::uniform_real_distribution<double>(0, 1)(random);
      events.push(makeParamValueEvent(id, v));
    }
    OutputEventList out;
    params->flush(first.plugin(), events.clapEvents(), out.clapEvents());
    for (clap_id id = 0; id < kNumParams; ++id) params->get_value(first.plugin(), id, &expected[id]);
    MemoryOStream stream;
    stream.chunk = 23;
    ASSERT_TRUE(first.extension<clap_plugin_state>(CLAP_EXT_STATE)->save(first.plugin(), &stream.stream));
    saved = stream.bytes;
  }
  PluginInstance second(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(second.init());
  const int rescans = host.rescanCount();
  MemoryIStream in(saved);
  in.chunk = 17;
  ASSERT_TRUE(second.extension<clap_plugin_state>(CLAP_EXT_STATE)->load(second.plugin(), &in.stream));
  EXPECT_GT(host.rescanCount(), rescans);
  EXPECT_TRUE(host.rescanFlags() & CLAP_PARAM_RESCAN_VALUES);
  const auto* params = second.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  for (clap_id id = 0; id < kNumParams; ++id) {
    double value = -1.0;
    ASSERT_TRUE(params->get_value(second.plugin(), id, &value));
    EXPECT_EQ(value, expected[id]) << id;
  }
  EXPECT_EQ(saveOver(second), saved);
}

// Random bytes (as a conformance check hands over, 1 MB three times), an empty stream, a cut header and
// a legacy stream with a value no writer stores are refused, and the instance saves as before.
TEST_F(StateModule, ARefusedLoadChangesNothing) {
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  ASSERT_TRUE(loadOver(instance, crafted));
  const std::vector<uint8_t> before = saveOver(instance);
  const int rescans = host.rescanCount();

  std::vector<std::vector<uint8_t>> refused = {{}, {'T', 'V', 'R', 'N', 5}, std::vector<uint8_t>(8, 0xFF)};
  std::mt19937 random(11);
  for (int i = 0; i < 3; ++i) {
    refused.emplace_back(size_t{1} << 20);
    for (uint8_t& byte : refused.back()) byte = static_cast<uint8_t>(random());
  }
  for (const std::vector<uint8_t>& bytes : refused) EXPECT_FALSE(loadOver(instance, bytes)) << bytes.size();
  EXPECT_EQ(saveOver(instance), before);
  EXPECT_EQ(host.rescanCount(), rescans);
}
