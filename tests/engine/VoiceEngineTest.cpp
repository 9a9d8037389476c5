// Engine behaviour that needs a sounding voice: the oscillator path choice, voice-count changes while
// notes release, the pedal with a choke, the note-start click and tuning messages.
#include <cmath>
#include <vector>

#include "engine/VoiceRenderFixture.h"

namespace {

using VoiceEngine = VoiceRenderTest;

TEST_F(VoiceEngine, OscillatorPathSwitchesAbove1000HzAndBackBelow940Hz) {
  singleVoice();
  engine->setParam(kParamPitchBendRange, 2.0);
  // Plays key bent to about hz (within the voice's analog offset of a few cents).
  auto play = [&](int key, double hz) {
    const double semitones = 12.0 * std::log2(hz / ml::pitchToFrequency(static_cast<float>(key)));
    engine->setPitchBend(static_cast<float>(semitones / 2.0));
    engine->handleNoteOn(0, key, 0.8, 0);
    run(2400);
    EXPECT_NEAR(centsBetween(engine->voices[0].lastFrequency, hz), 0.0, 3.4);
    engine->handleNoteOff(0, key, 0);
    run(2400);
    return engine->voices[0].pmPath;
  };
  EXPECT_FALSE(play(83, 990.0));
  EXPECT_TRUE(play(83, 1010.0));
  EXPECT_TRUE(play(83, 950.0));  // once on the 4x path, a note above 940 Hz stays there
  EXPECT_FALSE(play(82, 930.0));
  EXPECT_FALSE(play(83, 990.0));
}

TEST_F(VoiceEngine, FewerVoicesWhileNotesReleaseFadeWithoutAStep) {
  for (int k = 0; k < 8; ++k) engine->handleNoteOn(0, 84 + k, 0.8, 0);
  std::vector<float> out = renderLeft(14400);
  for (int k = 0; k < 8; ++k) engine->handleNoteOff(0, 84 + k, 0);
  std::vector<float> more = renderLeft(2432);  // 2400 rounded up to the block: the change lands on one
  out.insert(out.end(), more.begin(), more.end());
  engine->setParam(kParamVoiceCount, 2.0);
  more = renderLeft(4864);
  out.insert(out.end(), more.begin(), more.end());
  EXPECT_EQ(engine->effectiveVoiceCount, 2u);

  const size_t change = 14400 + 2432 + 32;  // the limiter's 32-sample delay
  const float before = maxStep(out, change - 256, change);
  ASSERT_GT(before, 0.001f);
  // The handed-over voices fade out over the tails' 5 ms (240 samples), not cut off at its end.
  EXPECT_LE(maxStep(out, change, change + 512), 1.5f * before);
  EXPECT_LT(peakOf(out, change + 2400, change + 4800), peakOf(out, change - 256, change));
}

TEST_F(VoiceEngine, ChokeUnderTheSustainPedalSilencesForGood) {
  engine->setSustainPedal(true, 0);
  engine->handleNoteOn(0, 60, 0.8, 0);
  engine->handleNoteOn(0, 64, 0.8, 0);
  run(4800);
  engine->handleNoteOff(0, 60, 0);
  engine->handleNoteOff(0, 64, 0);
  run(4800);
  engine->chokeKey(0, 60);
  engine->chokeKey(0, 64);
  EXPECT_LT(peakOf(renderLeft(48000), 4800, 48000), 1e-6f);
}

TEST_F(VoiceEngine, ClickFiresOnlyFromNearSilenceAndNeverInATail) {
  engine->setParam(kParamClickAmount, 1.0);
  settleEngineRows();
  // A note starting at sample 10 on a voice at level ampLevel x gain.
  auto clicks = [&](float ampLevel, float gain, int voice) {
    VoiceState s;
    s.ampLevel = ampLevel;
    s.gainCurrent = gain;
    ml::DSPVector gate(0.0f);
    for (int i = 10; i < 64; ++i) gate[i] = 1.0f;
    engine->renderVoiceSignal(s, ml::DSPVector(60.0f), gate, voice);
    return s.clickLevel > 0.00001f;
  };
  EXPECT_TRUE(clicks(0.1f, 0.099f, 3));  // level 0.0099
  EXPECT_FALSE(clicks(0.1f, 0.1f, 3));   // level 0.01
  EXPECT_FALSE(clicks(0.0f, 0.0f, -1));
}

TEST_F(VoiceEngine, TuningMessageWithoutAMasterRetunesTheSoundingNote) {
  // Key 69 a quarter tone up: 452.89 Hz.
  const uint8_t msg[] = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x40, 0x00, 0xF7};
  singleVoice();
  engine->parseMTSSysEx(msg, sizeof msg);
  engine->handleNoteOn(0, 69, 0.8, 0);
  const std::vector<float> out = renderLeft(72000);
  // Voice 0: its -0.985 cent draw and a walk within +-2 cents.
  const double cents =
      centsBetween(kernel_test::zeroCrossingFrequency(out, 24000, kRate, 72000), 452.89378251621605);
  EXPECT_GT(cents, -2.99);
  EXPECT_LT(cents, 1.02);
}

}  // namespace
