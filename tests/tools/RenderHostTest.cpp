// The render host: its score, block and transport planning, its audio files, and the render command.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>

#include "RunCommand.h"
#include "tools/host/AudioFile.h"
#include "tools/host/Renderer.h"
#include "tools/host/Score.h"

using namespace tavrin::host;

TEST(RenderScore, NotesAndParamsParseOrFailClearly) {
  std::vector<NoteSpec> notes;
  std::string error;
  ASSERT_TRUE(parseNotes("0:60:0.8:1.0,2.5:72:0.9:2", notes, error)) << error;
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_TRUE(notes[1].start == 2.5 && notes[1].key == 72 && notes[1].velocity == 0.9 &&
              notes[1].duration == 2.0);
  for (const char* bad :
       {"0:60:0.8", "0:128:0.8:1", "0:60:1.5:1", "x:60:0.8:1", "0:60.5:0.8:1", "-1:60:0.8:1", "0:60:0.8:nan"})
    EXPECT_FALSE(parseNotes(bad, notes, error)) << bad;

  std::vector<ParamSpec> params;
  ASSERT_TRUE(parseParams("7=0.25@1.5,12=1@0", params, error)) << error;
  ASSERT_EQ(params.size(), 2u);
  EXPECT_TRUE(params[0].id == 7u && params[0].value == 0.25 && params[0].time == 1.5);
  for (const char* bad : {"7=0.25", "7@1=0.2", "x=1@0", "-1=1@0"})
    EXPECT_FALSE(parseParams(bad, params, error)) << bad;
}

TEST(RenderScore, TimelineIsOrderedWithNoteOffsFirst) {
  Score score;
  score.notes = {{0.5, 60, 0.8, 0.5, 0}, {1.0, 60, 1.0, 1.0, 2}};
  score.params = {{0.25, 3, 0.5}};
  const auto clap = buildTimeline(score, 1000.0, NoteDialect::Clap);
  ASSERT_EQ(clap.size(), 5u);
  const uint64_t frames[] = {250, 500, 1000, 1000, 2000};
  const uint16_t types[] = {CLAP_EVENT_PARAM_VALUE, CLAP_EVENT_NOTE_ON, CLAP_EVENT_NOTE_OFF,
                            CLAP_EVENT_NOTE_ON, CLAP_EVENT_NOTE_OFF};
  for (size_t i = 0; i < clap.size(); ++i) {
    EXPECT_EQ(clap[i].frame, frames[i]) << i;
    EXPECT_EQ(clap[i].event.header.type, types[i]) << i;
  }
  EXPECT_EQ(clap[3].event.note.channel, 2);

  const auto midi = buildTimeline(score, 1000.0, NoteDialect::Midi);
  ASSERT_EQ(midi.size(), 5u);
  EXPECT_EQ(midi[1].event.midi.data[2], 102);  // 0.8 x 127 rounded
  EXPECT_EQ(midi[2].event.midi.data[0], 0x80);
  EXPECT_EQ(midi[3].event.midi.data[0], 0x92);
}

TEST(RenderBlocks, PlansCoverTheRenderingExactly) {
  const auto fixed = planBlocks({.fixedFrames = 256}, 1000);
  EXPECT_EQ(fixed, (std::vector<uint32_t>{256, 256, 256, 232}));
  const BlockPlan random{.randomMin = 0, .randomMax = 100, .seed = 7};
  const auto sizes = planBlocks(random, 10000);
  EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), uint64_t(0)), 10000u);
  EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 100u);
  EXPECT_EQ(sizes, planBlocks(random, 10000));
  EXPECT_EQ(maxBlockFrames(random), 100u);
  EXPECT_EQ(maxBlockFrames({.fixedFrames = 0}), 1u);
}

TEST(RenderTransport, PositionFollowsTempo) {
  const clap_event_transport transport =
      makeTransport({.enabled = true, .tempo = 120, .playing = true}, 96000, 48000);
  EXPECT_EQ(transport.song_pos_beats, 4 * CLAP_BEATTIME_FACTOR);
  EXPECT_EQ(transport.song_pos_seconds, 2 * CLAP_SECTIME_FACTOR);
  EXPECT_TRUE(transport.flags & CLAP_TRANSPORT_HAS_TEMPO);
  EXPECT_FALSE(makeTransport({.playing = false}, 0, 48000).flags & CLAP_TRANSPORT_IS_PLAYING);
}

TEST(RenderAudio, StatsAndFloatWav) {
  const AudioStats stats = measure({0.5f, -1.0f, NAN, INFINITY, -INFINITY, 0.0f});
  EXPECT_EQ(stats.peak, 1.0f);
  EXPECT_DOUBLE_EQ(stats.rms, std::sqrt((0.25 + 1.0) / 3.0));
  EXPECT_EQ(stats.nanCount, 1u);
  EXPECT_EQ(stats.infCount, 2u);

  const std::string path = std::string(TAVRIN_BINARY_DIR) + "/render-test.wav";
  ASSERT_TRUE(writeWavFloat32(path, {0.25f, -0.5f}, {1.0f, 0.0f}, 44100));
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 12u + 26u + 12u + 8u + 16u);
  EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
  EXPECT_EQ(std::string(bytes.data() + 8, 8), "WAVEfmt ");
  struct {
    uint16_t format, channels;
    uint32_t rate;
  } fmt;
  uint16_t bits;
  std::memcpy(&fmt, &bytes[20], 8);
  std::memcpy(&bits, &bytes[34], 2);
  EXPECT_TRUE(fmt.format == 3 && fmt.channels == 2 && fmt.rate == 44100u && bits == 32);
  float samples[4];
  std::memcpy(samples, &bytes[bytes.size() - 16], 16);
  EXPECT_EQ(std::vector<float>(samples, samples + 4), (std::vector<float>{0.25f, 1.0f, -0.5f, 0.0f}));
  EXPECT_FALSE(writeWavFloat32(path, {0.0f}, {}, 44100));
  std::remove(path.c_str());
}

TEST(RenderCommand, WritesTheDemoPhrase) {
  const std::string wav = std::string(TAVRIN_BINARY_DIR) + "/render-command-test.wav";
  const std::string command = std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-render --plugin '" +
                              TAVRIN_MODULE_PATH +
                              "' --rate 48000 --seconds 1 --notes 0:60:0.8:0.5,0.5:64:0.7:0.4 "
                              "--random-blocks 1:300 --tempo 100 --out '" +
                              wav + "' 2>&1";
  const CommandResult run = runCommand(command);
  const std::string& output = run.output;
  EXPECT_EQ(run.status, 0) << output;
  EXPECT_NE(output.find("plug-in: Tavrin 1.0.6.2 by Nobrels (com.nobrel.tavrin)"), std::string::npos)
      << output;
  EXPECT_NE(output.find("NaN 0, Inf 0"), std::string::npos) << output;
  EXPECT_EQ(output.find("plug-in log"), std::string::npos) << output;
  std::ifstream file(wav, std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<size_t>(file.tellg()), 58u + 48000u * 8u);
  std::remove(wav.c_str());

  EXPECT_NE(runCommand(std::string(TAVRIN_BINARY_DIR) +
                       "/tools/tavrin-render --plugin /nonexistent.clap --out x.wav 2>&1")
                .status,
            0);
}
