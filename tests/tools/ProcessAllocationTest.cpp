// The audio path allocates and frees nothing: a whole rendering over the CLAP interface with the
// counter armed only inside each process call, and its output stays finite below the limiter's ceiling.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "ProcessAllocations.h"
#include "clap/ext/params.h"
#include "tools/host/AudioFile.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"
#include "tools/host/Score.h"

using namespace tavrin::host;

namespace {

uint64_t allocationsDuring(const std::function<void()>& work) {
  const uint64_t before = process_allocations::counted().allocations;
  process_allocations::arm(true);
  work();
  process_allocations::arm(false);
  return process_allocations::counted().allocations - before;
}

}  // namespace

TEST(ProcessAllocations, RenderingAllocatesAndFreesNothing) {
  ClapModule module;
  ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  Host host;
  const clap_plugin* made = nullptr;
  // The module's own allocations reach the counter: making an instance allocates it.
  EXPECT_GT(allocationsDuring([&] {
              made = module.factory()->create_plugin(module.factory(), host.clapHost(), "com.nobrel.tavrin");
            }),
            0u);
  PluginInstance instance(made);
  ASSERT_TRUE(instance.valid());
  ASSERT_TRUE(instance.init());

  RenderJob job;
  job.sampleRate = 48000;
  job.frames = 48000 * 2;
  job.blocks = {.randomMin = 0, .randomMax = 1100, .seed = 11};
  job.transport.enabled = true;
  ASSERT_TRUE(instance.activate(job.sampleRate, 1, maxBlockFrames(job.blocks)));

  Score score;
  score.notes = {
      {0.0, 60, 0.8, 0.6, 0}, {0.1, 64, 0.7, 1.2, 1}, {0.2, 67, 1.0, 0.3, 2}, {1.0, 72, 0.5, 0.5, 0}};
  score.params = {{0.05, 7, 0.3}, {0.5, 12, 0.9}, {1.5, 17, 0.2}};
  static const uint8_t retune[] = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x40, 0x00, 0xF7};
  score.events = {{4800, makeMidiEvent(0xB0, 74, 30)},
                  {9600, makeMidiEvent(0xE0, 0x00, 0x50)},
                  {12000, makeMidiEvent(0xB0, 64, 127)},
                  {30000, makeMidiEvent(0xB0, 64, 0)},
                  {40000, makeSysexEvent(retune, sizeof retune)},
                  {60000, makeMidiEvent(0xB0, 123, 0)},
                  {70000, makeNoteEvent(CLAP_EVENT_NOTE_CHOKE, -1, -1, 0.0)},
                  {80000, makeMidiEvent(0xB0, 120, 0)}};
  for (const NoteDialect dialect : {NoteDialect::Clap, NoteDialect::Midi}) {
    const process_allocations::Counts before = process_allocations::counted();
    const RenderResult result = render(
        instance, host, buildTimeline(score, job.sampleRate, dialect), job,
        {.before = [] { process_allocations::arm(true); }, .after = [] { process_allocations::arm(false); }});
    const process_allocations::Counts after = process_allocations::counted();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.processErrors + result.droppedInputEvents, 0u);
    EXPECT_EQ(after.allocations - before.allocations, 0u);
    EXPECT_EQ(after.frees - before.frees, 0u);
    const AudioStats left = measure(result.left), right = measure(result.right);
    EXPECT_LE(std::max(left.peak, right.peak), 1.0f);  // the limiter's ceiling
    EXPECT_EQ(left.nanCount + right.nanCount + left.infCount + right.infCount, 0u);
  }
  instance.deactivate();
  for (const LogEntry& entry : host.logEntries())
    ADD_FAILURE() << "plug-in logged: " << entry.message;  // every call came on its proper thread
}
