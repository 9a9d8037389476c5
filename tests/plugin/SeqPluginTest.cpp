// The plug-in's sequencer side: note-ons of both dialects advance lanes 0 and 1 by run mode and trigger
// key, synced lanes follow the song inside a long host block, and the publish step carries the lanes.
#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

namespace {

struct SeqPlugin : PluginFixture {
  SeqPlugin() : PluginFixture(44100.0) { startOnThisThread(); }
  ~SeqPlugin() { instance.stopProcessing(); }

  PluginProcessor& engine() { return object->engine; }
  void lane(int l, int mode, int key) {
    const float steps[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    engine().setSeqSteps(l, steps, 4);
    engine().setSeqEnabled(l, true);
    engine().setSeqRunMode(l, mode);
    engine().setSeqTriggerKey(l, key);
  }
  void play(EventData note, uint32_t frames = 64) {
    DirectBlock block(frames);
    block.add(0, note);
    instance.process(block.block);
  }
};

TEST(SeqPlugin, NoteOnsAdvanceLanesByRunModeAndTriggerKeyInBothDialects) {
  struct Case {
    int mode;
    int key;
    bool advances;
  };
  const Case cases[] = {{kSeqRunTrig, -1, true},  {kSeqRunTrig, 60, true}, {kSeqRunTrig, 48, false},
                        {kSeqRunNote, -1, false}, {kSeqRunNote, 60, true}, {kSeqRunNote, 48, false},
                        {kSeqRunFree, -1, false}, {kSeqRunSync, 60, false}};
  for (const bool midi : {false, true}) {
    for (const Case& c : cases) {
      SeqPlugin p;
      p.lane(0, c.mode, c.key);
      p.lane(1, c.mode, c.key);
      p.play(midi ? makeMidiEvent(0x90, 60, 100) : makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8));
      const int expected = c.advances ? 1 : 0;
      EXPECT_EQ(p.engine().getSeqStep(0), expected) << c.mode << " " << c.key << " midi " << midi;
      EXPECT_EQ(p.engine().getSeqStep(1), expected) << c.mode << " " << c.key << " midi " << midi;
    }
  }
}

TEST(SeqPlugin, OnlyPlayedEnabledLanesWithStepsAdvance) {
  SeqPlugin p;
  for (int lane = 0; lane < 3; ++lane) p.lane(lane, kSeqRunTrig, -1);
  p.engine().setSeqEnabled(1, false);
  p.play(makeMidiEvent(0x90, 60, 0));  // a note-off in disguise
  p.play(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 61, 0.0));
  EXPECT_EQ(p.engine().getSeqStep(0), 0);
  p.play(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 62, 0.7));
  EXPECT_EQ(p.engine().getSeqStep(0), 1);
  EXPECT_EQ(p.engine().getSeqStep(1), 0);  // disabled
  EXPECT_EQ(p.engine().getSeqStep(2), 0);  // notes never advance lane 2
  p.engine().setSeqSteps(0, nullptr, 0);
  p.play(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 63, 0.7));
  EXPECT_EQ(p.engine().getSeqStep(0), 1);  // no steps
}

// One host block of 4096 frames: the lane moves with the engine's own position per 64-frame block, not
// with the position the host sent once for the whole block.
TEST(SeqPlugin, SyncedLaneFollowsTheSongInsideALongHostBlock) {
  SeqPlugin p;
  p.lane(0, kSeqRunSync, -1);
  p.engine().setSeqSyncDiv(0, 2);  // "1/32T", 0.08333 beats
  clap_event_transport transport{};
  transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING;
  transport.tempo = 120.0;
  transport.song_pos_beats = 0;
  DirectBlock block(4096);
  block.block.transport = &transport;
  p.instance.process(block.block);
  EXPECT_EQ(p.engine().getSeqStep(0), 2);  // 4032 frames at 120 bpm: 2.19 beats, step 26 of the lane
}

TEST(SeqPlugin, PublishCarriesStepsMorphedValuesAndRunModes) {
  SeqPlugin p;
  p.lane(0, kSeqRunTrig, -1);
  p.lane(2, kSeqRunNote, 60);
  p.play(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.7), 1500);  // past 1470 frames: publishes
  GuiPollData& poll = p.object->guiPoll;
  EXPECT_EQ(poll.seqStep[0].load(), 1);
  EXPECT_EQ(poll.seqRunMode[2].load(), kSeqRunNote);
  EXPECT_FALSE(poll.seqActive[0].load());

  // While lane 0 morphs between two captures that hold it, its values between the poles are shown.
  PluginProcessor::ParamSnapshot a, b;
  a.valid = b.valid = true;
  a.seqLaneCaptured[0] = b.seqLaneCaptured[0] = true;
  a.seqSteps[0] = {0.2f, 0.4f};
  b.seqSteps[0] = {0.6f, 0.8f};
  a.seqStepCount[0] = b.seqStepCount[0] = 2;
  p.engine().setSnapshot(0, a);
  p.engine().setSnapshot(1, b);
  p.engine().setParam(kParamMorphFader, 0.5);
  DirectBlock again(1500);
  p.instance.process(again.block);
  EXPECT_TRUE(poll.seqActive[0].load());
  ASSERT_EQ(poll.seqCount[0].load(), 4);
  EXPECT_FLOAT_EQ(poll.seqValues[0][0].load(), 0.4f);
  EXPECT_FLOAT_EQ(poll.seqValues[0][1].load(), 0.6f);
}

}  // namespace
