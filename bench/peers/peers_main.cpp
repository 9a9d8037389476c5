// tavrin-peers: Tavrin beside the LV2 synthesizers a musician would pick instead, measured side by side in
// one run. Tavrin plays through its built CLAP module as a host would load it. Each sound holds its notes
// (the idle one none, after ten seconds of silence with the transport stopped); every instrument renders
// 256-frame blocks at 48 kHz on one thread, whose CPU time inside the process calls is counted, with
// flush-to-zero set as audio hosts set it. The runs go round the instruments in turn; each figure is a
// median, and a peer's ratio to Tavrin is the median of the ratios within each round, so that a machine
// whose load drifts compares neighbouring runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CaseState.h"
#include "EngineCases.h"
#include "peers/ClapInstrument.h"
#include "peers/Lv2Instrument.h"
#include "platform/FloatingPointControl.h"

namespace {

using namespace peers;

const char* kUsage =
    "usage: tavrin-peers [--runs N] [--seconds S] [--module PATH]\n"
    "  --runs N       timed runs of each instrument, interleaved (21)\n"
    "  --seconds S    length of each timed run: the held chord from its first block (2)\n"
    "  --module PATH  the Tavrin CLAP module (the one this build made)\n";

constexpr double kSampleRate = 48000.0;
// Silent blocks rendered in real time before the first note: some peers build their tables on their own
// threads and take them over in their audio callback.
constexpr double kIdleWarmUpSeconds = 2.0;
// After a run the notes are released and rendered, untimed, until this quiet for kQuietSeconds.
constexpr float kQuietPeak = 1e-5f;
constexpr double kQuietSeconds = 0.5;
constexpr double kMaxDrainSeconds = 30.0;
// A run quieter than this means the instrument did not play.
constexpr float kAudiblePeak = 1e-3f;

const char* kZynUri = "http://zynaddsubfx.sourceforge.net";

struct Options {
  int runs = 21;
  double seconds = 2.0;
  std::string module = TAVRIN_MODULE_PATH;
};

// One sound: Tavrin's patch and chord, the silence rendered before the first run, and the peers that play
// the same chord.
struct PeerSpec {
  std::string name, pluginUri, presetUri;
};
struct Sound {
  std::string name;
  std::vector<engine_cases::CaseParam> patch;
  std::vector<int> chord;
  std::vector<PeerSpec> peers;
  double silenceBefore = 0.0;
};

constexpr double kIdleSilenceSeconds = 10.0;

// One row of the table: an instrument (null when it could not be loaded) and its runs' block times.
struct Row {
  Row(size_t s, std::string n) : sound(s), name(std::move(n)) {}
  size_t sound;
  std::string name;
  std::unique_ptr<Instrument> instrument;
  std::string problem;
  std::vector<double> blockSeconds;
  float quietestRunPeak = INFINITY;
};

std::vector<Sound> sounds() {
  const PeerSpec synthv1{"synthv1", "http://synthv1.sourceforge.net/lv2", ""};
  const PeerSpec zyn{"ZynAddSubFX (default)", kZynUri, ""};
  return {
      {"default, 8 held voices",
       {},
       engine_cases::defaultChord(),
       {synthv1, {"padthv1", "http://padthv1.sourceforge.net/lv2", ""}, zyn}},
      {"default, 1 held voice", {}, {60}, {synthv1}},
      {"heavy, 8 held voices above 1 kHz",
       engine_cases::heavyPatch(0.0),
       engine_cases::highChord(),
       {{"ZynAddSubFX Master Synth High", kZynUri,
         "http://zynaddsubfx.sourceforge.net#preset_Collection_0041-Master%20Synth%20High"}}},
      {"idle: no notes, transport stopped", {}, {}, {synthv1, zyn}, kIdleSilenceSeconds},
  };
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    if (arg == "--runs") {
      const long runs = std::strtol(value, &end, 10);
      if (*end != 0 || runs < 1 || runs > 1000) return false;
      options.runs = static_cast<int>(runs);
    } else if (arg == "--module") {
      options.module = value;
    } else if (arg == "--seconds") {
      options.seconds = std::strtod(value, &end);
      if (*end != 0 || !(options.seconds >= 0.1 && options.seconds <= 600.0)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// CPU seconds of the calling thread.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

size_t blocksIn(double seconds) {
  return static_cast<size_t>(std::ceil(seconds * kSampleRate / kBlockFrames));
}

// Releases the notes and renders until the instrument has been quiet for a while (or long enough).
void drain(Instrument& instrument, const std::vector<int>& chord) {
  if (chord.empty()) return;
  for (const int key : chord) instrument.noteOff(key);
  const size_t quietBlocks = blocksIn(kQuietSeconds);
  size_t quiet = 0;
  for (size_t b = 0; b < blocksIn(kMaxDrainSeconds) && quiet < quietBlocks; ++b) {
    instrument.processBlock();
    quiet = instrument.lastBlockPeak() < kQuietPeak ? quiet + 1 : 0;
  }
}

// Plays the chord for `seconds` and answers the mean CPU seconds per block, the process calls alone; the
// loudest sample of the last block goes to `peak`. The release is rendered afterwards, untimed.
double timedRun(Instrument& instrument, const std::vector<int>& chord, double seconds, float& peak) {
  for (const engine_cases::CaseNote& note : engine_cases::heldNotes(chord, seconds))
    instrument.noteOn(note.key, note.velocity);
  const size_t blocks = blocksIn(seconds);
  const double start = threadSeconds();
  for (size_t b = 0; b < blocks; ++b) instrument.processBlock();
  const double elapsed = threadSeconds() - start;
  peak = instrument.lastBlockPeak();
  drain(instrument, chord);
  return elapsed / double(blocks);
}

// Everything that renders, on the calling thread: the idle warm-up in real time, each sound's silence
// before it and one untimed run each, then the timed runs, going round the instruments and starting one
// further along each round.
void measure(std::vector<Row>& rows, const std::vector<Sound>& table, const Options& options) {
  enableDenormalFlush();
  std::vector<Row*> live;
  for (Row& row : rows)
    if (row.instrument) live.push_back(&row);
  const auto blockPeriod = std::chrono::duration<double>(kBlockFrames / kSampleRate);
  for (size_t b = 0; b < blocksIn(kIdleWarmUpSeconds); ++b) {
    for (Row* row : live) row->instrument->processBlock();
    std::this_thread::sleep_for(blockPeriod);
  }
  float peak = 0.0f;
  for (Row* row : live) {
    for (size_t b = 0; b < blocksIn(table[row->sound].silenceBefore); ++b) row->instrument->processBlock();
    timedRun(*row->instrument, table[row->sound].chord, options.seconds, peak);
  }
  for (int run = 0; run < options.runs; ++run) {
    for (size_t i = 0; i < live.size(); ++i) {
      Row& row = *live[(i + static_cast<size_t>(run)) % live.size()];
      row.blockSeconds.push_back(timedRun(*row.instrument, table[row.sound].chord, options.seconds, peak));
      row.quietestRunPeak = std::min(row.quietestRunPeak, peak);
    }
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The median over the rounds of a row's block time over the reference row's in the same round.
double pairedRatio(const Row& row, const Row& reference) {
  std::vector<double> ratios;
  for (size_t r = 0; r < row.blockSeconds.size(); ++r)
    ratios.push_back(row.blockSeconds[r] / reference.blockSeconds[r]);
  return median(ratios);
}

void printTable(const std::vector<Row>& rows, const std::vector<Sound>& table, const Options& options) {
  std::printf(
      "%d interleaved runs of %.3g s each, 48 kHz, %u-frame blocks, CPU time of the rendering thread in\n"
      "the process calls; medians, with the fastest and slowest run; the ratio is the median of the ratios\n"
      "within a round.\n\n",
      options.runs, options.seconds, kBlockFrames);
  std::printf(
      "| Sound | Instrument | CPU ms per audio second | Real-time factor | Runs (ms per audio second) | "
      "Tavrin's speed / its speed |\n");
  std::printf("| --- | --- | --- | --- | --- | --- |\n");
  for (size_t s = 0; s < table.size(); ++s) {
    const Row* tavrin = nullptr;  // Tavrin's row comes first
    for (const Row& row : rows) {
      if (row.sound != s) continue;
      if (!row.instrument) {
        std::printf("| %s | %s | - | - | - | %s |\n", table[s].name.c_str(), row.name.c_str(),
                    row.problem.c_str());
        continue;
      }
      const double mid = median(row.blockSeconds);
      if (!tavrin) tavrin = &row;
      const auto [fastest, slowest] = std::minmax_element(row.blockSeconds.begin(), row.blockSeconds.end());
      const double blocksPerSecond = kSampleRate / kBlockFrames;
      std::printf("| %s | %s | %.2f | %.1f | %.2f to %.2f | %.2f |\n", table[s].name.c_str(),
                  row.name.c_str(), mid * blocksPerSecond * 1e3, 1.0 / (mid * blocksPerSecond),
                  *fastest * blocksPerSecond * 1e3, *slowest * blocksPerSecond * 1e3,
                  pairedRatio(row, *tavrin));
    }
  }
  for (const Row& row : rows) {
    if (row.instrument && !table[row.sound].chord.empty() && row.quietestRunPeak < kAudiblePeak)
      std::printf("\nwarning: %s was silent in a run (peak %.2g)\n", row.name.c_str(), row.quietestRunPeak);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The rncbc synthesizers start a Qt application; they need no display to render.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);

  tavrin::host::ClapModule module;
  if (!module.load(options.module)) {
    std::fprintf(stderr, "tavrin-peers: %s\n", module.error().c_str());
    return 1;
  }
  Lv2World world;
  const std::vector<Sound> table = sounds();
  std::vector<Row> rows;
  for (size_t s = 0; s < table.size(); ++s) {
    Row tavrin(s, "Tavrin");
    tavrin.instrument =
        ClapInstrument::create(module, engine_cases::patchState(table[s].patch), kSampleRate, tavrin.problem);
    if (!tavrin.instrument) {
      std::fprintf(stderr, "tavrin-peers: %s\n", tavrin.problem.c_str());
      return 1;
    }
    rows.push_back(std::move(tavrin));
    for (const PeerSpec& peer : table[s].peers) {
      Row row(s, peer.name);
      row.instrument = Lv2Instrument::create(world, peer.pluginUri, peer.presetUri, kSampleRate, row.problem);
      if (!row.instrument) std::fprintf(stderr, "tavrin-peers: %s\n", row.problem.c_str());
      rows.push_back(std::move(row));
    }
  }
  measure(rows, table, options);
  printTable(rows, table, options);
  return 0;
}
