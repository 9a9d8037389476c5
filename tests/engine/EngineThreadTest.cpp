// The main-thread setters against a rendering audio thread: run under ThreadSanitizer, the race detector
// checks every hand-over; in any build the output stays finite.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "engine/EngineFixture.h"

namespace {

constexpr int kRounds = 40;

// Notes come and go on the audio thread while it renders, until stop is raised.
void renderUntilStopped(PluginProcessor& engine, const std::atomic<bool>& stop, std::atomic<bool>& finite) {
  float left[64], right[64];
  for (int block = 0; !stop.load(std::memory_order_acquire); ++block) {
    const int key = 48 + (block * 7) % 36;
    if (block % 3 == 0) engine.handleNoteOn(0, key, 0.8, block % 64);
    if (block % 5 == 0) engine.handleNoteOff(0, 48 + ((block - 15) * 7 % 36 + 36) % 36, 0);
    engine.process(left, right, 64);
    for (int i = 0; i < 64; ++i) {
      if (!std::isfinite(left[i]) || !std::isfinite(right[i])) finite.store(false, std::memory_order_relaxed);
    }
  }
}

}  // namespace

TEST(EngineThreads, MainThreadSettersRaceARenderingAudioThread) {
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(48000.0);
  const PluginProcessor::LocalTuning tuning = scalaTuning("! quarter tones\nQuarter\n1\n50.0\n");

  std::atomic<bool> stop{false};
  std::atomic<bool> finite{true};
  std::thread audio(renderUntilStopped, std::ref(*engine), std::cref(stop), std::ref(finite));
  for (int round = 0; round < kRounds; ++round) {
    // Every parameter walks its range: low, high, then the default.
    for (uint32_t id = 0; id < kNumParams; ++id) {
      const ParamInfo& row = kParams[id];
      const double pick[3] = {row.min, row.max, row.def};
      engine->setParam(id, pick[(round + id) % 3]);
    }
    if (round % 2 == 0) {
      engine->setLocalTuning(tuning);
    } else {
      engine->clearLocalTuning();
    }
    engine->setGlideSmooth(round % 4 == 1);
    engine->setEnvFeelModern(round % 3 == 0);
    engine->setRatioLocked(round % 5 == 2);
    engine->setFilterLocked(round % 2, round % 3 == 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop.store(true, std::memory_order_release);
  audio.join();
  EXPECT_TRUE(finite.load());
}
