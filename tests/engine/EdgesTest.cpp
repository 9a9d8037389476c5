// The output's edges through the engine: a resonant filter near the top of the band does not fold its
// harmonics back, and loud material near Nyquist stays under the ceiling and under -1 dB true peak.
#include <gtest/gtest.h>

#include "engine/ParamTable.h"
#include "engine/TruePeakLimiter.h"
#include "tools/EdgeMeasure.h"

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
