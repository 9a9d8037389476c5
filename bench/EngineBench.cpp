// Real-time factor of the whole engine at 48 kHz.
//
// The patch is the default one, changed by TAVRIN_BENCH_PATCH="id=plain,id=plain,..." (parameter ids and
// plain values); TAVRIN_BENCH_NOTES (default 8) notes are held throughout. The benchmark argument is the
// host block size in frames.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/PluginProcessor.h"

namespace {

constexpr double kSampleRate = 48000.0;

void applyPatchFromEnvironment(PluginProcessor& engine) {
  const char* patch = std::getenv("TAVRIN_BENCH_PATCH");
  if (patch == nullptr) return;
  std::stringstream list(patch);
  std::string item;
  while (std::getline(list, item, ',')) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    engine.setParam(static_cast<uint32_t>(std::strtoul(item.substr(0, eq).c_str(), nullptr, 10)),
                    std::strtod(item.substr(eq + 1).c_str(), nullptr));
  }
}

void holdNotes(PluginProcessor& engine) {
  const char* count = std::getenv("TAVRIN_BENCH_NOTES");
  const int notes = count != nullptr ? std::atoi(count) : 8;
  for (int n = 0; n < notes && n < 128; ++n) {
    ml::Event e;
    e.type = ml::Event::kNoteOn;
    e.sourceIdx = static_cast<uint16_t>(48 + n * 3 % 80);
    e.value1 = static_cast<float>(e.sourceIdx);
    e.value2 = 0.8f;
    engine.allocator.addEvent(e);
  }
}

void BM_EngineRealTimeFactor(benchmark::State& state) {
  auto engine = std::make_unique<PluginProcessor>();
  applyPatchFromEnvironment(*engine);
  engine->setSampleRate(kSampleRate);
  holdNotes(*engine);
  const auto frames = static_cast<uint32_t>(state.range(0));
  std::vector<float> left(frames), right(frames);
  for (auto _ : state) {
    engine->process(left.data(), right.data(), frames);
    benchmark::DoNotOptimize(left.data());
  }
  // Seconds of audio rendered per second of wall time.
  state.counters["realtime_factor"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * frames / kSampleRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineRealTimeFactor)->Arg(64)->Arg(512);

}  // namespace
