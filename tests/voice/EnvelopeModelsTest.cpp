#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "engine/PluginProcessor.h"
#include "engine/voice/EnvelopeModels.h"
#include "engine/voice/VoiceState.h"
#include "platform/FloatingPointControl.h"

namespace {

constexpr float kSr = 48000.f;
constexpr int kBlock = 64;

EnvShapeParams shape(float a, float d, float s, float r, int mode = 0) {
  EnvShapeParams p;
  p.attack = a;
  p.decay = d;
  p.sustain = s;
  p.release = r;
  p.triggerMode = mode;
  return p;
}

// One envelope driven block by block with a held or released gate, through either model.
struct Driver {
  explicit Driver(const EnvShapeParams& params, bool modernModel = false) : p(params), modern(modernModel) {}

  ml::ADSR adsr;
  EnvWrap env;
  EnvShapeParams p;
  bool modern{false};
  float prevGate{0.f};
  std::vector<float> out;

  void block(float gateLevel) {
    const ml::DSPVector gate(gateLevel);
    const int trigger = firstGateRise(gate, prevGate);
    adsr.coeffs = ml::ADSR::calcCoeffs(p.attack, p.decay, p.sustain, p.release, kSr);
    const ml::DSPVector y = modern ? renderEnvelopeModern(adsr, env, gate, p, trigger, kSr)
                                   : renderEnvelope(adsr, env, gate, p, trigger, kSr);
    out.insert(out.end(), y.getConstBuffer(), y.getConstBuffer() + kBlock);
    prevGate = gateLevel;
  }
  // Blocks with the gate low until the envelope is idle; the number of samples it took, or -1.
  int releaseToIdle(int maxBlocks) {
    for (int b = 1; b <= maxBlocks; ++b) {
      block(0.f);
      if (env.idle()) return b * kBlock;
    }
    return -1;
  }
};

// Edges against the sample before (the previous block's last at 0); NaN is neither high nor low.
TEST(GateEdges, RisesFallsAndHighSamples) {
  ml::DSPVector gate(0.f);
  gate[3] = gate[4] = 0.7f;
  gate[10] = std::nanf("");
  gate[11] = 1.f;
  for (int i = 40; i < kBlock; ++i) gate[i] = 0.5f;
  const GateEdges e = gateEdges(gate, 1.f);
  EXPECT_EQ(e.rises, (uint64_t{1} << 3) | (uint64_t{1} << 40));
  EXPECT_EQ(e.falls, (uint64_t{1} << 0) | (uint64_t{1} << 5) | (uint64_t{1} << 12));
  EXPECT_EQ(e.high, (uint64_t{1} << 3) | (uint64_t{1} << 4) | (uint64_t{1} << 11) | (~uint64_t{0} << 40));
  EXPECT_EQ(firstGateRise(gate, 1.f), 3);
  EXPECT_EQ(firstGateRise(ml::DSPVector(1.f), 0.f), 0);
  EXPECT_EQ(firstGateRise(ml::DSPVector(1.f), 1.f), -1);
}

TEST(ModernEnvelope, ShortAttacksReachFullLevelOnTime) {
  Driver five(shape(0.0001f, 0.1f, 0.5f, 0.1f), true);
  five.block(1.f);
  const float expected[] = {0.f, 0.2f, 0.4f, 0.6f, 0.8f, 1.f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(five.out[i], expected[i]) << i;
  EXPECT_EQ(five.out[6], 1.f);  // the decay's first sample
  EXPECT_LT(five.out[7], 1.f);
}

TEST(ModernEnvelope, RetriggerInReleaseContinuesFromTheLevelAndAModelSwitchKeepsTheGate) {
  Driver d(shape(0.05f, 0.05f, 0.8f, 0.2f), true);
  for (int b = 0; b < 80; ++b) d.block(1.f);
  for (int b = 0; b < 10; ++b) d.block(0.f);
  const float before = d.out.back();
  ASSERT_GT(before, 0.1f);
  d.block(1.f);
  EXPECT_EQ(d.env.displayStage, kEnvAttack);
  EXPECT_NEAR(d.out[d.out.size() - kBlock], before, 1.f / (0.05f * kSr) + 1e-4f);
  // A switch of model keeps the generator's gate: the held note does not restart.
  for (int b = 0; b < 60; ++b) d.block(1.f);
  d.modern = false;
  d.block(1.f);
  EXPECT_NE(d.adsr.stage, ml::ADSR::kAttack);
}

TEST(ModernEnvelope, OneShotFinishesItsDecayThenReleasesFromSustain) {
  Driver d(shape(0.01f, 0.02f, 0.6f, 0.05f, 1), true);
  d.block(1.f);
  for (int b = 0; b < 80; ++b) d.block(0.f);
  const int attackEnd = static_cast<int>(0.01f * kSr);
  EXPECT_EQ(d.out[attackEnd], 1.f);
  EXPECT_NEAR(d.out[attackEnd + static_cast<int>(0.02f * kSr) + 1], 0.6f, 1e-3f);
  EXPECT_TRUE(d.env.idle());
  EXPECT_EQ(d.adsr.stage, ml::ADSR::kOff);
}

// The playhead's closed form: delay at the level, the warped attack and its peak, the hold, the warped
// decay and its landing on the sustain, then from the key-up the warped release and silence.
std::vector<float> modernNoteByFormula(const EnvShapeParams& p, int noteStart, int keyUp, int total) {
  const int attack = int(lroundf(p.attack * kSr));
  const int decay = int(lroundf(p.decay * kSr));
  const int release = int(lroundf(p.release * kSr));
  std::vector<float> out(size_t(noteStart), 0.f);
  for (int j = 0; j < p.delaySamples; ++j) out.push_back(0.f);
  for (int j = 0; j < attack; ++j) out.push_back(envWarp(float(j) / float(attack), p.attackCurve));
  out.push_back(1.f);
  out.resize(out.size() + size_t(p.holdSamples), 1.f);
  for (int j = 0; j < decay; ++j) {
    out.push_back(1.f + envWarp(float(j) / float(decay), p.decayCurve) * (p.sustain - 1.f));
  }
  out.resize(size_t(keyUp), p.sustain);
  const float start = out.back();
  for (int j = 0; j < release; ++j)
    out.push_back(start * (1.f - envWarp(float(j) / float(release), p.releaseCurve)));
  out.resize(size_t(total), 0.f);
  return out;
}

TEST(ModernEnvelope, RendersItsSegmentsSampleForSampleAcrossBlocks) {
  EnvShapeParams p = shape(0.0025f, 0.005f, 0.4f, 0.004f);
  p.attackCurve = 0.6f;
  p.decayCurve = -0.3f;
  p.releaseCurve = 0.45f;
  p.delaySamples = 37;
  p.holdSamples = 21;
  const int noteStart = 13;
  const int total = 30 * kBlock;
  // Key-ups in the decay and in the sustain, each off the block grid.
  for (const int keyUp : {noteStart + 37 + 121 + 21 + 150, noteStart + 37 + 121 + 21 + 241 + 300}) {
    const std::vector<float> expected = modernNoteByFormula(p, noteStart, keyUp, total);
    ml::ADSR adsr;
    EnvWrap env;
    float before = 0.f;
    for (int b = 0; b * kBlock < total; ++b) {
      ml::DSPVector gate;
      for (int i = 0; i < kBlock; ++i)
        gate[i] = b * kBlock + i >= noteStart && b * kBlock + i < keyUp ? 1.f : 0.f;
      const ml::DSPVector y = renderEnvelopeModern(adsr, env, gate, p, firstGateRise(gate, before), kSr);
      before = gate[kBlock - 1];
      for (int i = 0; i < kBlock; ++i)
        ASSERT_EQ(y[i], expected[size_t(b * kBlock + i)]) << keyUp << " " << b * kBlock + i;
    }
    EXPECT_TRUE(env.idle());
  }
}

TEST(ModernEnvelope, AMovedSustainGlidesSampleBySampleUntilItSettles) {
  Driver d(shape(0.001f, 0.001f, 0.8f, 0.1f), true);
  for (int b = 0; b < 4; ++b) d.block(1.f);
  ASSERT_EQ(d.out.back(), 0.8f);
  d.p.sustain = 0.3f;
  const float a = 1.f - expf(-1.f / (0.008f * kSr));
  float ss = 0.8f;
  for (int b = 0; b < 200; ++b) {
    d.block(1.f);
    for (int i = 0; i < kBlock; ++i) {
      ss += a * (0.3f - ss);
      ASSERT_EQ(d.out[d.out.size() - kBlock + size_t(i)], ss) << b << " " << i;
    }
  }
  EXPECT_NEAR(ss, 0.3f, 1e-5f);  // the float step stalls short of it, and the row stays there
}

TEST(ModernEnvelope, ATriggerOutsideTheBlockIsIgnored) {
  for (const int trigger : {kBlock, 1000, -7}) {
    ml::ADSR adsr;
    EnvWrap env;
    const ml::DSPVector y =
        renderEnvelopeModern(adsr, env, ml::DSPVector(1.f), shape(0.01f, 0.1f, 0.5f, 0.1f), trigger, kSr);
    for (int i = 0; i < kBlock; ++i) EXPECT_EQ(y[i], 0.f) << trigger;
    EXPECT_TRUE(env.idle());
  }
}

TEST(ClassicEnvelope, SegmentsLastAFixedFractionOfTheirTime) {
  Driver d(shape(0.008f, 0.2f, 0.5f, 0.2f));
  for (int b = 0; b < 4; ++b) d.block(1.f);
  const auto crossing = std::find_if(d.out.begin(), d.out.end(), [](float y) { return y >= 1.f; });
  const long samples = crossing - d.out.begin();
  EXPECT_NEAR(samples, 146, 1);  // ln(11) / 2 pi of the nominal 384 samples
}

TEST(ClassicEnvelope, DelayAndHold) {
  Driver d(shape(0.002f, 0.05f, 0.4f, 0.05f));
  d.p.delaySamples = 100;
  d.p.holdSamples = static_cast<int32_t>(0.1f * kSr);
  d.block(1.f);
  EXPECT_EQ(d.env.displayStage, kEnvDelay);
  for (int b = 0; b < 150; ++b) d.block(1.f);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(d.out[i], 0.f) << i;
  EXPECT_GT(d.out[101], 0.f);
  const auto peak =
      std::find_if(d.out.begin(), d.out.end(), [](float y) { return y >= 1.f; }) - d.out.begin();
  // Exactly 1 for the hold samples after the attack's peak, then the decay.
  for (int i = 1; i <= d.p.holdSamples; ++i) ASSERT_EQ(d.out[peak + i], 1.f) << i;
  EXPECT_LT(d.out[peak + d.p.holdSamples + 2], 1.f);
  EXPECT_NEAR(d.out.back(), 0.4f, 1e-3f);
}

TEST(ClassicEnvelope, KeyUpInHoldDecayOrAOneShotAttackReleasesToIdle) {
  struct Case {
    EnvShapeParams params;
    int32_t hold;
    int heldBlocks;
    int stageAtKeyUp;
    int maxSamples;
  };
  const Case cases[] = {
      {shape(0.001f, 0.05f, 0.4f, 0.01f), int32_t(kSr), 10, kEnvHold, 128000},
      {shape(0.002f, 0.5f, 0.f, 0.1f), 0, 20, kEnvDecay, int(3 * 0.1f * kSr)},  // to sustain 0
      {shape(0.005f, 0.05f, 1.f, 0.05f, 1), 0, 1, kEnvAttack, 128000},
      {shape(0.005f, 0.05f, 0.9999999f, 0.05f, 1), 0, 1, kEnvAttack, 128000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params.sustain);
    Driver d(c.params);
    d.p.holdSamples = c.hold;
    for (int b = 0; b < c.heldBlocks; ++b) d.block(1.f);
    ASSERT_EQ(d.env.displayStage, c.stageAtKeyUp);
    const int samples = d.releaseToIdle(2000);
    EXPECT_GT(samples, 0);
    EXPECT_LE(samples, c.maxSamples);
    EXPECT_EQ(d.out.back(), 0.f);
    EXPECT_GE(*std::max_element(d.out.begin(), d.out.end()), 1.f);
  }
}

TEST(ClassicEnvelope, CurvedReleaseStartsFromTheShapedLevel) {
  Driver d(shape(0.002f, 0.05f, 0.5f, 0.1f));
  d.p.decayExponent = resolveEnvGamma(0.8f);
  d.p.releaseExponent = resolveEnvGamma(0.5f);
  for (int b = 0; b < 4; ++b) d.block(1.f);  // still decaying
  const float last = d.out.back();
  d.block(0.f);
  EXPECT_TRUE(d.env.releaseRescaled);
  EXPECT_NEAR(d.out[d.out.size() - kBlock], last, 0.01f);
}

TEST(ClassicEnvelope, VoiceChokedMidAttackPlaysItsNextNotesFully) {
  VoiceState v;
  Driver d(shape(0.02f, 0.05f, 0.5f, 0.02f));
  d.block(1.f);  // mid-attack
  ASSERT_EQ(d.adsr.stage, ml::ADSR::kAttack);
  v.adsr1 = d.adsr;
  v.env1 = d.env;
  v.clear();
  d.adsr = v.adsr1;
  d.env = v.env1;
  d.prevGate = 0.f;
  for (int note = 0; note < 2; ++note) {
    d.out.clear();
    for (int b = 0; b < 30; ++b) d.block(1.f);
    EXPECT_GE(*std::max_element(d.out.begin(), d.out.end()), 1.f) << note;
    EXPECT_GT(d.releaseToIdle(200), 0) << note;
  }
}

TEST(EnvelopeDisplay, IdleEnvelopes) {
  for (bool modern : {false, true}) {
    Driver d(shape(0.01f, 0.1f, 0.5f, 0.1f), modern);
    d.block(0.f);
    EXPECT_EQ(d.env.displayStage, kEnvIdle);
    EXPECT_EQ(d.env.displayLevel, 0.f);
    d.block(1.f);
    EXPECT_EQ(d.env.displayStage, kEnvAttack);
  }
}

TEST(Env2Playhead, RestartsForANoteAtSampleZero) {
  ScopedFloatingPointControl fp;
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(48000.0);
  engine->cache[kParamPitchModSource] = 0.0;  // nothing renders Env 2 in the voice
  engine->cache[kParamEnv2Attack] = 0.5;
  VoiceState& voice = engine->voices[0];
  const ml::DSPVector high(1.f);
  const ml::DSPVector low(0.f);
  for (int b = 0; b < 20; ++b) engine->tickEnv2Playhead(voice, high, b == 0 ? 0.f : 1.f);
  for (int b = 0; b < 5; ++b) engine->tickEnv2Playhead(voice, low, b == 0 ? 1.f : 0.f);
  ASSERT_EQ(voice.env2.displayStage, kEnvRelease);

  // The next note starts at sample 0; the render has already set the voice's last gate to the new
  // note's, so only the gate from before the block shows the edge.
  engine->cache[kParamEnv2Attack] = 0.01;
  voice.prevGate = 1.f;
  engine->tickEnv2Playhead(voice, high, 0.f);
  EXPECT_EQ(voice.env2.displayStage, kEnvAttack);
  EXPECT_FLOAT_EQ(voice.envStageTime[1][0], 0.01f);
}

}  // namespace
