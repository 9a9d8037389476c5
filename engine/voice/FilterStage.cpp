// Block planning of the voice filters: every coefficient of a block is planned per sample before the
// lanes run the signal (FilterLanes.cpp); the coefficients of four lanes are computed together.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "engine/voice/FilterApprox.h"
#include "engine/voice/FilterLanes.h"
#include "engine/voice/RowChecks.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kMinF = 0.0001f;
constexpr float kMaxF = 0.49f;
constexpr float kMaxResonance = 0.95f;
constexpr float kDriveOn = 0.001f;

// The cutoff of each sample as the rows and multipliers give it, four samples at a time.
void unsnappedCutoffs(const FilterBlockInputs& p, float* hz) {
  using ml::simd::Lanes;
  using ml::simd::loadU;
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    const Lanes unsnapped = Lanes(loadU(p.cutoff + i)) * p.keyTrackMul * p.brightness *
                            Lanes(loadU(p.cutoffRoute + i)) * p.analogMul * p.kitMul;
    ml::simd::storeF(hz + i, unsnapped.v);
  }
}

// The snapped cutoff of each sample: the snap glides once per sample after it.
void snappedCutoffs(CutoffSnap& snap, float* hz) {
  float snapped = snap.current;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    hz[i] = snapped;
    snapped += snap.coeff * (snap.target - snapped);
  }
  snap.current = snapped;
}

// The planned cutoff (snapped or not) and the clamped resonance of each sample, written into the lane.
void planCutoffAndResonance(CutoffSnap& snap, const FilterBlockInputs& p, FilterLanePlan& plan, int lane) {
  using ml::simd::Lanes;
  alignas(16) float hz[kFilterBlockSize];
  alignas(16) float resonance[kFilterBlockSize];
  if (p.snapOn) {
    snappedCutoffs(snap, hz);
  } else {
    unsnappedCutoffs(p, hz);
  }
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    // As ml::safeClamp: NaN gives 0.
    const Lanes clamped =
        ml::simd::min(ml::simd::max(Lanes(ml::simd::loadU(p.resonance + i)), 0.f), kMaxResonance);
    ml::simd::storeF(resonance + i, clamped.v);
  }
  for (int i = 0; i < kFilterBlockSize; ++i) {
    plan.hz[i][lane] = hz[i];
    plan.resonance[i][lane] = resonance[i];
  }
}

// The mode crossfade of each sample; the tracker advances. Rows that hold the block's mode already
// stay as they are.
void planModeFade(ModeTracker& t, int modeParam, FilterLanePlan& plan, int lane) {
  plan.laneMode[lane] = t.fading ? -1 : modeParam;
  if (!t.fading && plan.restMode[lane] == modeParam) return;
  plan.restMode[lane] = plan.laneMode[lane];
  int i = 0;
  for (; i < kFilterBlockSize && t.fading; ++i) {
    plan.fading = true;
    const float pos = (t.fadePos < 1.f) ? t.fadePos : 1.f;
    plan.fromMode[i][lane] = t.fromMode;
    plan.toMode[i][lane] = (t.mode >= 0) ? t.mode : modeParam;
    plan.modeMix[i][lane] = 0.5f - 0.5f * std::cos(kPi * pos);
    t.fadePos += 1.f / float(kFilterModeFadeSamples);
    if (t.fadePos >= 1.f) {
      t.fading = false;
      t.fadePos = 0.f;
    }
  }
  // A crossfade only starts between blocks: the rest of the block keeps the mode.
  for (; i < kFilterBlockSize; ++i) {
    plan.fromMode[i][lane] = plan.toMode[i][lane] = modeParam;
    plan.modeMix[i][lane] = 0.f;
  }
}

// What a row of the block holds against a threshold: no value above it, every value, or some.
enum class RowAbove { kNone, kAll, kSome };

RowAbove rowAbove(const float* row, float threshold) {
  using namespace ml::simd;
  I4 all = equalI(splatI(0), splatI(0));
  I4 any = splatI(0);
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    const I4 above = greaterThan(loadU(row + i), splat(threshold));
    all = andMask(all, above);
    any = orMask(any, above);
  }
  return allSet(all) ? RowAbove::kAll : anySet(any) ? RowAbove::kSome : RowAbove::kNone;
}

// Clears a lane's ladder rows: a layer that never runs.
void restLadder(FilterLanePlan& plan, int lane) {
  plan.ladderSteady[lane] = false;
  if (plan.ladderAtRest[lane]) return;
  plan.ladderAtRest[lane] = true;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    plan.ladderRun[i][lane] = plan.ladderSeed[i][lane] = 0;
    plan.ladderG[i][lane] = plan.ladderK[i][lane] = plan.ladderMix[i][lane] = plan.ladderFade[i][lane] = 0.f;
  }
}

// The ladder layer of each sample (where the resonance is above its start) and its fade. A layer at
// full fade that runs all block long keeps its rows from the block before.
void planLadder(float& ladderFade, float fadeStep, const float* resonance, FilterLanePlan& plan, int lane) {
  const RowAbove above = rowAbove(resonance, kLadderResonanceStart);  // as clamped: NaN is 0
  if (above == RowAbove::kNone) {
    plan.ladderSamples[lane] = 0;
    ladderFade = 0.f;
    restLadder(plan, lane);
    return;
  }
  plan.ladderAtRest[lane] = false;
  plan.ladder = true;
  plan.ladderSamples[lane] = 0;
  const bool steady = above == RowAbove::kAll && ladderFade >= 1.f;
  if (steady && plan.ladderSteady[lane]) {
    plan.ladderSamples[lane] = kFilterBlockSize;
    ladderFade = 1.f;
    return;
  }
  plan.ladderSteady[lane] = steady;
  float fade = ladderFade;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    const bool run = plan.resonance[i][lane] > kLadderResonanceStart;  // selfOscAmt above 0
    plan.ladderRun[i][lane] = run ? -1 : 0;
    plan.ladderSeed[i][lane] = (run && fade <= 0.f) ? -1 : 0;
    fade = !run ? 0.f : (fade + fadeStep < 1.f) ? fade + fadeStep : 1.f;
    plan.ladderFade[i][lane] = fade;
    plan.ladderSamples[lane] += run ? 1 : 0;
  }
  ladderFade = fade;
}

// Clears a lane's drive rows: a layer that never runs.
void restDrive(FilterLanePlan& plan, int lane) {
  plan.driveSteady[lane] = false;
  if (plan.driveAtRest[lane]) return;
  plan.driveAtRest[lane] = true;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    plan.driveRun[i][lane] = 0;
    plan.driveK[i][lane] = plan.driveMix[i][lane] = 0.f;
  }
}

// The drive layer of each sample and its fade. A layer at full fade that runs all block long on one
// drive value keeps its rows from the block before when the value is the same.
void planDrive(float& driveFade, const float* drive, float fadeStep, FilterLanePlan& plan, int lane) {
  const RowAbove above = rowAbove(drive, kDriveOn);  // as clamped: NaN is 0
  if (above == RowAbove::kNone) {
    plan.driveSamples[lane] = 0;
    driveFade = 0.f;
    restDrive(plan, lane);
    return;
  }
  plan.driveAtRest[lane] = false;
  const bool steady = above == RowAbove::kAll && driveFade >= 1.f && rowConstant(drive);
  if (steady && plan.driveSteady[lane] && plan.driveSteadyInput[lane] == drive[0]) {
    plan.driveSamples[lane] = kFilterBlockSize;
    driveFade = 1.f;
    return;
  }
  plan.driveSteady[lane] = steady;
  plan.driveSteadyInput[lane] = drive[0];
  plan.driveSamples[lane] = 0;
  float fade = driveFade;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    const float d = ml::safeClamp(drive[i], 0.f, 1.f);
    const bool run = d > kDriveOn;
    plan.driveRun[i][lane] = run ? -1 : 0;
    if (!run) {
      fade = 0.f;
      plan.driveK[i][lane] = plan.driveMix[i][lane] = 0.f;
      continue;
    }
    ++plan.driveSamples[lane];
    fade = (fade + fadeStep < 1.f) ? fade + fadeStep : 1.f;
    plan.driveK[i][lane] = 0.6f * d;
    const float depth = ((d - kDriveOn) * 20.f < 1.f) ? (d - kDriveOn) * 20.f : 1.f;
    plan.driveMix[i][lane] = (fade < depth) ? fade : depth;
  }
  driveFade = fade;
}

// The clean core's layer stage of each sample: its weight rises over the layers' fade time while a layer
// runs and falls back over the same time after, so the stage's phase never switches in or out at once. A
// fresh voice (weight below 0) whose layers run from its first sample takes the stage at once, as its
// drive does. While the weight is below 1 the layers' own weights inside the stage are divided by it, so
// that each layer still comes in at its own fade. A stage at full weight all block long keeps its rows,
// and so does one at rest.
void planLayers(float& layersFade, float fadeStep, FilterLanePlan& plan, int lane) {
  const bool fresh = layersFade < 0.f;
  float fade = std::max(layersFade, 0.f);
  const bool allRun =
      plan.ladderSamples[lane] == kFilterBlockSize || plan.driveSamples[lane] == kFilterBlockSize;
  const bool noneRun = plan.ladderSamples[lane] == 0 && plan.driveSamples[lane] == 0;
  const bool steady = allRun && fade >= 1.f;
  const bool atRest = noneRun && fade <= 0.f;
  if ((steady && plan.layersSteady[lane]) || (atRest && plan.layersAtRest[lane])) {
    plan.layers = plan.layers || steady;
    layersFade = fade;
    return;
  }
  plan.layersSteady[lane] = steady;
  plan.layersAtRest[lane] = atRest;
  bool divided = false;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    const bool run = plan.ladderRun[i][lane] != 0 || plan.driveRun[i][lane] != 0;
    if (run) {
      fade = (fresh && i == 0) ? 1.f : std::min(1.f, fade + fadeStep);
    } else {
      fade = std::max(0.f, fade - fadeStep);
    }
    plan.layersMix[i][lane] = fade;
    plan.layersOn[i][lane] = fade > 0.f ? -1 : 0;
    if (fade > 0.f && fade < 1.f) {
      plan.ladderFade[i][lane] = std::min(1.f, plan.ladderFade[i][lane] / fade);
      plan.driveMix[i][lane] = std::min(1.f, plan.driveMix[i][lane] / fade);
      divided = true;
    }
    plan.layers = plan.layers || fade > 0.f;
  }
  layersFade = fade;
  // Rows divided here are no longer the layers' own: the next block writes them afresh.
  if (divided) plan.ladderSteady[lane] = plan.driveSteady[lane] = false;
}

using Lane = ml::simd::Lanes;

Lane loadLane(const float* row) {
  return Lane(ml::simd::loadF(row));
}

void storeLane(float* row, Lane v) {
  ml::simd::storeF(row, v.v);
}

// A normalised cutoff clamped to the filters' range (NaN to kMinF).
Lane cycles(Lane f) {
  return ml::simd::min(ml::simd::max(f, kMinF), kMaxF);
}

// Smoothed rows are often constant over a block: the coefficients of sample i are computed again only
// when a lane's cutoff or resonance moves (a NaN never compares equal, so it is always recomputed).
bool planRowMoved(const FilterLanePlan& plan, int i) {
  using namespace ml::simd;
  return i == 0 || !allSet(andMask(equal(loadF(plan.hz[i]), loadF(plan.hz[i - 1])),
                                   equal(loadF(plan.resonance[i]), loadF(plan.resonance[i - 1]))));
}

// The moved rows of the block, one bit each, found once for both passes.
using MovedRows = uint64_t;
static_assert(kFilterBlockSize <= 64, "a bit for every row");

MovedRows movedRows(const FilterLanePlan& plan) {
  MovedRows moved = 0;
  for (int i = 0; i < kFilterBlockSize; ++i) moved |= MovedRows{planRowMoved(plan, i)} << i;
  return moved;
}

bool rowMoved(MovedRows moved, int i) {
  return ((moved >> i) & 1u) != 0;
}

bool allLanesEqual(Lane v, float x) {
  return ml::simd::allSet(ml::simd::equal(v.v, ml::simd::splat(x)));
}

// The calibrated cutoff of each moved row (no other row is read). A segment's weight
// never falls as the log rises: where it is 1 at every lane's lowest log of the block it is 1 in every
// row, and its term is summed once, in the rows' own order; where it is 0 at the highest it adds 0.
// Only the segments between are summed per row, so a cutoff moving within a segment or two costs that.
void calibratedCutoffs(const FilterLanePlan& plan, MovedRows moved, FilterLanePlan::Row& calibrated) {
  Lane curve[kCalibCurvePoints];
  for (int k = 0; k < kCalibCurvePoints; ++k) curve[k] = loadLane(plan.calib[k]);
  alignas(16) FilterLanePlan::Row logs;  // rows of plain floats: nothing to clear on every call
  Lane lowest = INFINITY;
  Lane highest = -INFINITY;
  for (MovedRows rows = moved; rows != 0; rows &= rows - 1) {
    const int i = std::countr_zero(rows);
    const Lane l = calibLog(loadLane(plan.hz[i]));
    storeLane(logs[i], l);
    lowest = ml::simd::min(lowest, l);
    highest = ml::simd::max(highest, l);
  }
  int first = 0;
  Lane summedBelow = curve[0];
  for (; first + 1 < kCalibCurvePoints && allLanesEqual(calibWeight(lowest, first), 1.f); ++first)
    summedBelow = summedBelow + curve[first + 1] * calibWeight(lowest, first);
  int end = kCalibCurvePoints - 1;
  while (end > first && allLanesEqual(calibWeight(highest, end - 1), 0.f)) --end;
  for (MovedRows rows = moved; rows != 0; rows &= rows - 1) {
    const int i = std::countr_zero(rows);
    const Lane l = loadLane(logs[i]);
    Lane factor = summedBelow;
    for (int k = first; k < end; ++k) factor = factor + curve[k + 1] * calibWeight(l, k);
    const Lane hz = loadLane(plan.hz[i]);
    storeLane(calibrated[i], hz * calibFactorInRange(hz, factor));
  }
}

// The ladder's rows, in a pass of their own so that the core's coefficients and the ladder's keep their
// values in registers. They are read only when the ladder runs in some lane; where it does not run, they
// are 0.
void planLadderCoefficients(FilterLanePlan& plan, MovedRows moved) {
  const Lane sr = loadLane(plan.sr);
  Lane ladderG, amount;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    if (rowMoved(moved, i)) {
      amount = (loadLane(plan.resonance[i]) - kLadderResonanceStart) / 0.3f;
      // The ladder tunes to the uncalibrated cutoff and runs faster than the rate.
      ladderG = tanApproxToQuarterPi(kPi * cycles(1.00014f * loadLane(plan.hz[i]) / sr) *
                                     (1.f / float(kLadderOversampling)));
    }
    const ml::simd::I4 run = ml::simd::loadI(plan.ladderRun[i]);
    storeLane(plan.ladderG[i], select(ladderG, 0.f, run));
    storeLane(plan.ladderK[i], select(4.6f * (0.3f * amount + 0.7f), 0.f, run));
    storeLane(plan.ladderMix[i], select(loadLane(plan.ladderFade[i]) * amount, 0.f, run));
  }
}

// The core's coefficients of each row; a build of its own for each core, so that the row loop keeps its
// constants in registers.
template <bool kNonlinear>
void planCoreCoefficients(FilterLanePlan& plan, MovedRows moved, const FilterLanePlan::Row& calibrated) {
  const Lane sr = loadLane(plan.sr);
  Lane a1, a2, a3;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    const Lane resonance = loadLane(plan.resonance[i]);
    const Lane k = 1.f - resonance;  // at least 0.05 with the resonance clamp
    if (rowMoved(moved, i)) {
      const Lane f = cycles(loadLane(calibrated[i]) / sr);
      // The nonlinear core runs at four times the rate, where its tangent's argument stays below pi/4, as
      // the ladder's does.
      const Lane g = kNonlinear ? tanApproxToQuarterPi(kPi * (f * 0.25f)) : tanApprox(kPi * f);
      a1 = 1.f / (1.f + g * (g + k));
      a2 = g * a1;
      a3 = g * a2;
    }
    storeLane(plan.k[i], k);
    storeLane(plan.a1[i], a1);
    storeLane(plan.a2[i], a2);
    storeLane(plan.a3[i], a3);
  }
}

}  // namespace

void planFilterLane(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                    FilterLanePlan& plan, int lane) {
  plan.idle[lane] = false;
  plan.sr[lane] = setup.sr;
  float curve[kCalibCurvePoints];
  filterCalibCurve(p.mode, p.calib.active, p.calib.fromMode, p.calib.toMode, p.calib.t, curve);
  for (int k = 0; k < kCalibCurvePoints; ++k) plan.calib[k][lane] = curve[k];
  planCutoffAndResonance(s.snap, p, plan, lane);
  planModeFade(s.modeTracker, p.mode, plan, lane);
  planLadder(s.ladder.fade, setup.layerFadeStep, p.resonance, plan, lane);
  planDrive(s.driveFade, p.drive, setup.layerFadeStep, plan, lane);
  // The nonlinear core runs its layers inside its own steps; the clean one's stage keeps its state.
  if (!setup.nonlinear) planLayers(s.layersFade, setup.layerFadeStep, plan, lane);
}

void planIdleLane(FilterLanePlan& plan, int lane) {
  plan.driveSamples[lane] = plan.ladderSamples[lane] = 0;
  plan.laneMode[lane] = kFilterLowPass;
  if (plan.idle[lane]) return;
  plan.idle[lane] = true;
  plan.sr[lane] = 48000.f;
  for (int k = 0; k < kCalibCurvePoints; ++k) plan.calib[k][lane] = k == 0 ? 1.f : 0.f;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    plan.hz[i][lane] = 1000.f;
    plan.resonance[i][lane] = 0.f;
    plan.fromMode[i][lane] = plan.toMode[i][lane] = kFilterLowPass;
    plan.modeMix[i][lane] = 0.f;
  }
  plan.restMode[lane] = kFilterLowPass;
  restLadder(plan, lane);
  restDrive(plan, lane);
  plan.layersSteady[lane] = false;
  if (!plan.layersAtRest[lane]) {
    plan.layersAtRest[lane] = true;
    for (int i = 0; i < kFilterBlockSize; ++i) {
      plan.layersMix[i][lane] = 0.f;
      plan.layersOn[i][lane] = 0;
    }
  }
}

void planFilterCoefficients(FilterLanePlan& plan, bool nonlinear) {
  const MovedRows moved = movedRows(plan);
  alignas(16) FilterLanePlan::Row calibrated;
  calibratedCutoffs(plan, moved, calibrated);
  if (nonlinear) {
    planCoreCoefficients<true>(plan, moved, calibrated);
  } else {
    planCoreCoefficients<false>(plan, moved, calibrated);
  }
  const int lastMoved = static_cast<int>(std::bit_width(moved)) - 1;  // row 0 always moves
  storeLane(plan.lastCalibratedHz, loadLane(calibrated[lastMoved]));
  if (plan.ladder) planLadderCoefficients(plan, moved);
}

void trackModeChange(ModeTracker& t, int newMode, bool noteStart) {
  if (t.mode < 0 || noteStart) {
    t.mode = newMode;
    t.fading = false;
    t.fadePos = 0.f;
  } else if (newMode != t.mode && !t.fading) {
    t.fromMode = t.mode;
    t.mode = newMode;
    t.fading = true;
    t.fadePos = 0.f;
  }
}

float cutoffSnapUpdate(CutoffSnap& s, bool snapOn, float snappedHz, bool restart, float sr) {
  if (!snapOn) {
    s.active = false;
    return -1.f;
  }
  if (s.active && !restart) {
    if (std::fabs(snappedHz - s.target) > 0.5f) {
      s.target = snappedHz;
      s.coeff = float(1.0 - std::exp(-1.0 / (0.008 * double(sr))));
    }
  } else {
    s.target = s.current = snappedHz;
    s.coeff = 1.f;
    s.active = true;
  }
  return s.target;
}

void FilterState::clear() {
  const CutoffSnap keptSnap = snap;
  *this = FilterState{};
  snap = keptSnap;
  snap.active = false;
}

FilterBlockSetup filterBlockSetup(float saturation, float sr) {
  FilterBlockSetup setup;
  const float sat = ml::safeClamp(saturation, 0.f, 1.f);
  setup.sr = sr;
  setup.nonlinear = sat > 0.0001f;
  setup.drive = nlSvfDrive(sat);
  setup.layerFadeStep = 1.f / (0.02f * sr);
  return setup;
}

float renderFilterBlock(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                        const float* in, float* out) {
  FilterLaneScratch scratch;  // on the stack: this entry point serves tools and tests, not the engine
  FilterSeriesJob job;
  job.first = &s;
  job.setup = setup;
  job.inputs[0] = p;
  job.in = in;
  job.out = out;
  renderFilterJobs(&job, 1, scratch);
  return job.cutoffs.first;
}
