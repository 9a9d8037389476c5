// The kit as heard: the slot each key plays from the base key, the slot's note, gain and pan in the mix
// and in release tails, the sounding-slot mask, and auditions with their timed note-offs.
#include <cmath>
#include <vector>

#include "engine/VoiceRenderFixture.h"

namespace {

using kernel_test::rms;

class KitPlay : public VoiceRenderTest {
protected:
  void SetUp() override {
    VoiceRenderTest::SetUp();
    engine->setParam(kParamStereoSpread, 0.0);
    engine->setAfxMode(true);
  }

  // Slot s holds a sound with Filter A Cutoff at 5 kHz and plays at note.
  void fillSlot(int s, int note, float gain = 1.0f, float pan = 0.0f) {
    ParamSnapshot snap;
    snap.valid = true;
    snap.has[kParamFilterACutoff] = true;
    snap.value[kParamFilterACutoff] = 5000.0;
    engine->setSlotSnapshotGainPan(s, snap, note, gain, pan);
  }
};

TEST_F(KitPlay, EachKeyFromTheBaseKeyPlaysItsSlotAtTheSlotsNote) {
  engine->setAfxBaseKey(48);
  fillSlot(2, 69);
  singleVoice();
  engine->handleNoteOn(0, 50, 0.8, 0);
  const std::vector<float> out = renderLeft(9600);
  EXPECT_EQ(engine->effParam(kParamFilterACutoff, engine->voices[0]), 5000.0);
  EXPECT_NEAR(centsBetween(kernel_test::zeroCrossingFrequency(out, 4800, kRate, 9600), 440.0), 0.0, 15.0);

  // Keys below the base key and slots without a sound play no slot.
  engine->handleNoteOff(0, 50, 0);
  run(9600);
  for (int key : {47, 51}) {
    engine->handleNoteOn(0, key, 0.8, 0);
    run(128);
    EXPECT_EQ(engine->voices[0].kitSlot, -1) << key;
    engine->handleNoteOff(0, key, 0);
    run(9600);
  }
}

TEST_F(KitPlay, SlotGainAndPanScaleAndPlaceTheVoice) {
  singleVoice();
  auto playSlot0 = [&](float gain, float pan) {
    fillSlot(0, 60, gain, pan);
    engine->handleNoteOn(0, 36, 0.8, 0);
    const Stereo out = render(4800);
    engine->handleNoteOff(0, 36, 0);
    run(48000);
    return out;
  };
  const Stereo centre = playSlot0(1.0f, 0.0f);
  const Stereo half = playSlot0(0.5f, 0.0f);
  const Stereo right = playSlot0(1.0f, 1.0f);
  const Stereo silent = playSlot0(0.0f, 0.0f);

  const double c = rms(centre.left, 2400, 4800);
  ASSERT_GT(c, 1e-3);
  EXPECT_NEAR(rms(half.left, 2400, 4800) / c, 0.5, 0.02);
  // Hard right: nothing left, 1.189 x the centre level right.
  EXPECT_LT(rms(right.left, 0, 4800), 1e-4 * c);
  EXPECT_NEAR(rms(right.right, 2400, 4800) / c, 1.189, 0.03);
  EXPECT_LT(peakOf(silent.left, 0, 4800), 1e-6f);
}

TEST_F(KitPlay, SlotPanAddsToTheVoicePanAndOnlyInKitMode) {
  VoiceState v;
  v.kitSlot = 3;
  engine->kitSlots[3].gain = 2.0f;
  engine->kitSlots[3].pan = 0.75f;
  EXPECT_EQ(engine->voiceMixGains(v, 0.5f).left, panLaw(1.0f, 2.0f).left);
  engine->setAfxMode(false);
  EXPECT_EQ(engine->voiceMixGains(v, 0.5f).left, panLaw(0.5f, 1.0f).left);
}

TEST_F(KitPlay, ReleaseTailKeepsTheOldSlotsPanAndNote) {
  // Slot 0 hard left, slot 1 hard right: a new note on slot 1 takes the voice, and the old note's tail
  // must fade out on the left where it played.
  fillSlot(0, 60, 1.0f, -1.0f);
  fillSlot(1, 67, 1.0f, 1.0f);
  singleVoice();
  engine->handleNoteOn(0, 36, 0.8, 0);
  run(4800);
  engine->handleNoteOn(0, 37, 0.8, 0);
  const Stereo out = render(512);
  // (The first block still holds the limiter's look-ahead of the old note.)
  EXPECT_GT(rms(out.left, 64, 192), 1e-3);

  // Both slots hard right: the tail stays right too.
  engine->handleNoteOff(0, 37, 0);
  run(48000);
  fillSlot(2, 60, 1.0f, 1.0f);
  engine->handleNoteOn(0, 38, 0.8, 0);
  run(4800);
  engine->handleNoteOn(0, 37, 0.8, 0);
  const Stereo right = render(512);
  EXPECT_LT(rms(right.left, 0, 512), 1e-5);

  // A tail rendered on its own plays the slot's note, not its key.
  VoiceState tail;
  tail.kitSlot = 0;
  settleEngineRows();
  std::vector<float> y;
  for (int b = 0; b < 60; ++b) {
    const ml::DSPVector row = engine->renderVoiceSignal(tail, ml::DSPVector(36.0f), ml::DSPVector(0.8f), -1);
    y.insert(y.end(), row.getConstBuffer(), row.getConstBuffer() + 64);
  }
  EXPECT_NEAR(centsBetween(kernel_test::zeroCrossingFrequency(y, 1920, kRate), 261.6256), 0.0, 15.0);
}

TEST_F(KitPlay, SoundingMaskNamesTheSlotsHeardInTheLastBlock) {
  fillSlot(0, 60);
  fillSlot(4, 64);
  engine->handleNoteOn(0, 36, 0.8, 0);
  engine->handleNoteOn(0, 40, 0.8, 0);
  run(4800);
  EXPECT_EQ(engine->afxSlotActive(), (1u << 0) | (1u << 4));
  engine->handleNoteOff(0, 36, 0);
  run(96000);
  EXPECT_EQ(engine->afxSlotActive(), 1u << 4);
  engine->setAfxMode(false);
  run(128);
  EXPECT_EQ(engine->afxSlotActive(), 0u);
}

TEST_F(KitPlay, AuditionPlaysTheSlotsKeyAndReleasesItAfter150Milliseconds) {
  EXPECT_EQ(auditionBlocks(100.0), 2);  // at least two blocks
  engine->auditionSlot(30);
  engine->auditionSlot(-1);
  engine->generateBlock();
  EXPECT_FALSE(engine->anyKeyHeld());

  engine->auditionSlot(0);
  EXPECT_FALSE(engine->anyKeyHeld());  // nothing happens before the next block
  engine->generateBlock();
  EXPECT_EQ(engine->kit.audition.entries[0].countdown, 111);
  for (int b = 0; b < 60; ++b) engine->generateBlock();
  engine->auditionSlot(0);  // again: restarts the same note's time
  for (int b = 0; b < 111; ++b) engine->generateBlock();
  EXPECT_EQ(engine->keyBook.channel[36], 1) << "the second audition was cut short by the first's note-off";
  engine->generateBlock();
  EXPECT_EQ(engine->keyBook.channel[36], -1);
}

TEST_F(KitPlay, AuditionsBeyondTheEntriesAndTheRing) {
  // A ninth audition in one block takes entry zero after releasing it.
  for (int s = 0; s < 9; ++s) engine->auditionSlot(s);
  engine->generateBlock();
  EXPECT_EQ(engine->keyBook.channel[36], -1);
  EXPECT_EQ(engine->keyBook.channel[44], 1);
  // Requests beyond a full ring are dropped, not the queue.
  for (int s = 0; s < 20; ++s) engine->auditionSlot(s);
  engine->generateBlock();
  EXPECT_TRUE(engine->keyBook.pressed[36 + 14]);
  EXPECT_FALSE(engine->keyBook.pressed[36 + 15]);
}

TEST_F(KitPlay, AuditionOfASlotPastTheTopKeyPlaysNothing) {
  engine->setAfxBaseKey(110);
  engine->auditionSlot(23);  // key 133: its clamped key 127 belongs to slot 17
  engine->auditionSlot(17);
  engine->generateBlock();
  EXPECT_EQ(engine->kit.audition.entries[0].note, 127);
  EXPECT_EQ(engine->kit.audition.entries[1].note, -1);
}

}  // namespace
