// The engine's load cases rendered through its public interface at 48 and 96 kHz, one 64-frame process
// call per block, each timed in the thread's CPU time. Per case: microseconds per block, the real-time factor
// (audio seconds per CPU second on one core) and the 99th-percentile block time; also the mean block
// time of the last second over the first (the long decay's denormal check) and the release tails sounding.
// The idle cases give CPU milliseconds per audio second over their timed run, read as a whole: an idle
// block costs about as much as the clock reads that would time it alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <numeric>
#include <vector>

#include "EngineCases.h"
#include "engine/PluginProcessor.h"

namespace {

using engine_cases::EngineCase;
using engine_cases::NoteEvent;
constexpr uint32_t kBlock = 64;

int activeTails(const PluginProcessor& engine) {
  int n = 0;
  for (const ReleaseVoice& tail : engine.releaseVoices) n += tail.active ? 1 : 0;
  return n;
}

// CPU seconds of the calling thread: time the scheduler gave to other work on a busy machine is left out.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double mean(const std::vector<double>& v, size_t from, size_t to) {
  return to > from ? std::accumulate(v.begin() + from, v.begin() + to, 0.0) / double(to - from) : 0.0;
}

std::unique_ptr<PluginProcessor> startCase(const EngineCase& c, double sampleRate) {
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(sampleRate);
  engine_cases::applyCase(*engine, c);
  return engine;
}

void BM_EngineCase(benchmark::State& state, const EngineCase& c, double sampleRate) {
  const std::vector<NoteEvent> events = engine_cases::noteEvents(c, sampleRate);
  const auto blocks = static_cast<size_t>(c.seconds * sampleRate / kBlock);
  const size_t secondBlocks = static_cast<size_t>(sampleRate / kBlock);
  std::vector<double> all;                    // every block's seconds, all iterations
  std::vector<double> perBlock(blocks, 0.0);  // summed per block index, for the first and last second
  all.reserve(blocks * 64);
  float left[kBlock], right[kBlock];
  uint64_t tailBlocks = 0;
  for (auto _ : state) {
    const auto engine = startCase(c, sampleRate);
    size_t next = 0;
    double total = 0.0;
    for (size_t b = 0; b < blocks; ++b) {
      const uint64_t start = b * kBlock;
      const double t0 = threadSeconds();
      engine_cases::playEventsInBlock(*engine, events, next, start, kBlock);
      engine->process(left, right, kBlock);
      const double seconds = threadSeconds() - t0;
      benchmark::DoNotOptimize(left);
      total += seconds;
      perBlock[b] += seconds;
      all.push_back(seconds);
      tailBlocks += static_cast<uint64_t>(activeTails(*engine));
    }
    state.SetIterationTime(total);
  }
  const double blockMean = mean(all, 0, all.size());
  std::vector<double> sorted = all;
  const size_t p99 = std::min(sorted.size() - 1, sorted.size() * 99 / 100);
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(p99), sorted.end());
  state.counters["us_per_block"] = blockMean * 1e6;
  state.counters["rt_factor"] = (kBlock / sampleRate) / blockMean;
  state.counters["p99_us"] = sorted[p99] * 1e6;
  state.counters["tails"] = double(tailBlocks) / double(all.size());
  if (blocks >= 2 * secondBlocks) {
    state.counters["last_over_first"] =
        mean(perBlock, blocks - secondBlocks, blocks) / mean(perBlock, 0, secondBlocks);
  }
}

void BM_IdleCase(benchmark::State& state, const EngineCase& c, double sampleRate) {
  const std::vector<NoteEvent> events = engine_cases::noteEvents(c, sampleRate);
  const auto blocks = static_cast<size_t>(c.seconds * sampleRate / kBlock);
  const auto untimed = std::min(blocks, static_cast<size_t>(c.timedFrom * sampleRate / kBlock));
  float left[kBlock], right[kBlock];
  double total = 0.0;
  for (auto _ : state) {
    const auto engine = startCase(c, sampleRate);
    size_t next = 0;
    const auto render = [&](size_t from, size_t to) {
      for (size_t b = from; b < to; ++b) {
        engine_cases::playEventsInBlock(*engine, events, next, b * kBlock, kBlock);
        engine->process(left, right, kBlock);
        benchmark::DoNotOptimize(left);
      }
    };
    render(0, untimed);
    const double t0 = threadSeconds();
    render(untimed, blocks);
    const double seconds = threadSeconds() - t0;
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double timedAudioSeconds = double((blocks - untimed) * kBlock) / sampleRate;
  const double perAudioSecond = total / (double(state.iterations()) * timedAudioSeconds);
  state.counters["cpu_ms_per_s"] = 1e3 * perAudioSecond;
  state.counters["us_per_block"] = 1e6 * perAudioSecond * kBlock / sampleRate;
}

void registerCase(const char* kind, void (*run)(benchmark::State&, const EngineCase&, double),
                  const EngineCase& c, double rate) {
  const std::string name = std::string(kind) + "/" + c.name + "/" + std::to_string(int(rate / 1000)) + "k";
  benchmark::RegisterBenchmark(name.c_str(), run, c, rate)->UseManualTime()->Unit(benchmark::kMillisecond);
}

const bool s_registered = [] {
  for (const double rate : {48000.0, 96000.0}) {
    for (const EngineCase& c : engine_cases::engineCases(rate))
      registerCase("Engine", BM_EngineCase, c, rate);
    for (const EngineCase& c : engine_cases::idleCases()) registerCase("Idle", BM_IdleCase, c, rate);
  }
  return true;
}();

}  // namespace
