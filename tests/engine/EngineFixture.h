// A heap-allocated engine for tests, with the thread's floating-point control restored afterwards
// (process() sets flush-to-zero and nothing else puts it back), and the helpers engine tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
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

// Largest magnitude in x[from, to).
inline float peakOf(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
  float m = 0.0f;
  for (size_t i = from; i < std::min(to, x.size()); ++i) m = std::max(m, std::fabs(x[i]));
  return m;
}

// A local tuning from Scala text; the test fails where the text does not parse.
inline PluginProcessor::LocalTuning scalaTuning(const char* text) {
  PluginProcessor::LocalTuning t{};
  EXPECT_TRUE(PluginProcessor::parseScala(text, std::strlen(text), "", t));
  return t;
}

inline constexpr char kTwelveToneScl[] =
    "Twelve\n12\n100.0\n200.0\n300.0\n400.0\n500.0\n600.0\n700.0\n800.0\n900.0\n1000.0\n1100.0\n2/1\n";
inline constexpr char kJustTwelveScl[] =
    "Just\n12\n16/15\n9/8\n6/5\n5/4\n4/3\n45/32\n3/2\n8/5\n5/3\n9/5\n15/8\n2/1\n";
