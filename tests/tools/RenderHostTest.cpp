// The render host: its score, block and transport planning, its audio files, and the render command.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>

#include "RunCommand.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "state/MemoryStreams.h"
#include "tools/host/AudioFile.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"
#include "tools/host/Renderer.h"
#include "tools/host/Score.h"

using namespace tavrin::host;

namespace {

// Runs the built render host on the built module with further arguments; output and errors together.
CommandResult renderHost(const std::string& arguments) {
  return runCommand(std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-render --plugin '" + TAVRIN_MODULE_PATH +
                    "' " + arguments + " 2>&1");
}

// The left channel's peak the render host printed; -1 when it printed none.
double leftPeak(const std::string& output) {
  const size_t at = output.find("left: peak ");
  return at == std::string::npos ? -1.0 : std::stod(output.substr(at + 11));
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The module's state after the host set one parameter.
std::vector<uint8_t> stateWith(clap_id id, double value) {
  ClapModule module;
  EXPECT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error();
  Host host;
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  EXPECT_TRUE(instance.init());
  InputEventList in;
  in.push(makeParamValueEvent(id, value));
  OutputEventList out;
  instance.extension<clap_plugin_params>(CLAP_EXT_PARAMS)
      ->flush(instance.plugin(), in.clapEvents(), out.clapEvents());
  MemoryOStream saved;
  EXPECT_TRUE(instance.extension<clap_plugin_state>(CLAP_EXT_STATE)->save(instance.plugin(), &saved.stream));
  return saved.bytes;
}

}  // namespace

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

  std::vector<ParamEntry> params;
  ASSERT_TRUE(parseParamEntries("7=0.25@1.5, Filter A Cutoff = 4.5 kHz", params, error)) << error;
  ASSERT_EQ(params.size(), 2u);
  EXPECT_TRUE(params[0].param == "7" && params[0].value == "0.25" && params[0].time == 1.5);
  EXPECT_TRUE(params[1].param == "Filter A Cutoff" && params[1].value == "4.5 kHz" && params[1].time == 0.0);
  for (const char* bad : {"7", "=1", "7=", "7=1@x", "7=1@-1"})
    EXPECT_FALSE(parseParamEntries(bad, params, error)) << bad;
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
  const CommandResult run = renderHost(
      "--rate 48000 --seconds 1 --notes 0:60:0.8:0.5,0.5:64:0.7:0.4 --random-blocks 1:300 --tempo 100 --out "
      "'" +
      wav + "'");
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

TEST(RenderCommand, LoadsAStateFileBeforeTheFirstBlock) {
  const std::string dir = TAVRIN_BINARY_DIR;
  const std::string silent = dir + "/render-silent.state", refused = dir + "/render-refused.state";
  writeFile(silent, stateWith(23, 0.0));  // Output Gain at 0
  writeFile(refused, {'T', 'V', 'R'});
  const std::string play = " --seconds 0.5 --notes 0:60:0.8:0.4 --out " + dir + "/render-state.wav";

  const CommandResult loaded = renderHost("--state " + silent + play);
  EXPECT_EQ(loaded.status, 0) << loaded.output;
  EXPECT_NE(loaded.output.find("left: peak 0.000000"), std::string::npos) << loaded.output;
  for (const auto& [path, message] : {std::pair{refused, "the plug-in refused the state in "},
                                      std::pair{dir + "/no-such.state", "cannot read the state file "}}) {
    const CommandResult run = renderHost("--state " + path + play);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find(message + path), std::string::npos) << run.output;
  }
  for (const std::string& path : {silent, refused, dir + "/render-state.wav"}) std::remove(path.c_str());
}

TEST(RenderCommand, ListsParametersAndTakesThemByNameAndText) {
  const std::string module = TAVRIN_MODULE_PATH;
  const size_t slash = module.rfind('/');
  const CommandResult list =
      runCommand("cd '" + module.substr(0, slash) + "' && " + TAVRIN_BINARY_DIR +
                 "/tools/tavrin-render --list-params --plugin " + module.substr(slash + 1));
  ASSERT_EQ(list.status, 0) << list.output;
  for (const char* row :
       {"   7  Filter A Cutoff              automatable          20 Hz          20.0 kHz       4.5 kHz\n",
        "  29  LFO 1 Slew                   stepped,automatable  Off",
        " 118  Fold Char Mod Source         hidden,automatable   LFO1"})
    EXPECT_NE(list.output.find(row), std::string::npos) << row << list.output;

  const std::string wav = std::string(TAVRIN_BINARY_DIR) + "/render-params.wav";
  const std::string play = " --seconds 0.5 --notes 0:60:0.8:0.4 --out " + wav;
  // The default gain of -20 dB peaks near 0.05.
  for (const char* louder : {"'OUTPUT GAIN=-1 dB,7=4500 Hz@0.2'", "23=norm:0.5"}) {
    const CommandResult run = renderHost(std::string("--params ") + louder + play);
    EXPECT_GT(leftPeak(run.output), 0.2) << run.output;
  }
  for (const auto& [params, message] :
       {std::pair{"200=0.5", "unknown parameter \"200\""},
        std::pair{"'Filter Z=1'", "unknown parameter \"Filter Z\""},
        std::pair{"'7=50 kHz'",
                  "\"50 kHz\" lies outside the range of parameter 7 (Filter A Cutoff: 20 Hz to 20.0 kHz)"},
        std::pair{"7=norm:1.5", "\"norm:1.5\" lies outside the range of parameter 7"}}) {
    const CommandResult run = renderHost(std::string("--params ") + params + play);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
  }
  std::remove(wav.c_str());
}
