#include <gtest/gtest.h>

#include <cstring>

#include "engine/EngineFixture.h"

namespace {

using AllocatorVoice = ml::EventsToSignals::Voice;

class Notes : public EngineTest {
protected:
  void SetUp() override { engine->setSampleRate(48000.0); }

  void blocks(int n) {
    for (int i = 0; i < n; ++i) engine->generateBlock();
  }
  int note(int v) const { return static_cast<int>(engine->allocator.getVoice(v).creatorKeyIdx); }
  const float* gate(int v) const {
    return engine->allocator.getVoice(v).outputs.constRow(AllocatorVoice::kGateRow);
  }
  bool gateOpenThroughout(int v) const {
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
      if (gate(v)[i] <= 0.0f) return false;
    }
    return true;
  }
  bool gateClosedThroughout(int v) const {
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
      if (gate(v)[i] != 0.0f) return false;
    }
    return true;
  }
  void setVoices(double mode, double count) {
    engine->setParam(kParamVoiceMode, mode);
    engine->setParam(kParamVoiceCount, count);
    blocks(1);
  }
};

bool sameBytes(const ml::ADSR& a, const ml::ADSR& b) {
  return std::memcmp(&a, &b, sizeof(ml::ADSR)) == 0;
}

TEST(VoiceStateClear, ResetsEverythingButTheKeptFields) {
  VoiceState v;
  // A voice in the middle of a note: gates open, both generators running, drift gliding.
  v.adsr1.coeffs = ml::ADSR::calcCoeffs(0.01f, 0.1f, 0.5f, 0.2f, 48000.f);
  v.adsr2.coeffs = v.adsr1.coeffs;
  for (int i = 0; i < 100; ++i) {
    v.adsr1.processSample(0.8f);
    v.adsr2.processSample(1.f);
  }
  v.ampLevel = 0.7f;
  v.gainCurrent = 0.8f;
  v.filterB.snap = {440.f, 880.f, 0.2f, true};
  v.glideCoeff = 0.25f;
  v.drift.rate = 0.3f;
  v.drift.ratio = 1.2f;
  v.paramSmoothers[3].value = 0.6f;
  v.lastPitch = 64.f;
  v.kitSlot = 3;
  v.noteChannel = 9;

  v.clear();
  const ml::ADSR fresh;
  EXPECT_TRUE(sameBytes(v.adsr1, fresh));
  EXPECT_TRUE(sameBytes(v.adsr2, fresh));
  EXPECT_FALSE(v.sounding());
  EXPECT_FALSE(v.filterB.snap.active);
  EXPECT_EQ(v.lastPitch, -1.f);
  EXPECT_EQ(v.kitSlot, -1);
  EXPECT_EQ(v.drift.ratio, 1.f);
  // Kept.
  EXPECT_EQ(v.drift.rate, 0.3f);
  EXPECT_EQ(v.glideCoeff, 0.25f);
  EXPECT_EQ(v.paramSmoothers[3].value, 0.6f);
  EXPECT_EQ(v.noteChannel, 9);
}

TEST_F(Notes, WildcardNoteOffReleasesEveryHeldKeyOnItsChannel) {
  engine->handleNoteOn(3, 60, 0.5, 0);
  engine->handleNoteOn(5, 64, 0.7, 0);
  engine->allocator.clearEvents();
  engine->handleNoteOff(0, -1, 10);
  EXPECT_FALSE(engine->anyKeyHeld());
  ASSERT_EQ(engine->allocator.events.size(), 2u);
  EXPECT_EQ(engine->allocator.events[0].channel, 3);
  EXPECT_EQ(engine->allocator.events[1].sourceIdx, 64);
}

TEST_F(Notes, KeysAndChannelsOutsideTheirRanges) {
  for (int key = -2; key <= 40000; ++key) {
    if (key == -1 || (key >= 0 && key < 128)) continue;
    engine->handleNoteOn(0, key, 1.0, 0);
    engine->handleNoteOff(0, key, 0);
    engine->chokeKey(0, key);
  }
  EXPECT_TRUE(engine->allocator.events.empty());
  EXPECT_FALSE(engine->anyKeyHeld());
  for (bool pressed : engine->keyBook.pressed) EXPECT_FALSE(pressed);

  for (int channel = -1; channel <= 300; ++channel) {
    engine->handleNoteOn(channel, 60, 1.0, 0);
    const int8_t expected = static_cast<int8_t>(channel < 0 ? 0 : (channel > 15 ? 15 : channel));
    ASSERT_EQ(engine->keyBook.channel[60], expected) << channel;
    ASSERT_EQ(engine->allocator.events.back().channel, expected);
    engine->handleNoteOff(channel, 60, 0);
    ASSERT_EQ(engine->keyBook.channel[60], -1);
    engine->allocator.clearEvents();
  }
  // Bad velocities, offsets and bends are held to their ranges.
  engine->handleNoteOn(2, 61, NAN, 0);
  EXPECT_EQ(engine->keyBook.velocity[61], 0.0f);
  EXPECT_EQ(PluginProcessor::clampEventOffset(100), 63);
  engine->setPitchBend(NAN);
  EXPECT_EQ(engine->pitchBend.load(), 0.0f);
}

TEST_F(Notes, StolenNoteComesBackWhenAVoiceFrees) {
  setVoices(0, 2);
  engine->handleNoteOn(0, 60, 0.9, 0);
  blocks(1);
  engine->handleNoteOn(0, 64, 0.9, 0);
  blocks(1);
  const int voiceOf60 = note(0) == 60 ? 0 : 1;
  engine->handleNoteOn(0, 62, 0.9, 0);
  blocks(1);
  EXPECT_EQ(note(voiceOf60), 62);
  EXPECT_EQ(note(1 - voiceOf60), 64);

  engine->handleNoteOff(0, 64, 0);
  blocks(2);
  EXPECT_EQ(note(1 - voiceOf60), 60);
  EXPECT_EQ(gate(1 - voiceOf60)[0], 0.9f);
}

TEST_F(Notes, VoiceModeChangeWaitsForEveryKeyUp) {
  setVoices(1, 8);
  engine->handleNoteOn(0, 60, 0.8, 0);
  blocks(1);
  engine->handleNoteOn(0, 64, 0.8, 0);
  blocks(1);
  engine->setParam(kParamVoiceMode, 0.0);
  for (int b = 0; b < 20; ++b) {
    blocks(1);
    ASSERT_TRUE(gateOpenThroughout(0)) << "voice 0 retriggered in block " << b;
  }
  engine->handleNoteOff(0, 60, 0);
  engine->handleNoteOff(0, 64, 0);
  blocks(1);
  EXPECT_EQ(engine->lastVoiceMode, 0);
}

TEST_F(Notes, FewerVoicesHandSoundingOnesToReleaseTails) {
  setVoices(0, 8);
  for (int v = 2; v < 8; ++v) {
    engine->voices[v].clear();  // as if never played: no pitch, filters at rest
    engine->voicePan[v] = 0.1f * v;
  }
  VoiceState& loud = engine->voices[5];
  loud.ampLevel = 0.5f;
  loud.gainCurrent = 0.5f;
  loud.lastPitch = 67.0f;
  VoiceState& ringing = engine->voices[6];
  ringing.filterB.ic2eq = 0.01f;
  ringing.lastPitch = 70.0f;
  engine->voices[7].ampLevel = 1.0f;  // audible, but never had a pitch
  engine->voices[7].gainCurrent = 1.0f;
  engine->voiceActivity[5].store(0.3f);

  engine->setParam(kParamVoiceCount, 2.0);
  engine->generateBlock();
  ASSERT_TRUE(engine->releaseVoices[1].active);
  EXPECT_FALSE(engine->releaseVoices[2].active);
  EXPECT_EQ(engine->releaseVoices[0].pitch, 67.0f);
  EXPECT_FLOAT_EQ(engine->releaseVoices[0].pan, 0.5f);
  EXPECT_EQ(engine->releaseVoices[1].pitch, 70.0f);
  EXPECT_EQ(engine->voiceActivity[5].load(), 0.0f);
  EXPECT_FALSE(engine->voices[7].sounding());
  // The tails render from sample 0 of that block and fade out over 5 ms (240 samples at 48 kHz).
  EXPECT_NEAR(engine->releaseVoices[0].fadeProgress, 64.0f / 240.0f, 1e-5f);
}

TEST_F(Notes, AFullSetOfTailsGivesUpTheOneFurthestIntoItsFade) {
  VoiceState v;
  for (int i = 0; i < PluginProcessor::kNumVoices; ++i) engine->spawnReleaseVoice(v, 60.0f + i, 0.0f, 100);
  EXPECT_EQ(engine->releaseVoices[7].startOffset, 64);
  for (int i = 0; i < PluginProcessor::kNumVoices; ++i) engine->releaseVoices[i].fadeProgress = 0.1f;
  engine->releaseVoices[3].fadeProgress = 0.6f;
  engine->releaseVoices[6].fadeProgress = 0.6f;
  engine->spawnReleaseVoice(v, 40.0f, 0.25f, -3);
  EXPECT_EQ(engine->releaseVoices[3].pitch, 40.0f);
  EXPECT_EQ(engine->releaseVoices[3].startOffset, 0);
  EXPECT_EQ(engine->releaseVoices[3].fadeProgress, 0.0f);
  EXPECT_EQ(engine->releaseVoices[6].pitch, 66.0f);
}

TEST_F(Notes, ChokeOfKeyMinusOneTakesEverythingDown) {
  // Voices, tails, pending events, keys and pedal.
  engine->setSustainPedal(true, 0);
  engine->handleNoteOn(0, 67, 0.9, 0);
  blocks(1);
  engine->spawnReleaseVoice(engine->voices[0], 60.0f, 0.0f, 0);
  engine->handleNoteOn(0, 72, 0.9, 5);
  engine->chokeKey(0, -1);
  EXPECT_FALSE(engine->anyKeyHeld());
  EXPECT_FALSE(engine->keyBook.sustainPedal);
  for (const ReleaseVoice& tail : engine->releaseVoices) EXPECT_FALSE(tail.active);
  blocks(1);
  for (int v = 0; v < 8; ++v) EXPECT_TRUE(gateClosedThroughout(v)) << v;
}

TEST_F(Notes, ChannelIsKeptPerVoiceThroughItsRelease) {
  engine->handleNoteOn(6, 60, 0.9, 0);
  blocks(1);
  const int v = note(0) == 60 ? 0 : 1;
  engine->handleNoteOff(6, 60, 0);
  blocks(1);
  EXPECT_EQ(engine->voices[v].noteChannel, 6);
}

TEST_F(Notes, ReactivationForgetsEveryKeyAndThePedal) {
  engine->setSustainPedal(true, 0);
  engine->handleNoteOn(0, 60, 0.9, 0);
  engine->handleNoteOn(0, 62, 0.9, 0);
  blocks(1);
  engine->handleNoteOff(0, 62, 0);
  blocks(1);
  engine->setSampleRate(44100.0);
  EXPECT_FALSE(engine->anyKeyHeld());
  blocks(1);
  for (int v = 0; v < 8; ++v) EXPECT_TRUE(gateClosedThroughout(v)) << v;
  // A later note-off is released at once: the pedal is up in the allocator too.
  engine->handleNoteOn(0, 50, 0.9, 0);
  blocks(1);
  engine->handleNoteOff(0, 50, 0);
  blocks(1);
  EXPECT_TRUE(gateClosedThroughout(0));
}

TEST_F(Notes, LostNoteOffIsSwept) {
  engine->handleNoteOn(0, 60, 0.9, 0);
  blocks(1);
  const int v = note(0) == 60 ? 0 : 1;
  engine->keyBook.channel[60] = -1;  // the host never sent the note-off
  blocks(1);
  EXPECT_GT(gate(v)[62], 0.0f);  // released at the block's end, after any timed note-off
  EXPECT_EQ(gate(v)[63], 0.0f);
  EXPECT_FALSE(engine->keyBook.sweepArmed);
}

TEST_F(Notes, StuckVoiceIsReleasedThenCleared) {
  engine->handleNoteOn(0, 60, 0.9, 0);
  blocks(1);
  const int v = note(0) == 60 ? 0 : 1;
  // Key up in the book without a note-off, and out of the sweep's reach.
  engine->keyBook.channel[60] = -1;
  engine->keyBook.pressed[60] = false;
  blocks(47);
  EXPECT_EQ(engine->stuckRecoveries, 0u);
  blocks(1);
  EXPECT_EQ(engine->stuckRecoveries, 1u);
  // The note-off would close the gate in the next block; lose it to reach the last resort.
  engine->allocator.clearEvents();
  engine->voices[v].ampLevel = 0.5f;
  blocks(1);
  EXPECT_EQ(engine->stuckRecoveries, 2u);
  EXPECT_EQ(engine->voices[v].ampLevel, 0.0f);
}

TEST_F(Notes, AllNotesOffKeepsVoicesAllSoundOffClearsThem) {
  engine->setSustainPedal(true, 0);
  engine->handleNoteOn(4, 60, 0.9, 0);
  blocks(1);
  engine->voices[0].ampLevel = 0.5f;
  engine->setPitchBend(0.5f);
  engine->allNotesOff();
  EXPECT_FALSE(engine->anyKeyHeld());
  EXPECT_EQ(engine->pitchBend.load(), 0.0f);
  EXPECT_EQ(engine->voices[0].ampLevel, 0.5f);
  EXPECT_EQ(engine->allocator.events.back().type, ml::Event::kSustainPedal);

  engine->voiceActivity[0].store(0.4f);
  engine->allSoundOff();
  EXPECT_EQ(engine->voices[0].ampLevel, 0.0f);
  EXPECT_TRUE(engine->allocator.events.empty());
}

// The key given back is the held key pressed last before this block's events that no voice sounds, from
// anywhere on the keyboard; key 0 never is.
TEST(KeyBookTest, GivesBackTheLastHeldKeyNoVoiceSounds) {
  KeyBook book;
  std::array<bool, KeyBook::kNumKeys> sounding{};
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), -1);
  for (const int key : {0, 127, 8, 63, 7, 64}) book.press(key, 1, 0.5f);
  book.orderAtLastEvents = book.orderCounter;
  book.press(100, 1, 0.5f);  // in this block
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), 64);
  sounding[64] = true;
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), 7);
  book.keyUp(7);
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), 63);
  sounding[63] = sounding[8] = true;
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), 127);
  sounding[127] = true;
  EXPECT_EQ(book.lastKeyToGiveBack(sounding), -1);
}

}  // namespace
