// The voice render path as heard: start delays, pitch, retriggers, glides that land, the pitch route,
// kit slots and host-block-size independence.
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/VoiceRender.h"
#include "engine/VoiceRenderFixture.h"

namespace {

using VoiceRender = VoiceRenderTest;

// The voice's analog pitch factor this block (fixed offset plus walk).
double analogPitchMul(const VoiceState& v) {
  return std::exp2((v.analog.pitchCents + v.analogWalkCents) / 1200.0);
}

// Renders a fresh voice state of index v for `blocks` blocks of a held note, returning its samples.
std::vector<float> renderHeldVoice(PluginProcessor& e, int v, float note, int blocks, VoiceState& s) {
  std::vector<float> out;
  const ml::DSPVector pitch(note);
  const ml::DSPVector gate(0.8f);
  for (int b = 0; b < blocks; ++b) {
    const ml::DSPVector y = e.renderVoiceSignal(s, pitch, gate, v);
    out.insert(out.end(), y.getConstBuffer(), y.getConstBuffer() + 64);
  }
  return out;
}

TEST_F(VoiceRender, NotesOnSilentVoicesStartAfterEachVoicesDrawnDelay) {
  settleEngineRows();
  auto firstSound = [&](int v) {
    VoiceState s;
    ml::DSPVector gate(0.0f);
    for (int i = 10; i < 64; ++i) gate[i] = 1.0f;
    const ml::DSPVector out = engine->renderVoiceSignal(s, ml::DSPVector(69.0f), gate, v);
    for (int i = 0; i < 64; ++i) {
      if (out[i] != 0.0f) return i;
    }
    return -1;
  };
  const int undelayed = firstSound(6);
  ASSERT_GE(undelayed, 10);
  EXPECT_EQ(firstSound(0) - undelayed, 8);
  EXPECT_EQ(firstSound(5) - undelayed, 1);
}

TEST_F(VoiceRender, HeldNoteSoundsAtItsFrequencyWithinTheAnalogOffsets) {
  settleEngineRows();
  for (int v = 0; v < PluginProcessor::kNumVoices; ++v) {
    VoiceState s;
    const std::vector<float> y = renderHeldVoice(*engine, v, 57.0f, 750, s);
    EXPECT_NEAR(centsBetween(kernel_test::zeroCrossingFrequency(y, 12000, kRate), 220.0), 0.0, 3.4)
        << "voice " << v;
  }
}

TEST_F(VoiceRender, RetriggerHandsTheOldNoteToATailWithoutAStep) {
  singleVoice();
  engine->handleNoteOn(0, 81, 0.8, 0);
  std::vector<float> out = renderLeft(48000);
  engine->handleNoteOff(0, 81, 10);
  engine->handleNoteOn(0, 81, 0.8, 20);
  const std::vector<float> after = renderLeft(256);
  out.insert(out.end(), after.begin(), after.end());

  // The limiter delays the output by 32 samples: the retrigger block is out[48032, 48096).
  const size_t block = 48000 + 32;
  const float before = maxStep(out, block - 64, block);
  EXPECT_GT(before, 0.001f);
  EXPECT_LE(maxStep(out, block, block + 64), 1.5f * before);
  EXPECT_LE(maxStep(out, block + 64, block + 128), 1.5f * before);
}

TEST_F(VoiceRender, SmoothGlideLandsExactlyOnTheNewNote) {
  engine->setGlideSmooth(true);
  engine->setParam(kParamGlide, 100.0);
  singleVoice();
  engine->handleNoteOn(0, 48, 0.8, 0);
  run(4800);
  engine->handleNoteOn(0, 60, 0.8, 0);
  run(2400);
  const VoiceState& v = engine->voices[0];
  EXPECT_LT(v.glidePitch, 59.9f);
  run(96000 - 2400);
  EXPECT_EQ(v.glidePitch, 60.0f);
  EXPECT_NEAR(v.lastFrequency / (ml::pitchToFrequency(60.0f) * analogPitchMul(v)), 1.0, 1e-6);
}

TEST_F(VoiceRender, OctaveGlideLandsAndFollowsTheTuningsPeriod) {
  // Bohlen-Pierce: 13 keys to the tritave (3/1). The glide starts from the old pitch, a whole period
  // below the new one, and lands on it.
  singleVoice();
  engine->handleNoteOn(0, 60, 0.8, 0);
  engine->setLocalTuning(scalaTuning(
      "! bp.scl\nBohlen-Pierce\n13\n!\n27/25\n25/21\n9/7\n7/5\n75/49\n5/3\n9/5\n49/25\n15/7\n7/3\n63/25\n"
      "25/9\n3/1\n"));
  run(48000);
  const VoiceState& v = engine->voices[0];
  ASSERT_EQ(v.octaveOffset, 0.0f);
  engine->setParam(kParamOctave, 1.0);
  run(64);
  const double f73 = engine->effectiveNoteFreq(73, 0);
  ASSERT_GT(v.octaveOffset, 0.5f);
  ASSERT_LT(v.octaveOffset, 12.5f);
  const double expected = f73 * analogPitchMul(v) * std::pow(3.0, (v.octaveOffset - 13.0) / 13.0);
  EXPECT_NEAR(v.lastFrequency / expected, 1.0, 1e-5);
  run(48000);
  EXPECT_EQ(v.octaveOffset, 13.0f);
  EXPECT_NEAR(v.lastFrequency / (f73 * analogPitchMul(v)), 1.0, 1e-6);
}

TEST_F(VoiceRender, PitchRouteFromAnLfoMovesThePitchSmoothly) {
  engine->setParam(kParamPitchModSource, 0.0);
  engine->setParam(kParamPitchModStart, 0.5);
  engine->setParam(kParamPitchModEnd, 1.0);
  engine->setParam(kParamPitchModRange, 12.0);
  settleEngineRows();

  // Pitch = 12 x LFO + 12 semitones.
  auto semitones = [&](const VoiceState& s) {
    return 12.0 * std::log2(s.lastFrequency / (440.0 * analogPitchMul(s)));
  };
  VoiceState s;
  engine->routes.lfoBlockValue[0] = 0.0f;
  renderHeldVoice(*engine, 0, 69.0f, 20, s);
  EXPECT_NEAR(semitones(s), 12.0, 0.01);
  engine->routes.lfoBlockValue[0] = 1.0f;
  renderHeldVoice(*engine, 0, 69.0f, 1, s);
  EXPECT_GT(semitones(s), 12.5);
  EXPECT_LT(semitones(s), 20.0);  // smoothed over 2.5 ms, not stepped
  renderHeldVoice(*engine, 0, 69.0f, 20, s);
  EXPECT_NEAR(semitones(s), 24.0, 0.01);

  // A release tail keeps the value it was spawned with, whatever the LFO does next.
  VoiceState tail = s;
  engine->routes.lfoBlockValue[0] = 0.0f;
  engine->renderVoiceSignal(tail, ml::DSPVector(69.0f), ml::DSPVector(0.8f), -1);
  EXPECT_NEAR(semitones(tail), 24.0, 0.01);
}

TEST_F(VoiceRender, ExtremeSettingsRenderFiniteBoundedAudio) {
  for (bool atMax : {true, false}) {
    auto e = std::make_unique<PluginProcessor>();
    for (uint32_t id = 0; id < kNumParams; ++id) e->setParam(id, atMax ? kParams[id].max : kParams[id].min);
    e->setParam(kParamOutputGain, 1.0);
    e->setSampleRate(kRate);
    e->setPitchBend(atMax ? 1.0f : -1.0f);
    for (int key : {0, 24, 60, 96, 127}) e->handleNoteOn(0, key, 1.0, 0);
    std::vector<float> l(24000), r(24000);
    e->process(l.data(), r.data(), 12000);
    for (int key : {0, 24, 60, 96, 127}) e->handleNoteOff(0, key, 0);
    e->process(l.data() + 12000, r.data() + 12000, 12000);
    for (size_t i = 0; i < l.size(); ++i) {
      ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i])) << atMax << " at " << i;
      ASSERT_LT(std::fabs(l[i]) + std::fabs(r[i]), 4.0f) << atMax << " at " << i;
    }
  }
}

TEST_F(VoiceRender, KitSlotCapturingNaNEverywherePlaysTheBlockValues) {
  EXPECT_EQ(sanitizedKitValue(kParamFilterACutoff, 1e9, 1234.0), 20000.0);
  KitSlot& slot = engine->kitSlots[0];
  slot.used = true;
  slot.note = 36;
  slot.snapshot.has.fill(true);
  slot.snapshot.value.fill(std::nan(""));
  engine->kitMode = true;
  singleVoice();
  engine->handleNoteOn(0, 36, 0.8, 0);
  const Stereo out = render(24000);
  for (size_t i = 0; i < out.left.size(); ++i)
    ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i]));
  EXPECT_GT(peakOf(out.left, 0, out.left.size()), 0.01f);
}

TEST_F(VoiceRender, KitSlotFollowsTheAllocatorsNoteNotTheGlidingPitch) {
  for (int s : {0, 5}) {
    engine->kitSlots[s].used = true;
    engine->kitSlots[s].note = static_cast<uint16_t>(36 + s);
  }
  engine->kitMode = true;
  engine->setParam(kParamGlide, 300.0);
  singleVoice();
  engine->handleNoteOn(0, 36, 0.8, 0);
  run(4800);
  engine->handleNoteOff(0, 36, 0);
  engine->handleNoteOn(0, 41, 0.8, 63);
  run(64);
  EXPECT_EQ(engine->voices[0].kitSlot, 5);

  // A key without a used slot: its first block is silent and the note plays without a slot.
  engine->handleNoteOn(0, 44, 0.8, 0);
  run(64);
  EXPECT_EQ(engine->voices[0].kitSlot, -1);
}

// One event of a host script, at a host frame.
struct ScriptEvent {
  uint32_t frame;
  enum Kind { kNoteOn, kNoteOff, kBend, kCutoff } kind;
  int key;
  double value;
};

constexpr std::array<ScriptEvent, 9> kScript = {{
    {100, ScriptEvent::kNoteOn, 60, 0.8},
    {130, ScriptEvent::kNoteOn, 64, 0.6},
    {4000, ScriptEvent::kCutoff, 0, 800.0},
    {5001, ScriptEvent::kBend, 0, 0.5},
    {9000, ScriptEvent::kNoteOff, 60, 0.0},
    {9003, ScriptEvent::kNoteOn, 67, 1.0},
    {15000, ScriptEvent::kNoteOff, 64, 0.0},
    {15064, ScriptEvent::kNoteOn, 60, 0.7},
    {21111, ScriptEvent::kNoteOff, -1, 0.0},
}};

// Renders the script with the given host block size, cutting each host block at event times as the
// plug-in does. Events act 63 frames after their host time whatever the block size.
struct ScriptOutput {
  std::vector<float> left, right;
};

ScriptOutput renderScript(PluginProcessor& e, uint32_t hostBlock, uint32_t frames) {
  ScriptOutput out{std::vector<float>(frames), std::vector<float>(frames)};
  size_t next = 0;
  for (uint32_t pos = 0; pos < frames;) {
    const uint32_t end = std::min(frames, pos + hostBlock);
    while (pos < end) {
      while (next < kScript.size() && kScript[next].frame <= pos) {
        const ScriptEvent& ev = kScript[next++];
        const int offset = 63 - static_cast<int>(e.residueRemaining);
        switch (ev.kind) {
          case ScriptEvent::kNoteOn:
            e.handleNoteOn(0, ev.key, ev.value, offset);
            break;
          case ScriptEvent::kNoteOff:
            e.handleNoteOff(0, ev.key, offset);
            break;
          case ScriptEvent::kBend:
            e.setPitchBend(static_cast<float>(ev.value));
            break;
          case ScriptEvent::kCutoff:
            e.setParam(kParamFilterACutoff, ev.value);
            break;
        }
      }
      const uint32_t span = std::min(end, next < kScript.size() ? kScript[next].frame : end) - pos;
      e.process(out.left.data() + pos, out.right.data() + pos, span);
      pos += span;
    }
  }
  return out;
}

TEST_F(VoiceRender, RenderingIsBitIdenticalForEveryHostBlockSize) {
  constexpr uint32_t kFrames = 30000;
  const ScriptOutput reference = renderScript(*engine, 64, kFrames);
  for (uint32_t block : {1u, 7u, 200u, 4096u}) {
    auto other = std::make_unique<PluginProcessor>();
    quiet(*other);
    const ScriptOutput out = renderScript(*other, block, kFrames);
    EXPECT_EQ(std::memcmp(out.left.data(), reference.left.data(), kFrames * sizeof(float)), 0) << block;
    EXPECT_EQ(std::memcmp(out.right.data(), reference.right.data(), kFrames * sizeof(float)), 0) << block;
  }
}

TEST_F(VoiceRender, RetriggerEnergyIsReadFromTheFilterBuildInUse) {
  // A note starting at sample 60 on a silent voice: a retrigger starts the declick's fade-out (-1), a
  // fresh note its fade-in (1).
  auto declickAfterNoteStart = [&](float cleanState, float nonlinearState) {
    VoiceState s;
    s.filterA.ic1eq = cleanState;
    s.filterA.nl.ic1eq = nonlinearState;
    ml::DSPVector gate(0.0f);
    for (int i = 60; i < 64; ++i) gate[i] = 1.0f;
    engine->renderVoiceSignal(s, ml::DSPVector(60.0f), gate, 6);
    return s.voiceFadeState;
  };
  settleEngineRows();
  EXPECT_EQ(declickAfterNoteStart(0.5f, 0.0f), -1);
  EXPECT_EQ(declickAfterNoteStart(0.0f, 0.5f), 1);
  engine->setParam(kParamFilterSaturation, 0.5);
  settleEngineRows();
  // The clean integrators froze when the nonlinear build took over: they do not make a retrigger.
  EXPECT_EQ(declickAfterNoteStart(0.5f, 0.0f), 1);
  EXPECT_EQ(declickAfterNoteStart(0.0f, 0.5f), -1);
}

}  // namespace
