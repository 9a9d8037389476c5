// tavrin-edges: prints the filters' worst aliasing over the grid of resonant high-cutoff patches, the folds'
// and feedback's over the fold grid, and the sample and true peaks of loud patches at full output gain, at
// 44.1 and 48 kHz (see EdgeMeasure.h).
// Usage: tavrin-edges [alias|folds|peaks] [FILTER] (all three when no argument; FILTER keeps the alias or
// fold cases whose name holds it).
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EdgeMeasure.h"
#include "EngineCases.h"
#include "engine/ParamTable.h"

namespace {

using edge_measure::Note;
using edge_measure::Param;

constexpr int kWorkers = 4;
constexpr double kSeconds = 0.5 + double(edge_measure::kFftSize) / 44100.0 + 0.05;

struct Case {
  std::string name;
  std::vector<Param> patch;
  std::vector<Note> notes;
};

std::vector<Param> quiet() {
  return {{kParamReverbMix, 0.0}, {kParamNoiseLevel, 0.0}};
}

constexpr const char* kLayerNames[] = {"clean    ", "drive    ", "sat      ", "drive+sat"};

std::vector<Case> aliasCases() {
  std::vector<Case> cases;
  const char* modes[] = {"LP", "HP", "BP", "NT"};
  for (const int filter : {0, 1}) {
    for (const int mode : {0, 1, 2, 3}) {
      for (const double hz : {20000.0, 18000.0, 15000.0}) {
        for (const double resonance : {0.9, 0.95}) {
          for (const int layers : {0, 1, 2, 3}) {  // bit 0: Drive 1, bit 1: Filter Saturation 1
            for (const int key : {36, 48, 72}) {
              std::vector<Param> p = quiet();
              const bool a = filter == 0;
              p.push_back({a ? kParamFilterAMode : kParamFilterBMode, double(mode)});
              p.push_back({a ? kParamFilterACutoff : kParamFilterBCutoff, hz});
              p.push_back({a ? kParamFilterAResonance : kParamFilterBResonance, resonance});
              if (layers & 1) p.push_back({a ? kParamFilterADrive : kParamFilterBDrive, 1.0});
              if (layers & 2) p.push_back({kParamFilterSaturation, 1.0});
              char name[96];
              std::snprintf(name, sizeof name, "%c %s %5.0f Hz res %.2f %s key %d", a ? 'A' : 'B',
                            modes[mode], hz, resonance, kLayerNames[layers], key);
              cases.push_back({name, p, {{0.0, key, 10.0}}});
            }
          }
        }
      }
    }
  }
  return cases;
}

// The heavy benchmark patch's steady tone (its envelope routes would keep the spectrum moving) with the
// reverb and noise floor off.
std::vector<Param> heavyPatch() {
  std::vector<Param> p = quiet();
  for (const engine_cases::CaseParam& c : engine_cases::heavyTone()) p.push_back({c.id, c.plain});
  return p;
}

// Each case's worst alias at 44.1 and 48 kHz, and the worst of each rate.
void printAliasGrid(std::vector<Case> cases, const char* filter) {
  std::erase_if(cases, [&](const Case& c) { return c.name.find(filter) == std::string::npos; });
  for (const double rate : {44100.0, 48000.0}) {
    std::vector<edge_measure::Alias> results(cases.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&] {
        for (size_t i; (i = next++) < cases.size();) {
          const Case& c = cases[i];
          const std::vector<float> test = edge_measure::renderEngine(rate, c.patch, c.notes, kSeconds);
          const std::vector<float> reference =
              edge_measure::renderEngine(rate * edge_measure::kReferenceFactor, c.patch, c.notes, kSeconds);
          results[i] = edge_measure::worstAlias(test, reference, rate);
        }
      });
    }
    for (std::thread& t : workers) t.join();
    edge_measure::Alias worst;
    for (size_t i = 0; i < cases.size(); ++i) {
      std::printf("%5.1f kHz  %-44s alias %7.1f dB at %7.0f Hz\n", rate / 1000, cases[i].name.c_str(),
                  results[i].db, results[i].hz);
      if (results[i].db > worst.db) worst = results[i];
    }
    std::printf("%5.1f kHz  worst alias %.1f dB at %.0f Hz\n", rate / 1000, worst.db, worst.hz);
    std::fflush(stdout);
  }
}

void runAlias(const char* filter) {
  std::vector<Case> cases = aliasCases();
  cases.push_back({"heavy bench patch, E6", heavyPatch(), {{0.0, 88, 10.0}}});
  cases.push_back({"heavy bench patch, C2", heavyPatch(), {{0.0, 36, 10.0}}});
  printAliasGrid(cases, filter);
}

void runFolds(const char* filter) {
  std::vector<Case> cases;
  for (const edge_measure::FoldPatch& p : edge_measure::foldPatches()) {
    for (const int key : edge_measure::kFoldKeys)
      cases.push_back({std::string(p.name) + ", key " + std::to_string(key), p.patch, {{0.0, key, 10.0}}});
  }
  printAliasGrid(cases, filter);
}

void printPeaks(const char* name, const std::vector<float>& out, size_t from) {
  float samplePeak = 0.f;
  for (size_t i = from; i < out.size(); ++i) samplePeak = std::max(samplePeak, std::fabs(out[i]));
  std::printf("  %-46s sample peak %.9f, true peak %+6.2f dBTP\n", name, samplePeak,
              edge_measure::decibels(edge_measure::truePeak(out, from)));
}

std::vector<Note> chord(const std::vector<int>& keys, double start, double duration) {
  std::vector<Note> notes;
  for (const int key : keys) notes.push_back({start, key, duration});
  return notes;
}

void runPeaks() {
  const std::vector<int> low = {48, 52, 55, 60, 64, 67, 72, 76};
  const std::vector<int> high = {72, 76, 79, 84, 88, 91, 93, 96};
  std::vector<Case> cases;
  std::vector<Param> loud = {{kParamOutputGain, 2.0},       {kParamFold, 6.0},
                             {kParamFeedback, 0.7},         {kParamFilterACutoff, 20000.0},
                             {kParamFilterAResonance, 0.9}, {kParamFilterADrive, 1.0}};
  cases.push_back({"chord, gain 2, fold 6, feedback 0.7, res 0.9", loud, chord(low, 0.0, 1.5)});
  cases.push_back({"high chord, fold 8, cutoff 20 kHz, gain 2",
                   {{kParamOutputGain, 2.0}, {kParamFold, 8.0}, {kParamFilterACutoff, 20000.0}},
                   chord(high, 0.0, 1.5)});
  std::vector<Note> clicks;
  for (int k = 0; k < 15; ++k)
    for (const Note& n : chord(high, 0.1 * k, 0.05)) clicks.push_back(n);
  cases.push_back({"noise level 1, click 1, gain 2, repeated chords",
                   {{kParamOutputGain, 2.0},
                    {kParamNoiseLevel, 1.0},
                    {kParamClickAmount, 1.0},
                    {kParamFilterACutoff, 20000.0}},
                   clicks});
  for (const double rate : {44100.0, 48000.0}) {
    std::printf("%.1f kHz, through the module:\n", rate / 1000);
    for (const Case& c : cases)
      printPeaks(c.name.c_str(), edge_measure::renderEngine(rate, c.patch, c.notes, 1.5), 0);
    std::printf("%.1f kHz, into the limiter:\n", rate / 1000);
    const std::vector<float> noise = edge_measure::limiterNoiseBursts(rate);
    printPeaks("full-scale noise bursts", edge_measure::limitMono(rate, noise), 0);
    printPeaks("+12 dB noise bursts", edge_measure::limitMono(rate, edge_measure::scaled(noise, 3.98f)), 0);
    printPeaks("full-scale impulses", edge_measure::limitMono(rate, edge_measure::limiterImpulses(rate)), 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool alias = argc < 2 || std::strcmp(argv[1], "alias") == 0;
  const bool folds = argc < 2 || std::strcmp(argv[1], "folds") == 0;
  const bool peaks = argc < 2 || std::strcmp(argv[1], "peaks") == 0;
  const char* filter = argc > 2 ? argv[2] : "";
  if (peaks) runPeaks();
  if (alias) runAlias(filter);
  if (folds) runFolds(filter);
  return 0;
}
