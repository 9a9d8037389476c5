// Every benchmark load case rendered through the plug-in's CLAP interface at 48 and 96 kHz, with the
// allocation counter armed only inside process: no allocation and no free, release tails included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "ProcessAllocations.h"
#include "bench/CaseState.h"
#include "bench/EngineCases.h"
#include "engine/ParamTable.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"
#include "tools/host/Score.h"

using namespace tavrin::host;

namespace {

// The case as the host plays it: the patch at time 0 as normalised values, then its notes.
Score caseScore(const engine_cases::EngineCase& c) {
  Score score;
  for (const engine_cases::CaseParam& p : c.params) {
    const ParamInfo& row = kParams[p.id];
    score.params.push_back({0.0, p.id, (p.plain - row.min) / (row.max - row.min)});
  }
  for (const engine_cases::CaseNote& n : c.notes)
    score.notes.push_back({n.start, n.key, n.velocity, n.duration, 0});
  return score;
}

}  // namespace

TEST(ProcessAllocations, EveryLoadCaseRendersWithoutHeapTraffic) {
  ClapModule module;
  ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  for (const double rate : {48000.0, 96000.0}) {
    for (const engine_cases::EngineCase& c : engine_cases::engineCases(rate)) {
      SCOPED_TRACE(c.name + " at " + std::to_string(rate));
      Host host;
      PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
      ASSERT_TRUE(instance.valid());
      ASSERT_TRUE(instance.init());
      // The patch arrives with a state, as a host restores it.
      ASSERT_TRUE(instance.loadState(engine_cases::patchState(c.params)));
      RenderJob job;
      job.sampleRate = rate;
      // The long decay's allocation-free tail is the same as its first seconds: four are enough here.
      job.frames = static_cast<uint64_t>(std::min(c.seconds, 4.0) * rate);
      job.blocks = {.randomMin = 1, .randomMax = 700, .seed = 5};
      ASSERT_TRUE(instance.activate(job.sampleRate, 1, maxBlockFrames(job.blocks)));
      const process_allocations::Counts before = process_allocations::counted();
      const RenderResult result =
          render(instance, host, buildTimeline(caseScore(c), rate, NoteDialect::Clap), job,
                 {.before = [] { process_allocations::arm(true); },
                  .after = [] { process_allocations::arm(false); }});
      const process_allocations::Counts after = process_allocations::counted();
      EXPECT_TRUE(result.started);
      EXPECT_EQ(result.processErrors, 0u);
      EXPECT_EQ(after.allocations - before.allocations, 0u);
      EXPECT_EQ(after.frees - before.frees, 0u);
      float peak = 0.f;
      for (const float s : result.left) peak = std::max(peak, std::fabs(s));
      EXPECT_GT(peak, 0.f);
      instance.deactivate();
    }
  }
}
