// The engine's tuning: a local tuning comes into force at the next block and goes at the next after.
#include <cmath>

#include "engine/EngineFixture.h"

namespace {

using EngineTuning = EngineTest;

TEST_F(EngineTuning, LocalTuningTakesEffectAtTheNextBlock) {
  engine->setSampleRate(48000.0);
  run(64);
  const uint32_t version = engine->getTuningVersion();
  EXPECT_NEAR(engine->effectiveNoteFreq(61, 0), 277.1826309768721, 1e-3);

  engine->setLocalTuning(scalaTuning("! quarter tones\nQuarter\n1\n50.0\n"));
  EXPECT_FALSE(engine->effectiveTuningActive());
  run(64);
  EXPECT_TRUE(engine->effectiveTuningActive());
  EXPECT_NE(engine->getTuningVersion(), version);
  // Every key is a quarter tone above the one below, from middle C.
  EXPECT_NEAR(engine->effectiveNoteFreq(62, 0), 261.6255653005986 * std::pow(2.0, 1.0 / 12.0), 1e-6);

  engine->clearLocalTuning();
  run(64);
  EXPECT_FALSE(engine->effectiveTuningActive());
  EXPECT_NEAR(engine->effectiveNoteFreq(69, 0), 440.0, 1e-3);
}

}  // namespace
