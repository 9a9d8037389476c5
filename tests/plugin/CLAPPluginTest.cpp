// The plug-in object driven over its CLAP handle: event timing at any host block size, the note
// dialects and their guards, parameter values, controllers, transport, blocks without output and the
// publish step.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PluginFixture.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Synthesis voices whose gate is open at the last frame of a rendering of `frames` frames.
int openGatesAtLastFrame(const PluginFixture& p, uint64_t frames) {
  int open = 0;
  for (int v = 0; v < PluginProcessor::kNumVoices; ++v) open += p.gate(v, (frames - 1) % 64) > 0.0f;
  return open;
}

RenderResult renderOf(const std::vector<TimedEvent>& timeline) {
  PluginFixture p;
  return p.render(timeline, 64 * 80, 64);
}

const ml::Event& lastQueued(const PluginFixture& p) {
  return p.object->engine.allocator.events.back();
}

}  // namespace

TEST(PluginTiming, NotesOpenTheirGateExactly63FramesAfterTheirHostTimeAtAnyBlockSize) {
  const uint64_t times[] = {0, 10, 10, 100, 263, 4095, 4096, 4200};
  std::vector<TimedEvent> timeline;
  for (size_t i = 0; i < std::size(times); ++i)
    timeline.push_back({times[i], makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, int16_t(60 + i), 0.8)});

  for (const uint32_t block : {1u, 7u, 64u, 200u, 4096u}) {
    for (const uint64_t t : times) {
      for (const uint64_t frames : {t + 63, t + 64}) {
        int expected = 0;
        for (const uint64_t other : times) expected += other + 63 <= frames - 1;
        PluginFixture p;
        p.render(timeline, frames, block);
        EXPECT_EQ(openGatesAtLastFrame(p, frames), expected) << "block " << block << ", note at " << t;
      }
    }
    // The last note-off closes its gate 63 frames after its host time too.
    const std::vector<TimedEvent> offAt1000 = {{0, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8)},
                                               {1000, makeMidiEvent(0x80, 60, 0)}};
    for (const uint64_t frames : {1063u, 1064u}) {
      PluginFixture p;
      p.render(offAt1000, frames, block);
      EXPECT_EQ(openGatesAtLastFrame(p, frames), frames == 1063 ? 1 : 0) << "block " << block;
    }
  }
}

TEST(PluginTiming, OneEventScriptRendersBitIdenticallyAtEveryBlockSize) {
  std::vector<TimedEvent> timeline = {{30, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8)},
                                      {500, makeParamValueEvent(kParamFilterACutoff, 0.25)},
                                      {1200, makeMidiEvent(0x90, 64, 90)},
                                      {3000, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, 60, 0.0)},
                                      {5000, makeMidiEvent(0x80, 64, 0)}};
  PluginFixture reference;
  const RenderResult expected = reference.render(timeline, 9000, 64);
  for (const uint32_t block : {1u, 7u, 200u, 4096u}) {
    PluginFixture p;
    const RenderResult result = p.render(timeline, 9000, block);
    EXPECT_EQ(result.left, expected.left) << "block " << block;
    EXPECT_EQ(result.right, expected.right) << "block " << block;
  }
}

TEST(PluginTiming, EventsBeyondTheBlockAreTakenAtItsEnd) {
  PluginFixture p;
  p.startOnThisThread();
  DirectBlock first(64);
  first.add(100, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8));
  EXPECT_EQ(p.instance.process(first.block), CLAP_PROCESS_CONTINUE);
  DirectBlock second(64);
  p.instance.process(second.block);
  EXPECT_EQ(p.gate(0, 62), 0.0f);  // frame 126
  EXPECT_GT(p.gate(0, 63), 0.0f);  // frame 127 = 64 + 63
  p.instance.stopProcessing();
}

TEST(PluginNotes, MidiNoteMessagesPlayLikeClapNotes) {
  const std::vector<TimedEvent> clap = {{100, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 100.0 / 127.0)},
                                        {3000, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, 60, 0.0)}};
  const std::vector<TimedEvent> midi = {{100, makeMidiEvent(0x90, 0x3C, 0x64)},
                                        {3000, makeMidiEvent(0x80, 0x3C, 0)}};
  const std::vector<TimedEvent> midiZeroVelocityOff = {{100, makeMidiEvent(0x90, 0x3C, 0x64)},
                                                       {3000, makeMidiEvent(0x90, 0x3C, 0)}};
  const RenderResult expected = renderOf(clap);
  for (const auto& timeline : {midi, midiZeroVelocityOff}) {
    const RenderResult result = renderOf(timeline);
    EXPECT_EQ(result.left, expected.left);
    EXPECT_EQ(result.right, expected.right);
  }
}

TEST(PluginNotes, KeysVelocitiesAndChannelsAreGuarded) {
  PluginFixture p;
  auto& events = p.object->engine.allocator.events;
  auto send = [&](EventData e) { p.object->processEvent(e.header); };

  for (const int16_t key : {128, -2, -1}) send(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, key, 0.5));
  EXPECT_TRUE(events.empty());

  send(makeNoteEvent(CLAP_EVENT_NOTE_ON, 20, 127, 1.5));
  EXPECT_EQ(lastQueued(p).channel, 15);
  EXPECT_EQ(lastQueued(p).value2, 1.0f);
  EXPECT_EQ(lastQueued(p).time, 63);  // nothing waits in the residue buffer yet
  send(makeNoteEvent(CLAP_EVENT_NOTE_ON, -1, 60, 0.25));
  EXPECT_EQ(lastQueued(p).channel, 0);

  // A note-on without a usable velocity releases the key instead of sounding it at full velocity.
  for (const double velocity : {0.0, -1.0, double(kNaN)}) {
    send(makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 61, velocity));
    EXPECT_EQ(lastQueued(p).type, ml::Event::kNoteOff) << velocity;
    EXPECT_EQ(lastQueued(p).sourceIdx, 61);
  }

  // Note-offs and chokes keep -1 as "any".
  events.clear();
  send(makeNoteEvent(CLAP_EVENT_NOTE_OFF, -1, -1, 0.0));
  ASSERT_EQ(events.size(), 2u);  // the two keys held above
  send(makeNoteEvent(CLAP_EVENT_NOTE_CHOKE, -1, 62, 0.0));
  EXPECT_EQ(events.front().type, ml::Event::kKeyFree);  // at once, ahead of the timed note-offs
  EXPECT_EQ(events.front().sourceIdx, 62);
  send(makeNoteEvent(CLAP_EVENT_NOTE_CHOKE, -1, -1, 0.0));
  EXPECT_TRUE(events.empty());

  events.clear();
  EventData foreign = makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.5), truncated = foreign;
  foreign.header.space_id = 7;
  truncated.header.size = sizeof(clap_event_header);
  for (const EventData& e : {foreign, truncated, makeSysexEvent(nullptr, 12)}) send(e);
  EXPECT_TRUE(events.empty());
  send(makeMidiEvent(0x93, 0x3C, 0x40));
  EXPECT_EQ(lastQueued(p).channel, 3);
  EXPECT_EQ(lastQueued(p).value2, float(64 / 127.0));
}

TEST(PluginParams, HostValuesAreClampedAndReachTheEditor) {
  PluginFixture p;
  PluginProcessor& engine = p.object->engine;
  p.startOnThisThread();
  DirectBlock block(64);
  block.add(0, makeParamValueEvent(kParamFilterACutoff, 1.5));
  block.add(0, makeParamValueEvent(kParamAmpEnvAttack, -0.2));
  block.add(0, makeParamValueEvent(kParamAmpEnvRelease, kNaN));
  block.add(0, makeParamValueEvent(kNumParams, 0.5));
  p.instance.process(block.block);
  EXPECT_EQ(engine.getParam(kParamFilterACutoff), kParams[kParamFilterACutoff].max);
  EXPECT_EQ(engine.getParam(kParamAmpEnvAttack), kParams[kParamAmpEnvAttack].min);
  EXPECT_EQ(engine.getParam(kParamAmpEnvRelease), kParams[kParamAmpEnvRelease].min);
  EXPECT_TRUE(p.object->guiPoll.hostChanged[kParamFilterACutoff].load());
  EXPECT_EQ(p.object->guiPoll.hostValue[kParamFilterACutoff].load(), 1.0f);
  EXPECT_EQ(p.object->guiPoll.hostValue[kParamAmpEnvRelease].load(), 0.0f);
  EXPECT_FALSE(p.object->editDirty[kParamFilterACutoff].load());  // nothing is echoed to the host
  p.instance.stopProcessing();
}

TEST(PluginMidi, PitchBendPedalAndControllersWithLearn) {
  PluginFixture p;
  CLAPPlugin& plugin = *p.object;
  auto midi = [&](uint8_t status, uint8_t a, uint8_t b) {
    plugin.processEvent(makeMidiEvent(status, a, b).header);
  };

  midi(0xE5, 0x00, 0x00);
  EXPECT_EQ(plugin.engine.pitchBend.load(), -1.0f);
  midi(0xE0, 0x7F, 0x7F);
  EXPECT_EQ(plugin.engine.pitchBend.load(), 8191.0f / 8192.0f);

  midi(0xB0, 64, 63);
  EXPECT_EQ(lastQueued(p).value1, 0.0f);
  midi(0xB0, 64, 64);
  EXPECT_EQ(lastQueued(p).value1, 1.0f);

  midi(0xB0, 74, 0);
  EXPECT_EQ(plugin.engine.getParam(kParamFilterACutoff), 20.0);
  EXPECT_TRUE(plugin.editDirty[kParamFilterACutoff].load());

  plugin.ccLearnParam = static_cast<int32_t>(kParamFilterBResonance);
  plugin.ccLearnArmed = true;
  for (const uint8_t reserved : {64, 120, 123}) midi(0xB0, reserved, 0);
  EXPECT_TRUE(plugin.ccLearnArmed.load());  // pedal and the all-off controllers cannot be learned
  EXPECT_EQ(plugin.ccMap[64].load(), CLAPPlugin::kCcUnmapped);
  midi(0xB0, 1, 127);
  EXPECT_FALSE(plugin.ccLearnArmed.load());
  EXPECT_EQ(plugin.ccMap[1].load(), kParamFilterBResonance);
  midi(0xB0, 1, 0);
  EXPECT_EQ(plugin.engine.getParam(kParamFilterBResonance), kParams[kParamFilterBResonance].min);
}

TEST(PluginTransport, TempoAndSongPositionWithGuards) {
  PluginFixture p;
  PluginProcessor& engine = p.object->engine;
  p.startOnThisThread();
  auto send = [&](uint32_t flags, double tempo, int64_t beats) {
    clap_event_transport transport{};
    transport.flags = flags;
    transport.tempo = tempo;
    transport.song_pos_beats = beats;
    DirectBlock block(0);
    block.block.transport = &transport;
    p.instance.process(block.block);
  };
  const uint32_t all =
      CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE | CLAP_TRANSPORT_IS_PLAYING;
  send(all, 120.0, 4 * CLAP_BEATTIME_FACTOR);
  EXPECT_EQ(engine.songPosSamples.load(), 96000);
  EXPECT_TRUE(engine.transportPlaying.load());
  send(0, 0.0, 8 * CLAP_BEATTIME_FACTOR);  // no tempo, no timeline: the position stays
  EXPECT_EQ(engine.songPosSamples.load(), 96000);
  EXPECT_EQ(engine.songPosBeats.load(), 4.0);

  for (const double bad : {0.0, -60.0, double(kNaN), std::numeric_limits<double>::infinity()}) {
    send(all, bad, 2 * CLAP_BEATTIME_FACTOR);
    EXPECT_EQ(engine.getTempo(), 120.0) << bad;
    EXPECT_EQ(engine.songPosSamples.load(), 48000) << bad;
  }
  // A position past 64 bits of samples keeps the last one; the beats still arrive.
  send(all, 1e-12, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(engine.songPosSamples.load(), 48000);
  EXPECT_EQ(engine.songPosBeats.load(), 4294967296.0);
  p.instance.stopProcessing();
}

TEST(PluginProcess, BlockWithoutOutputStillTakesItsEvents) {
  PluginFixture p;
  p.startOnThisThread();
  DirectBlock on(64);
  on.add(0, makeNoteEvent(CLAP_EVENT_NOTE_ON, 0, 60, 0.8));
  EXPECT_EQ(p.instance.process(on.block), CLAP_PROCESS_CONTINUE);
  EXPECT_GT(p.gate(0, 63), 0.0f);

  DirectBlock noOutput(64, false);
  noOutput.add(5, makeNoteEvent(CLAP_EVENT_NOTE_OFF, 0, 60, 0.0));
  EXPECT_EQ(p.instance.process(noOutput.block), CLAP_PROCESS_ERROR);
  DirectBlock oneChannel(64);
  oneChannel.buffer.channel_count = 1;
  EXPECT_EQ(p.instance.process(oneChannel.block), CLAP_PROCESS_ERROR);

  DirectBlock after(64);
  EXPECT_EQ(p.instance.process(after.block), CLAP_PROCESS_CONTINUE);
  EXPECT_GT(p.gate(0, 62), 0.0f);
  EXPECT_EQ(p.gate(0, 63), 0.0f);  // the note-off was not lost
  p.instance.stopProcessing();
}

TEST(PluginPublish, PublishesAboutThirtyTimesASecond) {
  PluginFixture p(44100.0);
  CLAPPlugin& plugin = *p.object;
  p.startOnThisThread();
  plugin.engine.setParamFromDsp(kParamFilterACutoff, kParams[kParamFilterACutoff].max);
  for (uint32_t expected : {512u, 1024u}) {
    DirectBlock block(512);
    p.instance.process(block.block);
    EXPECT_EQ(plugin.publishCounter, expected);
    EXPECT_FALSE(plugin.guiPoll.engineChanged[kParamFilterACutoff].load());
  }
  const uint8_t retune[] = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x45, 0x40, 0x00, 0xF7};
  DirectBlock third(512);
  third.add(0, makeSysexEvent(retune, sizeof retune));
  p.instance.process(third.block);
  EXPECT_EQ(plugin.publishCounter, 0u);             // 1536 >= 1470
  EXPECT_EQ(plugin.guiPoll.envNote.load(), -1.0f);  // no voice is followed
  EXPECT_TRUE(plugin.valueDirty[kParamFilterACutoff].load());
  EXPECT_EQ(plugin.guiPoll.engineValue[kParamFilterACutoff].load(), 1.0f);
  EXPECT_FALSE(plugin.guiPoll.engineChanged[kParamFilterAResonance].load());
  EXPECT_NE(plugin.guiPoll.tuningVersion.load(), 0u);
  EXPECT_EQ(plugin.guiPoll.tuningSourceKind, TuningSnapshot::kMTS);
  p.instance.stopProcessing();
}
