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

// A band-limited saw at 130.8 Hz through filter A, resonant at cutoffHz (with drive and saturation when
// driven), then filter B at its defaults (low-pass at 20 kHz), which must not mix the tone with an image of
// itself. With a silent saw (level 0) a kick at the start sets the filter ringing on its own.
struct FilterRun {
  float cutoffHz{18000.f};
  float resonance{0.95f};
  bool driven{false};
  float level{0.3f};
};

std::vector<float> runFilters(const FilterRun& run, double rate) {
  ScopedFloatingPointControl fpControl;
  FilterState a, b;
  float cutoff[kFilterBlockSize], route[kFilterBlockSize], resonance[kFilterBlockSize],
      drive[kFilterBlockSize], defaultCutoff[kFilterBlockSize], zero[kFilterBlockSize]{};
  std::fill_n(cutoff, kFilterBlockSize, run.cutoffHz);
  std::fill_n(route, kFilterBlockSize, 1.f);
  std::fill_n(resonance, kFilterBlockSize, run.resonance);
  std::fill_n(drive, kFilterBlockSize, run.driven ? 1.f : 0.f);
  std::fill_n(defaultCutoff, kFilterBlockSize, 20000.f);
  FilterBlockInputs p;
  p.cutoff = cutoff, p.cutoffRoute = route, p.resonance = resonance, p.drive = drive;
  FilterBlockInputs q = p;
  q.cutoff = defaultCutoff, q.resonance = zero, q.drive = zero;
  const FilterBlockSetup setup = filterBlockSetup(run.driven ? 1.f : 0.f, float(rate));
  const auto frames = size_t(rate * (edge_measure::kAnalysisStart + 1.5));
  std::vector<float> y(frames / kFilterBlockSize * kFilterBlockSize);
  float in[kFilterBlockSize];
  for (size_t start = 0; start < y.size(); start += kFilterBlockSize) {
    for (int i = 0; i < kFilterBlockSize; ++i) {
      double v = 0.0;
      for (int h = 1; h * 130.81 < 20000.0; ++h)
        v += std::sin(2.0 * edge_measure::kPi * h * 130.81 * double(start + size_t(i)) / rate) / h;
      in[i] = float(run.level * v) + (start == 0 && i == 0 ? 0.5f : 0.f);
    }
    renderFilterBlock(a, setup, p, in, y.data() + start);
    renderFilterBlock(b, setup, q, y.data() + start, y.data() + start);
  }
  return y;
}

TEST(Edges, ResonantFiltersFoldNoHarmonicsOfASelfOscillation) {
  for (const bool driven : {false, true}) {
    for (const double rate : {44100.0, 48000.0}) {
      const FilterRun run{.driven = driven};
      const edge_measure::Alias alias =
          edge_measure::worstAlias(runFilters(run, rate), runFilters(run, 8 * rate), rate);
      EXPECT_LT(alias.db, -55.0) << (driven ? "driven " : "clean ") << rate << ": " << alias.hz << " Hz";
    }
  }
}

// The frequency and level of the strongest partial of a render.
struct Partial {
  double hz;
  double db;
};

Partial strongestPartial(const std::vector<float>& y, double rate) {
  const std::vector<double> db = edge_measure::spectrumDb(y, rate);
  const auto peak = std::max_element(db.begin(), db.end());
  return {double(peak - db.begin()) * rate / edge_measure::kFftSize, *peak};
}

// Rung on its own, a filter self-oscillates at its cutoff up to the top of the band, with and without
// drive and saturation; the clean one stays about as loud there as low down.
TEST(Edges, SelfOscillationKeepsItsPitchAndLevelToTheTopOfTheBand) {
  for (const bool driven : {false, true}) {
    for (const double rate : {44100.0, 48000.0}) {
      const Partial low = strongestPartial(runFilters({1000.f, 0.95f, driven, 0.f}, rate), rate);
      EXPECT_NEAR(low.hz, 1000.0, 5.0);
      for (const float hz : {15000.f, 20000.f}) {
        const Partial high = strongestPartial(runFilters({hz, 0.95f, driven, 0.f}, rate), rate);
        EXPECT_NEAR(high.hz, hz, 0.005 * hz) << rate << (driven ? ", driven" : "");
        if (!driven) {
          EXPECT_NEAR(high.db, low.db, 1.0) << hz << " Hz at " << rate;
        }
      }
    }
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
