// A heap-allocated engine for tests, with the thread's floating-point control restored afterwards
// (process() sets flush-to-zero and nothing else puts it back).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/PluginProcessor.h"
#include "platform/FloatingPointControl.h"

class EngineTest : public ::testing::Test {
protected:
  ScopedFloatingPointControl fpControl;
  std::unique_ptr<PluginProcessor> engine = std::make_unique<PluginProcessor>();

  uint64_t blocksRendered() const { return engine->blockClock / 64; }

  // Renders frames through the host-block driver, checking that nothing is written past the buffer and
  // that every sample is finite.
  void run(uint32_t frames) {
    std::vector<float> l(frames + 1, 7.0f), r(frames + 1, 7.0f);
    engine->process(l.data(), r.data(), frames);
    EXPECT_EQ(l[frames], 7.0f) << "wrote past the host buffer";
    for (uint32_t i = 0; i < frames; ++i) ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i]));
  }

  struct Stereo {
    std::vector<float> left, right;
  };
  Stereo render(uint32_t frames) {
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    engine->process(out.left.data(), out.right.data(), frames);
    return out;
  }
};
