// The oscillator's folds and feedback through the engine: no folded components at the top of the keyboard,
// the sound of the lower keys as it was, smooth modulation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <string>
#include <vector>

#include "bench/EdgeMeasure.h"
#include "engine/ParamTable.h"

namespace {

using edge_measure::Note;
using edge_measure::Param;

constexpr double kSeconds = edge_measure::kAnalysisStart + edge_measure::kFftSize / 44100.0 + 0.05;

// The sound of a held note: the level of each harmonic (its band of the spectrum, one harmonic spacing
// wide, so that the analog pitch walk's blur stays inside), the RMS level and the DC of the analysed span.
struct ToneLevels {
  std::vector<double> harmonicDb;  // index h - 1
  double rmsDb{0.0};
  double dc{0.0};
};

ToneLevels toneLevels(const std::vector<float>& x, double rate, double f0) {
  const std::vector<double> db = edge_measure::spectrumDb(x, rate);
  const double binHz = rate / edge_measure::kFftSize;
  ToneLevels t;
  for (int h = 1; (h + 0.5) * f0 < rate / 2; ++h) {
    double power = 0.0;
    for (auto k = size_t((h - 0.5) * f0 / binHz); k < size_t((h + 0.5) * f0 / binHz); ++k)
      power += std::pow(10.0, db[k] / 10.0);
    t.harmonicDb.push_back(10.0 * std::log10(power + 1e-300));
  }
  const auto from = size_t(edge_measure::kAnalysisStart * rate);
  double sum = 0.0, squares = 0.0;
  for (size_t i = from; i < from + edge_measure::kFftSize; ++i) sum += x[i], squares += double(x[i]) * x[i];
  t.dc = sum / edge_measure::kFftSize;
  t.rmsDb = 10.0 * std::log10(squares / edge_measure::kFftSize);
  return t;
}

double keyHz(int key) {
  return 440.0 * std::exp2((key - 69) / 12.0);
}

// The sound of the fold grid's patches at C3 and C4 as the build before the folds were band-limited made it
// (measured with toneLevels from that build), so that the band-limiting keeps the character of the lower
// keys: patch (index into edge_measure::foldPatches()), key, rate, the strongest harmonic's level, RMS level
// and DC, then the level of every harmonic under 5 kHz, all in dB but the DC.
struct ReferenceTone {
  int patch;
  int key;
  double rate;
  double strongestDb;
  double rmsDb;
  double dc;
  std::vector<double> harmonicDb;
};

const std::vector<ReferenceTone>& referenceTones() {
  static const std::vector<ReferenceTone> tones = {
      {0, 48, 44100, 43.41, -37.21, -0.00001, {40.45, 24.44, 35.75, 31.36, 34.77,  39.98, 40.13, 30.37,
                                               38.45, 43.41, 40.30, 38.63, 41.33,  31.39, 31.94, 28.79,
                                               20.53, 14.89, 6.84,  3.90,  4.16,   -6.47, 4.76,  4.17,
                                               -0.69, 1.51,  -5.98, -2.48, -10.82, -5.31, -8.21, 1.94,
                                               -6.10, -1.57, -4.31, -1.43, -6.69,  -4.03}},
      {0, 48, 48000, 43.41, -37.21, -0.00001, {40.45, 24.44, 35.75, 31.36, 34.77,  39.98, 40.13, 30.37,
                                               38.45, 43.41, 40.30, 38.64, 41.33,  31.39, 31.95, 28.79,
                                               20.54, 14.90, 6.85,  3.90,  4.17,   -6.47, 4.76,  4.17,
                                               -0.68, 1.51,  -5.98, -2.50, -10.85, -5.32, -8.20, 1.93,
                                               -6.09, -1.57, -4.32, -1.44, -6.71,  -4.02}},
      {0,
       60,
       44100,
       43.38,
       -37.24,
       0.00001,
       {40.48, 24.43, 35.75, 31.36, 34.76, 39.97, 40.11, 30.33, 38.42, 43.38, 40.25, 38.58, 41.26, 31.32,
        31.87, 28.72, 20.42, 14.75, 6.51}},
      {0,
       60,
       48000,
       43.38,
       -37.24,
       0.00000,
       {40.48, 24.42, 35.75, 31.36, 34.76, 39.97, 40.11, 30.33, 38.43, 43.38, 40.26, 38.60, 41.28, 31.34,
        31.89, 28.74, 20.44, 14.78, 6.55}},
      {1, 48, 44100, 49.56, -37.01, 0.00002, {49.56, 36.61, 37.90, 35.45, 27.79, 33.40, 1.52,  30.26,
                                              22.55, 25.52, 24.86, 17.42, 24.25, 2.07,  21.77, 15.00,
                                              17.26, 17.22, 9.12,  16.56, 0.03,  13.98, 8.12,  9.33,
                                              9.83,  1.25,  8.92,  -3.94, 6.14,  1.22,  1.33,  2.34,
                                              -6.28, 1.14,  -9.19, -1.82, -5.82, -6.71}},
      {1, 48, 48000, 49.56, -37.02, 0.00003, {49.56, 36.61, 37.90, 35.44, 27.79, 33.40, 1.48,  30.26,
                                              22.55, 25.52, 24.86, 17.42, 24.25, 2.06,  21.77, 15.00,
                                              17.27, 17.22, 9.14,  16.57, 0.02,  14.00, 8.13,  9.35,
                                              9.84,  1.27,  8.94,  -3.94, 6.16,  1.24,  1.37,  2.36,
                                              -6.25, 1.17,  -9.15, -1.79, -5.81, -6.66}},
      {1,
       60,
       44100,
       49.59,
       -36.99,
       -0.00001,
       {49.59, 36.62, 37.91, 35.45, 27.79, 33.40, 1.77, 30.25, 22.54, 25.49, 24.83, 17.38, 24.20, 2.15, 21.70,
        14.94, 17.18, 17.13, 9.03}},
      {1,
       60,
       48000,
       49.59,
       -36.99,
       -0.00000,
       {49.59, 36.62, 37.91, 35.45, 27.79, 33.40, 1.76, 30.26, 22.54, 25.50, 24.84, 17.39, 24.22, 2.16, 21.72,
        14.96, 17.21, 17.16, 9.06}},
      {2, 48, 44100, 43.31, -37.30, -0.00001, {39.14, 22.48, 33.95, 31.33, 35.17, 39.59, 39.88, 30.71,
                                               39.00, 43.31, 39.67, 38.23, 41.33, 31.75, 30.75, 30.15,
                                               22.47, 18.48, 14.70, 24.14, 22.91, 19.47, 6.46,  25.46,
                                               4.86,  19.16, 26.19, 15.85, 21.96, 17.57, 17.99, 27.55,
                                               21.38, 22.30, 19.91, 26.42, 19.01, 23.50}},
      {2, 48, 48000, 43.31, -37.30, -0.00001, {39.14, 22.48, 33.95, 31.32, 35.17, 39.59, 39.88, 30.70,
                                               39.00, 43.31, 39.67, 38.24, 41.32, 31.75, 30.76, 30.15,
                                               22.49, 18.49, 14.71, 24.14, 22.92, 19.48, 6.53,  25.47,
                                               4.82,  19.16, 26.21, 15.88, 21.98, 17.59, 18.02, 27.57,
                                               21.39, 22.32, 19.93, 26.44, 19.02, 23.53}},
      {2,
       60,
       44100,
       43.28,
       -37.33,
       0.00000,
       {39.16, 22.46, 33.96, 31.32, 35.15, 39.59, 39.86, 30.67, 38.97, 43.28, 39.63, 38.20, 41.27, 31.71,
        30.72, 30.10, 22.43, 18.38, 14.53}},
      {2,
       60,
       48000,
       43.29,
       -37.32,
       0.00000,
       {39.16, 22.45, 33.96, 31.32, 35.16, 39.59, 39.86, 30.67, 38.97, 43.29, 39.63, 38.20, 41.28, 31.72,
        30.73, 30.11, 22.44, 18.42, 14.59}},
      {3, 48, 44100, 44.94, -37.55, -0.00001, {41.93, 21.40, 30.08, 42.59, 43.38, 44.94, 31.59, 32.98,
                                               31.15, 15.59, 26.31, 26.27, 15.77, 26.26, 26.14, 19.96,
                                               29.07, 28.13, 20.96, 26.11, 15.92, 21.60, 14.37, 11.42,
                                               18.62, 5.35,  16.05, 16.48, 21.68, 0.60,  16.95, 13.11,
                                               15.45, 14.86, 10.42, 12.21, 11.31, 2.39}},
      {3, 48, 48000, 44.94, -37.55, -0.00001, {41.93, 21.40, 30.08, 42.59, 43.38, 44.94, 31.59, 32.98,
                                               31.15, 15.58, 26.31, 26.27, 15.77, 26.27, 26.15, 19.97,
                                               29.07, 28.13, 20.98, 26.12, 15.92, 21.60, 14.38, 11.42,
                                               18.63, 5.39,  16.08, 16.50, 21.69, 0.63,  16.97, 13.13,
                                               15.48, 14.89, 10.44, 12.24, 11.35, 2.46}},
      {3,
       60,
       44100,
       44.92,
       -37.56,
       0.00000,
       {41.96, 21.39, 30.07, 42.59, 43.37, 44.92, 31.52, 32.96, 31.08, 15.67, 26.30, 26.23, 15.64, 26.18,
        26.06, 19.86, 29.01, 28.03, 20.90}},
      {3,
       60,
       48000,
       44.93,
       -37.55,
       0.00000,
       {41.96, 21.40, 30.07, 42.59, 43.37, 44.93, 31.52, 32.97, 31.08, 15.68, 26.31, 26.24, 15.65, 26.20,
        26.07, 19.88, 29.03, 28.06, 20.94}},
      {4, 48, 44100, 49.53, -36.92, 0.00002, {49.53,  41.44,  36.47,  32.88,  29.92,  27.37, 25.10,  23.05,
                                              21.13,  19.34,  17.63,  15.99,  14.41,  12.87, 11.38,  9.93,
                                              8.50,   7.09,   5.69,   4.32,   2.96,   1.62,  0.27,   -1.07,
                                              -2.39,  -3.73,  -5.06,  -6.36,  -7.69,  -9.03, -10.35, -11.66,
                                              -12.95, -14.29, -15.65, -16.92, -18.31, -19.51}},
      {4, 48, 48000, 49.54, -36.91, 0.00003, {49.54,  41.45,  36.50,  32.93,  29.99,  27.47, 25.23, 23.20,
                                              21.32,  19.56,  17.88,  16.28,  14.73,  13.24, 11.78, 10.37,
                                              8.98,   7.61,   6.26,   4.93,   3.61,   2.31,  1.02,  -0.28,
                                              -1.56,  -2.84,  -4.14,  -5.38,  -6.67,  -7.93, -9.19, -10.46,
                                              -11.72, -12.98, -14.22, -15.51, -16.75, -17.98}},
      {4,
       60,
       44100,
       49.44,
       -37.07,
       -0.00001,
       {49.44, 41.28, 36.12, 32.33, 29.11, 26.31, 23.76, 21.42, 19.20, 17.08, 15.02, 13.03, 11.09, 9.19, 7.32,
        5.46, 3.63, 1.80, -0.01}},
      {4,
       60,
       48000,
       49.45,
       -37.04,
       -0.00000,
       {49.45, 41.31, 36.18, 32.42, 29.24, 26.48, 23.97, 21.67, 19.49, 17.42, 15.41, 13.47, 11.58, 9.74, 7.92,
        6.12, 4.35, 2.58, 0.83}},
      {5, 48, 44100, 39.65, -39.87, -0.00001, {33.14, 39.44, 32.53, 35.09, 37.61, 35.00, 39.65, 37.96,
                                               32.31, 33.19, 33.31, 31.17, 30.53, 31.25, 31.66, 31.37,
                                               30.26, 28.99, 28.11, 26.96, 25.36, 24.07, 22.98, 21.34,
                                               19.18, 17.30, 15.96, 14.59, 12.84, 10.78, 8.80,  7.38,
                                               6.31,  5.05,  3.52,  2.13,  0.99,  -0.19}},
      {5, 48, 48000, 39.66, -39.86, -0.00000, {33.17, 39.44, 32.50, 35.10, 37.59, 35.01, 39.66, 37.95,
                                               32.36, 33.24, 33.29, 31.11, 30.51, 31.27, 31.67, 31.37,
                                               30.25, 28.99, 28.12, 26.96, 25.38, 24.11, 23.02, 21.35,
                                               19.19, 17.35, 16.03, 14.64, 12.85, 10.77, 8.81,  7.42,
                                               6.33,  5.02,  3.47,  2.09,  0.97,  -0.21}},
      {5,
       60,
       44100,
       39.55,
       -39.91,
       0.00000,
       {32.74, 39.43, 32.95, 34.91, 37.79, 34.90, 39.55, 38.04, 31.72, 32.54, 33.55, 31.93, 30.85, 31.11,
        31.45, 31.31, 30.33, 28.93, 27.84}},
      {5,
       60,
       48000,
       39.57,
       -39.90,
       0.00000,
       {32.80, 39.43, 32.89, 34.94, 37.76, 34.91, 39.57, 38.03, 31.81, 32.65, 33.52, 31.82, 30.78, 31.13,
        31.49, 31.33, 30.34, 28.95, 27.91}},
      {6, 48, 44100, 46.32, -38.89, 0.00001, {46.32, 21.90, 25.42, 27.17, 26.57,  32.82, 36.74, 22.77,
                                              33.55, 38.01, 35.92, 33.42, 36.35,  26.13, 27.88, 22.61,
                                              17.72, 7.66,  10.84, -3.71, 6.80,   1.60,  4.81,  1.74,
                                              3.03,  0.81,  0.96,  -1.01, -1.63,  -2.66, -4.80, -3.06,
                                              -7.61, -5.49, -9.86, -8.58, -11.75, -10.32}},
      {6, 48, 48000, 46.32, -38.89, 0.00002, {46.32, 21.90, 25.41, 27.17, 26.57,  32.82, 36.74, 22.76,
                                              33.55, 38.01, 35.92, 33.43, 36.35,  26.13, 27.88, 22.62,
                                              17.73, 7.67,  10.84, -3.68, 6.80,   1.63,  4.81,  1.76,
                                              3.04,  0.82,  0.98,  -0.99, -1.62,  -2.64, -4.78, -3.04,
                                              -7.61, -5.46, -9.81, -8.56, -11.70, -10.30}},
      {6,
       60,
       44100,
       46.35,
       -38.89,
       -0.00001,
       {46.35, 21.97, 25.44, 27.18, 26.51, 32.80, 36.71, 22.86, 33.52, 37.97, 35.88, 33.37, 36.30, 26.05,
        27.82, 22.52, 17.60, 7.40, 10.68}},
      {6,
       60,
       48000,
       46.35,
       -38.89,
       -0.00000,
       {46.35, 21.97, 25.43, 27.18, 26.51, 32.80, 36.71, 22.86, 33.53, 37.98, 35.89, 33.39, 36.31, 26.07,
        27.84, 22.54, 17.62, 7.44, 10.71}},
      {7, 48, 44100, 45.30, -39.21, 0.00002, {45.30, 35.36, 25.33, 26.16, 32.86, 34.42, 30.36,  18.08,
                                              33.30, 38.81, 34.72, 33.54, 36.59, 27.04, 26.10,  26.16,
                                              16.11, 18.48, 15.62, 19.81, 19.45, 8.78,  -16.23, 19.55,
                                              2.50,  11.49, 21.45, 14.21, 16.66, 13.80, 13.63,  22.42,
                                              14.85, 16.92, 14.20, 20.96, 13.18, 18.34}},
      {7, 48, 48000, 45.30, -39.21, 0.00002, {45.30, 35.36, 25.32, 26.16, 32.86, 34.42, 30.36,  18.07,
                                              33.31, 38.81, 34.71, 33.54, 36.59, 27.04, 26.11,  26.16,
                                              16.12, 18.48, 15.63, 19.81, 19.46, 8.80,  -17.17, 19.56,
                                              2.51,  11.50, 21.47, 14.22, 16.68, 13.82, 13.66,  22.43,
                                              14.86, 16.94, 14.22, 20.98, 13.20, 18.38}},
      {7,
       60,
       44100,
       45.33,
       -39.22,
       -0.00001,
       {45.33, 35.37, 25.30, 26.14, 32.85, 34.41, 30.31, 18.15, 33.26, 38.77, 34.68, 33.49, 36.53, 27.01,
        26.04, 26.12, 16.06, 18.38, 15.51}},
      {7,
       60,
       48000,
       45.33,
       -39.22,
       -0.00000,
       {45.33, 35.37, 25.31, 26.13, 32.85, 34.41, 30.31, 18.14, 33.26, 38.78, 34.69, 33.50, 36.55, 27.03,
        26.06, 26.14, 16.08, 18.42, 15.55}},
  };
  return tones;
}

// Every harmonic under 5 kHz within 40 dB of the strongest stays within 0.5 dB (band-limiting may only
// lower the top of the band a little, and may turn phases), the RMS level within 0.2 dB, the DC within 0.001.
TEST(FoldEdges, LowerKeysKeepTheirHarmonicsLevelAndDc) {
  const std::vector<edge_measure::FoldPatch> patches = edge_measure::foldPatches();
  for (const ReferenceTone& r : referenceTones()) {
    const edge_measure::FoldPatch& p = patches[size_t(r.patch)];
    const ToneLevels t = toneLevels(
        edge_measure::renderEngine(r.rate, p.patch, {{0.0, r.key, 10.0}}, kSeconds), r.rate, keyHz(r.key));
    const std::string where =
        std::string(p.name) + ", key " + std::to_string(r.key) + " at " + std::to_string(int(r.rate));
    for (size_t h = 0; h < r.harmonicDb.size(); ++h) {
      if (r.harmonicDb[h] < r.strongestDb - 40.0) continue;
      EXPECT_NEAR(t.harmonicDb[h], r.harmonicDb[h], 0.5) << where << ", harmonic " << h + 1;
    }
    EXPECT_NEAR(t.rmsDb, r.rmsDb, 0.2) << where;
    EXPECT_NEAR(t.dc, r.dc, 0.001) << where;
  }
}

// The bars of the fold grid: the worst alias at C5 and C6, and at C7.
double aliasBar(int key) {
  return key < 96 ? -50.0 : -40.0;
}

// The worst alias of a patch held at key, against the render at eight times the rate.
edge_measure::Alias heldNoteAlias(const std::vector<Param>& patch, int key, double rate) {
  const std::vector<Note> note = {{0.0, key, 10.0}};
  return edge_measure::worstAlias(edge_measure::renderEngine(rate, patch, note, kSeconds),
                                  edge_measure::renderEngine(8 * rate, patch, note, kSeconds), rate);
}

// Each patch at each key from C5 to C7 and both rates, in parallel (the references are long renders).
void expectUnderTheBars(const std::vector<edge_measure::FoldPatch>& patches) {
  struct Run {
    std::string name;
    int key;
    std::future<edge_measure::Alias> alias;
  };
  std::vector<Run> runs;
  for (const edge_measure::FoldPatch& p : patches) {
    for (const int key : {72, 84, 96}) {
      for (const double rate : {44100.0, 48000.0}) {
        runs.push_back({std::string(p.name) + " at " + std::to_string(int(rate)), key,
                        std::async(std::launch::async, heldNoteAlias, p.patch, key, rate)});
      }
    }
  }
  for (Run& r : runs) {
    const edge_measure::Alias alias = r.alias.get();
    EXPECT_LE(alias.db, aliasBar(r.key)) << r.name << ", key " << r.key << ": " << alias.hz << " Hz";
  }
}

TEST(FoldEdges, FoldGridStaysUnderItsBars) {
  expectUnderTheBars(edge_measure::foldPatches());
}

// LFO 1 sweeping Fold over its whole range and Fold Bias over half of its, on the Lockhart character and on
// the blend towards it: the fold's rows are smoothed per sample, so no steps at the block rate (which the
// reference, with blocks eight times shorter, would not share) and no folding.
TEST(FoldEdges, LfoOnFoldAndBiasAtFullDepthStaysClean) {
  std::vector<edge_measure::FoldPatch> patches;
  for (const double character : {1.0, 0.75}) {
    std::vector<Param> p = edge_measure::foldPatches()[2].patch;
    p.insert(p.end(), {{kParamFoldCharacter, character},
                       {kParamFoldModSource, 0.0},
                       {kParamFoldModStart, 0.0},
                       {kParamFoldModEnd, 1.0},
                       {kParamFoldBiasModSource, 0.0},
                       {kParamFoldBiasModStart, 0.25},
                       {kParamFoldBiasModEnd, 0.75}});
    patches.push_back({character == 1.0 ? "LFO on Lockhart" : "LFO on blend", p});
  }
  expectUnderTheBars(patches);
}

// The energy of the second difference (which a click raises across the band) in frames of 256 samples.
std::vector<double> clickEnergy(const std::vector<float>& x) {
  constexpr size_t kFrame = 256;
  std::vector<double> frames;
  for (size_t start = 2; start + kFrame <= x.size(); start += kFrame) {
    double e = 0.0;
    for (size_t i = start; i < start + kFrame; ++i) {
      const double d = double(x[i]) - 2.0 * x[i - 1] + x[i - 2];
      e += d * d;
    }
    frames.push_back(e);
  }
  return frames;
}

// A mono glide of 300 ms from C4 to C8 and back on the deepest Lockhart fold: the top of the band fills
// and empties smoothly, with no frame more than 6 dB above the louder of its neighbourhoods on either side.
TEST(FoldEdges, GlideToTheTopAndBackMakesNoClick) {
  std::vector<Param> patch = edge_measure::foldPatches()[2].patch;
  patch.insert(patch.end(), {{kParamVoiceMode, 1.0}, {kParamGlide, 300.0}});
  for (const double rate : {44100.0, 48000.0}) {
    const std::vector<float> out =
        edge_measure::renderEngine(rate, patch, {{0.0, 60, 3.0}, {0.5, 108, 1.0}}, 3.0);
    const std::vector<double> e = clickEnergy(out);
    constexpr size_t kSide = 8;
    const auto from = size_t(0.1 * rate / 256);  // after the note's attack
    for (size_t f = from; f + kSide < e.size(); ++f) {
      const double before = *std::max_element(e.begin() + long(f - kSide), e.begin() + long(f));
      const double after = *std::max_element(e.begin() + long(f + 1), e.begin() + long(f + 1 + kSide));
      ASSERT_LE(10.0 * std::log10(e[f] / std::max(before, after)), 6.0) << rate << ", frame " << f;
    }
    // The glide went up: the top octave's energy at its height is far above the start's.
    EXPECT_GT(e[size_t(1.2 * rate / 256)], 10.0 * e[from]);
  }
}

}  // namespace
