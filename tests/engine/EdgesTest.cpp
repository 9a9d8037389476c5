// The output's edges through the engine: a resonant filter near the top of the band does not fold its
// harmonics back, and loud material near Nyquist stays under the ceiling and under -1 dB true peak.
#include <gtest/gtest.h>

#include "bench/EdgeMeasure.h"
#include "engine/ParamTable.h"
#include "engine/TruePeakLimiter.h"
#include "engine/voice/FilterLanes.h"

namespace {

using edge_measure::Param;

TEST(Edges, SelfOscillatingFilterNearTheTopOfTheBandFoldsNoLoudHarmonics) {
  const std::vector<Param> patch = {{kParamReverbMix, 0.0},
                                    {kParamNoiseLevel, 0.0},
                                    {kParamFilterACutoff, 20000.0},
                                    {kParamFilterAResonance, 0.95}};
  constexpr double kRate = 48000.0;
  const double seconds = edge_measure::kAnalysisStart + edge_measure::kFftSize / kRate + 0.01;
  const std::vector<edge_measure::Note> c3 = {{0.0, 48, 10.0}};
  const edge_measure::Alias alias =
      edge_measure::worstAlias(edge_measure::renderEngine(kRate, patch, c3, seconds),
                               edge_measure::renderEngine(8 * kRate, patch, c3, seconds), kRate);
  EXPECT_LT(alias.db, -35.0) << alias.hz << " Hz";
}

// A band-limited saw at 130.8 Hz through a driven, saturated filter self-oscillating at 18 kHz, then a
// second saturated filter at its defaults (low-pass at 20 kHz), which must not mix the tone with an
// image of itself.
std::vector<float> driveFilter(double rate) {
  ScopedFloatingPointControl fpControl;
  Oversampler2x::initHalfband();
  FilterState s, second;
  float cutoff[kFilterBlockSize], route[kFilterBlockSize], resonance[kFilterBlockSize],
      drive[kFilterBlockSize];
  std::fill_n(cutoff, kFilterBlockSize, 18000.f);
  std::fill_n(route, kFilterBlockSize, 1.f);
  std::fill_n(resonance, kFilterBlockSize, 0.95f);
  std::fill_n(drive, kFilterBlockSize, 1.f);
  FilterBlockInputs p;
  p.cutoff = cutoff, p.cutoffRoute = route, p.resonance = resonance, p.drive = drive;
  float defaultCutoff[kFilterBlockSize], zero[kFilterBlockSize]{};
  std::fill_n(defaultCutoff, kFilterBlockSize, 20000.f);
  FilterBlockInputs q = p;
  q.cutoff = defaultCutoff, q.resonance = zero, q.drive = zero;
  const FilterBlockSetup setup = filterBlockSetup(1.f, float(rate));
  const auto frames = size_t(rate * (edge_measure::kAnalysisStart + 1.5));
  std::vector<float> y(frames / kFilterBlockSize * kFilterBlockSize);
  float in[kFilterBlockSize];
  for (size_t b = 0; b < y.size(); b += kFilterBlockSize) {
    for (int i = 0; i < kFilterBlockSize; ++i) {
      double v = 0.0;
      for (int h = 1; h * 130.81 < 20000.0; ++h)
        v += std::sin(2.0 * edge_measure::kPi * h * 130.81 * double(b + size_t(i)) / rate) / h;
      in[i] = float(0.3 * v);
    }
    renderFilterBlock(s, setup, p, in, y.data() + b);
    renderFilterBlock(second, setup, q, y.data() + b, y.data() + b);
  }
  return y;
}

TEST(Edges, DrivenSaturatedFiltersFoldNoHarmonicsOfASelfOscillation) {
  for (const double rate : {44100.0, 48000.0}) {
    const edge_measure::Alias alias =
        edge_measure::worstAlias(driveFilter(rate), driveFilter(8 * rate), rate);
    EXPECT_LT(alias.db, -55.0) << rate << ": " << alias.hz << " Hz";
  }
}

TEST(Edges, LoudHighChordStaysUnderTheCeilingAndMinusOneDbTruePeak) {
  const std::vector<Param> patch = {
      {kParamOutputGain, 2.0}, {kParamFold, 8.0}, {kParamFilterACutoff, 20000.0}};
  std::vector<edge_measure::Note> chord;
  for (int key : {72, 76, 79, 84, 88, 91, 93, 96}) chord.push_back({0.0, key, 1.0});
  for (double rate : {44100.0, 48000.0}) {
    const std::vector<float> out = edge_measure::renderEngine(rate, patch, chord, 0.6);
    float peak = 0.f;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, TruePeakLimiter::kCeiling);
    EXPECT_LE(edge_measure::decibels(edge_measure::truePeak(out)), -1.0) << rate;
  }
}

}  // namespace
