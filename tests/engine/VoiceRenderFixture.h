// An engine at 48 kHz that plays one voice cleanly enough to measure: master noise floor and reverb
// off, no FM and no fold, so a note renders a filtered sine whose pitch and level can be read back.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/EngineFixture.h"
#include "voice/KernelMeasure.h"

class VoiceRenderTest : public EngineTest {
protected:
  static constexpr double kRate = 48000.0;

  void SetUp() override { quiet(*engine); }

  static void quiet(PluginProcessor& e) {
    e.setParam(kParamNoiseLevel, 0.0);
    e.setParam(kParamReverbMix, 0.0);
    e.setParam(kParamFmAmount, 0.0);
    e.setParam(kParamFold, 1.0);
    e.setSampleRate(kRate);
  }

  // One voice: poly mode with a single voice, so every note lands on voice 0.
  void singleVoice() {
    engine->setParam(kParamVoiceCount, 1.0);
    run(64);
  }

  std::vector<float> renderLeft(uint32_t frames) { return render(frames).left; }

  // Engine rows and route arrays for direct renderVoiceSignal calls.
  void settleEngineRows() {
    for (int i = 0; i < 4; ++i) engine->generateBlock();
  }
};

inline double centsBetween(double hz, double reference) {
  return 1200.0 * std::log2(hz / reference);
}

// Largest sample-to-sample change in x[from, to).
inline float maxStep(const std::vector<float>& x, size_t from, size_t to) {
  float m = 0.0f;
  for (size_t i = std::max<size_t>(from, 1); i < to; ++i) m = std::max(m, std::fabs(x[i] - x[i - 1]));
  return m;
}
