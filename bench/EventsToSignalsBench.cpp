// Cost of one allocator block: addEvent for N events, processVector and clearEvents, at polyphony 8.
#include <benchmark/benchmark.h>

#include <vector>

#include "foundation/MLEventsToSignals.h"

namespace {

void BM_EventsToSignalsBlock(benchmark::State& state) {
  const auto eventsPerBlock = static_cast<int>(state.range(0));
  ml::EventsToSignals ets;
  ets.setSampleRate(48000.0);
  ets.setPolyphony(8);
  ets.setPitchGlideInSeconds(0.02f);
  ets.setDriftAmount(0.5f);

  // Alternating note-ons and note-offs spread over the block, in arrival order.
  std::vector<ml::Event> block(static_cast<size_t>(eventsPerBlock));
  for (int i = 0; i < eventsPerBlock; ++i) {
    ml::Event& e = block[static_cast<size_t>(i)];
    const int key = 36 + (i / 2 * 7) % 60;
    e.type = i % 2 == 0 ? ml::Event::kNoteOn : ml::Event::kNoteOff;
    e.sourceIdx = static_cast<uint16_t>(key);
    e.time = (i * 64) / (eventsPerBlock > 0 ? eventsPerBlock : 1);
    e.value1 = static_cast<float>(key);
    e.value2 = e.type == ml::Event::kNoteOn ? 0.7f : 0.f;
  }
  // A first event so that processVector renders even with no events per block.
  ets.addEvent(ml::Event{});

  for (auto _ : state) {
    for (const ml::Event& e : block) ets.addEvent(e);
    ets.processVector(0);
    ets.clearEvents();
    benchmark::DoNotOptimize(ets.getVoice(0).outputs.constRow(0)[63]);
  }
  state.SetItemsProcessed(state.iterations() * eventsPerBlock);
}
BENCHMARK(BM_EventsToSignalsBlock)->Arg(0)->Arg(16)->Arg(128)->Arg(512);

}  // namespace
