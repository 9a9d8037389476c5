// The built module at the sample rates a host may choose: it runs at both ends of its range, with every
// parameter at either end of its own range, and refuses a rate beyond them with a log line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"

using namespace tavrin::host;

namespace {

constexpr uint32_t kParamCount = 119;

// A chord held for half the render, with every parameter at normalised value v.
std::vector<TimedEvent> chordWithEveryParamAt(double v, uint64_t frames) {
  std::vector<TimedEvent> timeline;
  for (clap_id id = 0; id < kParamCount; ++id) timeline.push_back({0, makeParamValueEvent(id, v)});
  for (int16_t key : {24, 60, 67, 108}) {
    timeline.push_back({1, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, key, 1.0)});
    timeline.push_back({frames / 2, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, key, 0.0)});
  }
  return timeline;
}

}  // namespace

TEST(ModuleSampleRates, RunsAtBothEndsOfItsRangeAndRefusesRatesBeyond) {
  ClapModule module;
  ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  Host host;
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  for (double rate : {999.99, 768000.01}) {
    EXPECT_FALSE(instance.activate(rate, 1, 512)) << rate;
  }
  EXPECT_EQ(host.countLogged("cannot run at a sample rate of"), 2);

  for (double rate : {1000.0, 1234.5678, 768000.0}) {
    for (double v : {0.0, 1.0}) {
      RenderJob job;
      job.sampleRate = rate;
      job.frames = static_cast<uint64_t>(rate * 0.4);
      job.blocks.fixedFrames = 512;
      ASSERT_TRUE(instance.activate(rate, 1, 512)) << rate;
      const RenderResult result = render(instance, host, chordWithEveryParamAt(v, job.frames), job);
      instance.deactivate();
      ASSERT_EQ(result.left.size(), job.frames);
      double energy = 0.0;
      for (size_t i = 0; i < result.left.size(); ++i) {
        ASSERT_TRUE(std::isfinite(result.left[i]) && std::isfinite(result.right[i]))
            << rate << " " << v << " " << i;
        ASSERT_LT(std::fabs(result.left[i]) + std::fabs(result.right[i]), 4.0f)
            << rate << " " << v << " " << i;
        energy += result.left[i] * result.left[i];
      }
      if (v == 1.0) {
        EXPECT_GT(energy, 0.0) << rate;
      }
    }
  }
}
