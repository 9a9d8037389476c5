#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "KernelMeasure.h"
#include "engine/voice/FilterLanes.h"

namespace {

constexpr int kBlock = kFilterBlockSize;
constexpr float kSr = 48000.f;

using FilterStage = kernel_test::FlushedHalfbandTest;

// Constant rows for one filter, changed by the tests between blocks.
struct Rows {
  float cutoff[kBlock];
  float route[kBlock];
  float resonance[kBlock];
  float drive[kBlock];

  Rows(float hz, float res, float drv) { set(hz, res, drv); }
  void set(float hz, float res, float drv) {
    for (int i = 0; i < kBlock; ++i) cutoff[i] = hz, route[i] = 1.f, resonance[i] = res, drive[i] = drv;
  }
  FilterBlockInputs inputs(int mode) const {
    FilterBlockInputs p;
    p.cutoff = cutoff;
    p.cutoffRoute = route;
    p.resonance = resonance;
    p.drive = drive;
    p.mode = mode;
    return p;
  }
};

// Renders blocks of the input function through the filter into a vector.
template <typename Input>
std::vector<float> render(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                          int blocks, Input input) {
  std::vector<float> y(size_t(blocks) * kBlock);
  float in[kBlock];
  for (int b = 0; b < blocks; ++b) {
    for (int i = 0; i < kBlock; ++i) in[i] = input(b * kBlock + i);
    renderFilterBlock(s, setup, p, in, y.data() + size_t(b) * kBlock);
  }
  return y;
}

auto impulse = [](int n) { return n == 0 ? 1.f : 0.f; };

TEST_F(FilterStage, SelfOscillatesAtTheSetCutoffAtHighestResonance) {
  for (float saturation : {0.f, 0.5f}) {
    for (float hz : {250.f, 500.f, 1000.f, 2000.f, 5000.f}) {
      FilterState s;
      const Rows rows(hz, 0.95f, 0.f);
      const std::vector<float> y =
          render(s, filterBlockSetup(saturation, kSr), rows.inputs(kFilterLowPass), 750, impulse);
      const size_t n = y.size();
      const double pitch = kernel_test::zeroCrossingFrequency(y, n / 2, kSr);
      EXPECT_NEAR(pitch / hz, 1.0, 0.01) << hz << " Hz, saturation " << saturation;
      const double early = kernel_test::rms(y, n / 2, 3 * n / 4);
      const double late = kernel_test::rms(y, 3 * n / 4, n);
      EXPECT_GT(late, 0.05) << hz;
      EXPECT_NEAR(late / early, 1.0, 0.05) << hz;
      for (float v : y) ASSERT_TRUE(std::isfinite(v));
    }
  }
}

TEST_F(FilterStage, RingsOutBelowTheSelfOscillationEdge) {
  FilterState s;
  const Rows rows(1000.f, 0.8f, 0.f);
  const std::vector<float> y =
      render(s, filterBlockSetup(0.f, kSr), rows.inputs(kFilterLowPass), 750, impulse);
  EXPECT_GT(kernel_test::rms(y, 0, 960), 1e-3);
  EXPECT_LT(kernel_test::rms(y, y.size() - 4800, y.size()), 1e-6);
}

TEST_F(FilterStage, ZeroInGivesExactlyZeroOutWithEveryLayer) {
  for (float saturation : {0.f, 1.f}) {
    for (float resonance : {0.5f, 0.95f}) {
      for (float drive : {0.f, 1.f}) {
        FilterState s;
        const Rows rows(800.f, resonance, drive);
        const std::vector<float> y = render(s, filterBlockSetup(saturation, kSr), rows.inputs(kFilterLowPass),
                                            40, [](int) { return 0.f; });
        for (float v : y) ASSERT_EQ(v, 0.f) << saturation << " " << resonance << " " << drive;
      }
    }
  }
}

TEST_F(FilterStage, LadderLayerAddsNoOffset) {
  // A sine through the filter with the ladder layer on: its feedback curve is zero at rest, so the
  // output carries no offset.
  FilterState s;
  Rows rows(2000.f, 0.75f, 0.f);
  const FilterBlockSetup setup = filterBlockSetup(0.f, kSr);
  auto sine = [](int n) { return 0.3f * std::sin(0.05f * float(n)); };
  const std::vector<float> on = render(s, setup, rows.inputs(kFilterLowPass), 300, sine);
  double mean = 0.0;
  for (size_t i = on.size() / 2; i < on.size(); ++i) mean += on[i];
  EXPECT_LT(std::fabs(mean / double(on.size() / 2)), 1e-3);
}

TEST_F(FilterStage, ModeCrossfadeLasts256Samples) {
  const Rows rows(1500.f, 0.3f, 0.f);
  const FilterBlockSetup setup = filterBlockSetup(0.f, kSr);
  auto noise = [](int n) { return std::sin(0.37f * float(n)) + 0.5f * std::sin(0.011f * float(n)); };
  // Band-pass to notch: both modes take the same (unit) calibration, so all three filters below
  // advance their integrators identically and only the output weights differ.
  FilterState fading, target;
  trackModeChange(fading.modeTracker, kFilterBandPass, true);
  trackModeChange(target.modeTracker, kFilterNotch, true);
  trackModeChange(fading.modeTracker, kFilterNotch, false);
  ASSERT_TRUE(fading.modeTracker.fading);
  FilterState bandPass = target;
  const std::vector<float> a = render(fading, setup, rows.inputs(kFilterNotch), 6, noise);
  const std::vector<float> b = render(target, setup, rows.inputs(kFilterNotch), 6, noise);
  const std::vector<float> bp = render(bandPass, setup, rows.inputs(kFilterBandPass), 6, noise);
  EXPECT_EQ(a[0], bp[0]);
  EXPECT_NE(a[200], b[200]);
  EXPECT_NEAR(a[128], 0.5f * (bp[128] + b[128]), 1e-5f);
  for (size_t i = 256; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << i;
  EXPECT_NE(a[255], b[255]);
  EXPECT_FALSE(fading.modeTracker.fading);
  // A change while a crossfade runs does not restart it.
  trackModeChange(fading.modeTracker, kFilterBandPass, false);
  const float pos = fading.modeTracker.fadePos;
  trackModeChange(fading.modeTracker, kFilterNotch, false);
  EXPECT_EQ(fading.modeTracker.mode, kFilterBandPass);
  EXPECT_EQ(fading.modeTracker.fadePos, pos);
}

TEST_F(FilterStage, DriveLayerFadesInOver20Milliseconds) {
  // DC through a wide-open low-pass: the drive's wet weight is (out - dry) / (shaper(dry) - dry).
  FilterState s;
  Rows rows(12000.f, 0.f, 0.f);
  const FilterBlockSetup setup = filterBlockSetup(0.f, kSr);
  auto dc = [](int) { return 0.5f; };
  const std::vector<float> dry = render(s, setup, rows.inputs(kFilterLowPass), 4, dc);
  EXPECT_EQ(s.driveFade, 0.f);
  const float settled = dry.back();
  rows.set(12000.f, 0.f, 1.f);
  const std::vector<float> wet = render(s, setup, rows.inputs(kFilterLowPass), 20, dc);
  const float shaped = DriveShaper{0.6f}(settled);
  auto weight = [&](size_t n) { return (wet[n] - settled) / (shaped - settled); };
  // The wet path lags the dry one by 6.5 samples; after the rings fill the weight is the fade.
  EXPECT_NEAR(weight(479), 0.5f, 0.01f);
  EXPECT_NEAR(weight(959), 1.f, 0.002f);
  EXPECT_EQ(FilterState{}.driveFade, 1.f);  // a freshly cleared voice starts with the drive fully in
}

// A light drive that ran in the saturated build keeps its own weight once the clean build's layer stage
// has faded in around it, block after block in one working memory as the engine runs them.
TEST_F(FilterStage, LightDriveKeepsItsWeightAcrossTheBuilds) {
  FilterState s;
  FilterLaneScratch scratch;
  Rows rows(12000.f, 0.f, 0.f);
  float io[kBlock];
  const auto run = [&](float saturation, int blocks) {
    for (int b = 0; b < blocks; ++b) {
      std::fill_n(io, kBlock, 0.5f);
      FilterSeriesJob job;
      job.first = &s;
      job.setup = filterBlockSetup(saturation, kSr);
      job.inputs[0] = rows.inputs(kFilterLowPass);
      job.in = job.out = io;
      renderFilterJobs(&job, 1, scratch);
    }
    return io[kBlock - 1];
  };
  const float settled = run(0.f, 4);
  rows.set(12000.f, 0.f, 0.02f);
  run(1.f, 20);
  const float wet = run(0.f, 40);
  const float weight = (wet - settled) / (DriveShaper{0.6f * 0.02f}(settled)-settled);
  EXPECT_NEAR(weight, (0.02f - 0.001f) * 20.f, 0.01f);
}

TEST_F(FilterStage, CutoffSnapJumpsThenGlidesOver8Milliseconds) {
  CutoffSnap snap;
  EXPECT_EQ(cutoffSnapUpdate(snap, false, 440.f, false, kSr), -1.f);
  EXPECT_FALSE(snap.active);
  EXPECT_EQ(cutoffSnapUpdate(snap, true, 440.f, false, kSr), 440.f);
  cutoffSnapUpdate(snap, true, 440.3f, false, kSr);
  EXPECT_EQ(snap.target, 440.f);
  cutoffSnapUpdate(snap, true, 880.f, false, kSr);
  EXPECT_EQ(snap.target, 880.f);
  EXPECT_NEAR(snap.coeff, 1.0 - std::exp(-1.0 / (0.008 * 48000.0)), 1e-7);

  // In the block the filter glides once per sample after each sample.
  FilterState s;
  s.snap = snap;
  const Rows rows(5000.f, 0.f, 0.f);
  FilterBlockInputs p = rows.inputs(kFilterBandPass);
  p.snapOn = true;
  float in[kBlock] = {}, out[kBlock];
  const float calibrated = renderFilterBlock(s, filterBlockSetup(0.f, kSr), p, in, out);
  float expected = 440.f;
  for (int i = 0; i < kBlock - 1; ++i) expected += snap.coeff * (880.f - expected);
  EXPECT_FLOAT_EQ(calibrated, expected);
  EXPECT_GT(s.snap.current, expected);

  s.clear();
  EXPECT_FALSE(s.snap.active);
}

TEST_F(FilterStage, NonFiniteRowsNeverReachTheOutput) {
  FilterState s;
  Rows rows(1000.f, 0.95f, 0.5f);
  rows.cutoff[3] = std::nanf("");
  rows.cutoff[9] = INFINITY;
  rows.resonance[5] = std::nanf("");
  rows.drive[7] = std::nanf("");
  for (float saturation : {0.f, 1.f}) {
    const std::vector<float> y = render(s, filterBlockSetup(saturation, kSr), rows.inputs(kFilterLowPass), 20,
                                        [](int n) { return std::sin(0.1f * float(n)); });
    for (float v : y) ASSERT_TRUE(std::isfinite(v));
  }
}

// Resonance rows out of range or not finite filter exactly as their clamped values (NaN as 0), in both
// builds and with the ladder that the top of the range brings in.
TEST_F(FilterStage, ResonanceRowsFilterAsClamped) {
  Rows wild(1000.f, 0.f, 0.f), clamped(1000.f, 0.f, 0.f);
  const float wildValues[] = {std::nanf(""), -1.f, 5.f, INFINITY, -INFINITY};
  const float clampedValues[] = {0.f, 0.f, 0.95f, 0.95f, 0.f};
  for (int i = 0; i < kBlock; ++i) {
    wild.resonance[i] = wildValues[i % 5];
    clamped.resonance[i] = clampedValues[i % 5];
  }
  for (float saturation : {0.f, 1.f}) {
    const FilterBlockSetup setup = filterBlockSetup(saturation, kSr);
    const auto input = [](int n) { return std::sin(0.1f * float(n)); };
    FilterState a, b;
    EXPECT_EQ(render(a, setup, wild.inputs(kFilterLowPass), 4, input),
              render(b, setup, clamped.inputs(kFilterLowPass), 4, input));
  }
}

// A block's calibrated cutoff is its mode's curve at the last sample, wherever the block's other cutoffs
// lie: sweeps up and down across the curve's points and past its ends, and within one segment.
TEST_F(FilterStage, BlockCutoffIsTheCurvesAtTheLastSampleWhateverTheSweep) {
  const float sweeps[][2] = {
      {50.f, 15000.f}, {15000.f, 50.f}, {900.f, 1100.f}, {25000.f, 150.f}, {150.f, 25000.f}};
  float in[kBlock]{};
  for (int mode : {kFilterLowPass, kFilterHighPass}) {
    for (const auto& sweep : sweeps) {
      Rows rows(sweep[0], 0.5f, 0.f);
      for (int i = 0; i < kBlock; ++i)
        rows.cutoff[i] = sweep[0] * std::pow(sweep[1] / sweep[0], float(i) / float(kBlock - 1));
      rows.cutoff[kBlock - 1] = sweep[1];
      for (float saturation : {0.f, 1.f}) {
        FilterState s;
        EXPECT_EQ(renderFilterBlock(s, filterBlockSetup(saturation, kSr), rows.inputs(mode), in, in),
                  applyFilterCalibration(sweep[1], mode, false, mode, mode, 0.f));
      }
    }
  }
}

}  // namespace

// Fifteen renders of filter pairs in series (clean: four lane groups, the last partly idle; nonlinear:
// two pairs of groups run together, the second partly idle), with moving cutoffs, a mode crossfade, in
// some lanes a ladder and a drive that switch on within a block and off again (the clean core's layer stage
// fading in, out and coming to rest), and lane 0 taking turns between two steady drives: each matches its
// two filters run alone, sample for sample.
TEST_F(FilterStage, LaneJobsMatchSingleFiltersExactly) {
  constexpr int kJobs = 15;
  for (float saturation : {0.f, 1.f}) {
    const FilterBlockSetup setup = filterBlockSetup(saturation, kSr);
    FilterLaneScratch scratch;
    Rows a(900.f, 0.95f, 1.f), b(3000.f, 0.8f, 0.4f), c(3000.f, 0.8f, 0.7f), late(3000.f, 0.8f, 0.f);
    FilterState pairA[kJobs], pairB[kJobs], singleA[kJobs], singleB[kJobs];
    float pair[kJobs][kBlock], single[kJobs][kBlock];
    for (int block = 0; block < 40; ++block) {
      for (int i = 0; i < kBlock; ++i) {
        a.cutoff[i] = 900.f + 25.f * float(i + block);  // coefficients move every sample
        const bool over = (block == 22 && i >= 40) || block > 22;
        late.drive[i] = (block == 10 && i < 30) || block < 10 || over ? 0.f : 0.5f;
        // The ladder starts late and stops with the drive.
        late.resonance[i] = (block == 5 && i < 20) || block < 5 || over ? 0.5f : 0.8f;
      }
      FilterSeriesJob jobs[kJobs];
      for (int j = 0; j < kJobs; ++j) {
        for (int i = 0; i < kBlock; ++i) {
          pair[j][i] = single[j][i] =
              0.7f * std::sin(0.05f * float(j + 1) * float(block * kBlock + i)) + (block == 0 && i == 0);
        }
        const int modeB = block < 20 + j ? kFilterLowPass : kFilterBandPass;  // a mode crossfade on the way
        trackModeChange(pairB[j].modeTracker, modeB, false);
        trackModeChange(singleB[j].modeTracker, modeB, false);
        const Rows& second = j % 8 == 3 ? late : j % 8 == 4 ? c : b;
        jobs[j] = {&pairA[j], &pairB[j], setup, {a.inputs(kFilterLowPass), second.inputs(modeB)},
                   pair[j],   pair[j],   {}};
        jobs[j].inputs[0].kitMul = 1.f + 0.1f * float(j);
      }
      renderFilterJobs(jobs, kJobs, scratch);
      for (int j = 0; j < kJobs; ++j) {
        const float cutA = renderFilterBlock(singleA[j], setup, jobs[j].inputs[0], single[j], single[j]);
        const float cutB = renderFilterBlock(singleB[j], setup, jobs[j].inputs[1], single[j], single[j]);
        EXPECT_EQ(jobs[j].cutoffs.first, cutA);
        EXPECT_EQ(jobs[j].cutoffs.second, cutB);
        for (int i = 0; i < kBlock; ++i)
          ASSERT_EQ(pair[j][i], single[j][i]) << "job " << j << " block " << block << " sample " << i;
      }
    }
  }
}
