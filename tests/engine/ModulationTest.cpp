#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "engine/EngineFixture.h"
#include "engine/ModRoutes.h"

namespace {

class Modulation : public EngineTest {
protected:
  void start(double rate) { engine->setSampleRate(rate); }
  // Renders one engine block (the residue buffer is empty between calls of whole blocks).
  void block() { run(64); }
  const ModRoutes& routes() const { return engine->routes; }
  double effective(PluginProcessor::ModTarget t) const { return engine->modulated[t].effective; }
  int crossfadeBlocks(double rate);
};

// Switches the Fold route from LFO 1 to LFO 2 and counts the blocks whose fade moves.
int Modulation::crossfadeBlocks(double rate) {
  PluginProcessor& e = *engine;
  e.setSampleRate(rate);
  e.setParam(kParamLfo1Rate, 0.9);
  e.setParam(kParamLfo2Rate, 0.7);
  e.setParam(kParamLfo2Pattern, 4.0);
  e.setParam(kParamFoldModSource, 0.0);
  for (int i = 0; i < 3; ++i) block();
  e.setParam(kParamFoldModSource, 1.0);
  int blocks = 0;
  for (int i = 0; i < 20; ++i) {
    block();
    const ModRoutes& r = e.routes;
    const float lfo1 = e.getLfo1Output();
    const float lfo2 = e.getLfo2Output();
    EXPECT_EQ(r.routeSource[kRouteFold], 1);
    if (r.routeFadeStart[kRouteFold] < 1.0f) {
      ++blocks;
      EXPECT_EQ(r.routePrevSource[kRouteFold], 0)
          << "the old source stays named through the last fading block";
      const float w = r.routeFade[kRouteFold];
      EXPECT_FLOAT_EQ(r.routeBlockValue[kRouteFold], w < 1.0f ? lfo1 * (1.0f - w) + lfo2 * w : lfo2);
    } else {
      EXPECT_EQ(r.routeBlockValue[kRouteFold], lfo2);
    }
  }
  return blocks;
}

TEST_F(Modulation, SourceChangeCrossfadesOverTenMilliseconds) {
  EXPECT_EQ(crossfadeBlocks(44100.0), 7);
  engine = std::make_unique<PluginProcessor>();
  EXPECT_EQ(crossfadeBlocks(48000.0), 8);

  // Switching to an envelope fades the engine-wide part out; a sample-rate change adopts sources at once.
  engine->setParam(kParamFoldModSource, 2.0);
  block();
  EXPECT_FLOAT_EQ(routes().routeBlockValue[kRouteFold], engine->getLfo2Output() * (1.0f - 0.13333334f));
  engine->setParam(kParamFoldModSource, 3.0);
  start(48000.0);
  block();
  EXPECT_EQ(routes().routeFadeStart[kRouteFold], 1.0f);
  // The voice applies all of the pitch route: no engine-wide entries.
  EXPECT_EQ(routes().routeBlockSource[kRoutePitch], -1);
}

TEST_F(Modulation, StartAndEndSetTheRouteDepth) {
  start(48000.0);
  engine->setParam(kParamLfo1Rate, 1.0);  // 20 Hz: moves a lot every block
  engine->setParam(kParamFilterACutoff, 1000.0);
  for (int i = 0; i < 10; ++i) block();
  for (uint32_t t = 0; t < PluginProcessor::kNumModTargets; ++t)
    EXPECT_EQ(engine->modulated[t].effective, engine->modulated[t].base) << "untouched at Start = End = 0";

  // Start = End = 0.5: half the range whatever the LFO does; the cutoff clamps at 20 kHz.
  engine->setParam(kParamFoldModStart, 0.5);
  engine->setParam(kParamFoldModEnd, 0.5);
  engine->setParam(kParamFilterACutoffModStart, 0.5);
  engine->setParam(kParamFilterACutoffModEnd, 0.5);
  engine->setParam(kParamFilterBCutoff, 20.0);
  engine->setParam(kParamFilterBCutoffModStart, 0.5);
  engine->setParam(kParamFilterBCutoffModEnd, 0.5);
  block();
  EXPECT_FLOAT_EQ(engine->getModFoldPos(), 4.3f / 7.0f);
  EXPECT_EQ(effective(PluginProcessor::kModCutoffA), 20000.0);
  EXPECT_NEAR(effective(PluginProcessor::kModCutoffB), 20.0 * std::sqrt(1000.0), 1e-9);

  // Start 0, End 1 follows the LFO across the whole range, never leaving it.
  engine->setParam(kParamShape, 0.3);
  engine->setParam(kParamShapeModEnd, 1.0);
  engine->setParam(kParamRatioModEnd, 1.0);
  for (int i = 0; i < 20; ++i) {
    block();
    const double lfo = engine->getLfo1Output();
    EXPECT_DOUBLE_EQ(effective(PluginProcessor::kModShape), std::min(1.0, 0.3 + lfo));
    const double ratio = std::exp(lfo * std::log(32.0));
    EXPECT_NEAR(effective(PluginProcessor::kModRatio), std::min(16.0, ratio), 1e-12);
    EXPECT_FLOAT_EQ(engine->getModRatioPos(), std::min(1.0f, float((ratio - 0.5) / 15.5)));
  }
}

TEST(ModRoutes, TargetModulationGuardsItsInputs) {
  const ParamInfo& cutoff = kParams[kParamFilterACutoff];
  const ParamInfo& fold = kParams[kParamFold];
  // Start or End must exceed 0.001; both at the threshold leave the base alone.
  EXPECT_EQ(modulateTarget(fold, RouteScale::kLinear, 2.0, 0.001, 0.001, 1.0f), 2.0);
  EXPECT_DOUBLE_EQ(modulateTarget(fold, RouteScale::kLinear, 2.0, 0.2, 0.6, 0.5f), 2.0 + 0.4 * 7.0);
  // The pitch route never changes a target at block level.
  EXPECT_EQ(modulateTarget(kParams[kParamPitchModRange], RouteScale::kVoiceOnly, 12.0, 1.0, 1.0, 1.0f), 12.0);
  // An exponential route takes the logarithm of a base inside the range; anything unusable gives the
  // default rather than NaN.
  EXPECT_DOUBLE_EQ(modulateTarget(cutoff, RouteScale::kExponential, -5.0, 0.1, 0.1, 0.0f),
                   20.0 * std::pow(1000.0, 0.1));
  EXPECT_DOUBLE_EQ(modulateTarget(cutoff, RouteScale::kExponential, std::nan(""), 0.1, 0.1, 0.0f),
                   4500.0 * std::pow(1000.0, 0.1));
  EXPECT_EQ(modulateTarget(cutoff, RouteScale::kExponential, 1000.0, 0.1, 0.5, std::nanf("")), 4500.0);
  EXPECT_EQ(modulateTarget(fold, RouteScale::kLinear, 2.0, 0.1, 0.5, INFINITY), 1.8);
  // Start and End outside 0..1 are clamped; NaN counts as 0.
  EXPECT_EQ(modulateTarget(fold, RouteScale::kLinear, 2.0, std::nan(""), 7.0, 1.0f), 8.0);
  EXPECT_EQ(ModRoutes::sourceFromParam(9.0), 3);
  EXPECT_EQ(ModRoutes::sourceFromParam(std::nan("")), 0);
}

TEST_F(Modulation, PublishedLfoValuesFollowTheStandaloneLfo) {
  start(48000.0);
  engine->setParam(kParamLfo1Rate, 0.5);
  engine->setParam(kParamLfo1Pattern, 4.0);
  engine->setParam(kParamLfo1Phase, 0.25);
  engine->setParam(kParamLfo2Pattern, 3.0);
  engine->setParam(kParamLfo2Slew, 1.0);
  LFO one;
  LFO two;
  for (int i = 0; i < 100; ++i) {
    block();
    EXPECT_EQ(engine->getLfo1Output(), one.process(1.0f, 4, false, 64, 48000.0f, 0.25f));
    EXPECT_EQ(engine->getLfo2Output(), two.process(LFO::rateToHz(0.5f), 3, true, 64, 48000.0f, 0.0f));
    EXPECT_EQ(routes().lfoBlockValue[0], engine->getLfo1Output());
  }
}

// A locked LFO 1 rendered with the host's position given once per hostBlock frames and the host block
// served in spans of span frames; the LFO output of every engine block seen after a span, by block index.
std::map<uint64_t, float> renderLocked(uint32_t hostBlock, uint32_t span, uint32_t totalFrames) {
  ScopedFloatingPointControl fp;
  auto e = std::make_unique<PluginProcessor>();
  const double rate = 48000.0;
  const double tempo = 133.0;
  e->setSampleRate(rate);
  e->setParam(kParamLfo1SyncMode, 1.0);
  e->setParam(kParamLfo1Rate, 0.45);  // one beat
  e->setTempo(tempo);
  e->setTransportPlaying(true);
  std::vector<float> l(span), r(span);
  std::map<uint64_t, float> out;
  for (uint32_t frames = 0; frames < totalFrames; frames += hostBlock) {
    e->setSongPosBeats(frames / rate * tempo / 60.0);
    for (uint32_t done = 0; done < hostBlock; done += span) {
      e->process(l.data(), r.data(), std::min(span, hostBlock - done));
      out[e->blockClock / 64 - 1] = e->getLfo1Output();
    }
  }
  return out;
}

TEST(LockedLfo, MovesEveryEngineBlockOfALongHostBlock) {
  const std::map<uint64_t, float> reference = renderLocked(64, 64, 64 * 400);
  const std::map<uint64_t, float> large = renderLocked(512, 64, 64 * 400);
  ASSERT_EQ(large.size(), reference.size());
  for (const auto& [index, value] : large) {
    EXPECT_NEAR(value, reference.at(index), 1e-6f) << index;
    if (index > 0) {
      EXPECT_NE(value, large.at(index - 1)) << index;
    }
  }
  // Host blocks that cut engine blocks in two.
  for (const auto& [index, value] : renderLocked(100, 100, 64 * 400)) {
    EXPECT_NEAR(value, reference.at(index), 1e-6f) << index;
  }
}

TEST_F(Modulation, TransportStartResetsALockedLfo) {
  start(48000.0);
  engine->setParam(kParamLfo1SyncMode, 1.0);
  engine->setParam(kParamLfo1Rate, 5.0 / 11.0);  // one beat: 2 Hz at 120 BPM
  for (int i = 0; i < 10; ++i) block();
  // Without a usable song position the started LFO runs free from phase 0.
  engine->setSongPosBeats(std::nan(""));
  engine->setTransportPlaying(true);
  block();
  EXPECT_FLOAT_EQ(engine->getLfo1CyclePos(), 2.0f * 64.0f / 48000.0f);
}

}  // namespace
