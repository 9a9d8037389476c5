// The lane run of the voice filters: gathers up to four filters' states into lanes, runs the planned
// block in one call-free loop and scatters the states back.
#include "engine/voice/FilterLanes.h"

#include <algorithm>
#include <initializer_list>

#include "engine/voice/FilterLaneState.h"

namespace {

using ml::simd::I4;
using ml::simd::loadF;
using ml::simd::loadI;
using ml::simd::select;
using ml::simd::splatI;

FilterLane loadRow(const float (&row)[kFilterLanes]) {
  return FilterLane(loadF(row));
}

FilterLane loadLanes(const float* v) {
  return FilterLane(loadF(v));
}

// The mode output of one sample in lanes: one mode for every lane when the block has one, else per-lane
// selects of the four mode outputs and their crossfade, exactly as svfBlendOutput computes them.
struct LaneModeBlend {
  I4 toHigh{}, toBand{}, toNotch{}, fromHigh{}, fromBand{}, fromNotch{}, same{};
  FilterLane t;
  int blockMode;
  bool fading;

  LaneModeBlend(const FilterLanePlan& p, int i) : blockMode(p.blockMode), fading(p.fading) {
    if (blockMode >= 0) return;
    const I4 to = loadI(p.toMode[i]);
    toHigh = ml::simd::equalI(to, splatI(kFilterHighPass));
    toBand = ml::simd::equalI(to, splatI(kFilterBandPass));
    toNotch = ml::simd::equalI(to, splatI(kFilterNotch));
    if (!fading) return;
    const I4 from = loadI(p.fromMode[i]);
    fromHigh = ml::simd::equalI(from, splatI(kFilterHighPass));
    fromBand = ml::simd::equalI(from, splatI(kFilterBandPass));
    fromNotch = ml::simd::equalI(from, splatI(kFilterNotch));
    same = ml::simd::equalI(to, from);
    t = loadRow(p.modeMix[i]);
  }

  static FilterLane pick(I4 high, I4 band, I4 notchMask, FilterLane highOut, FilterLane bp, FilterLane notch,
                         FilterLane lp) {
    return select(notch, select(bp, select(highOut, lp, high), band), notchMask);
  }

  FilterLane operator()(FilterLane x, FilterLane bp, FilterLane lp, FilterLane k) const {
    if (blockMode >= 0) return svfModeOutput(blockMode, x, bp, lp, k);
    const FilterLane notch = x - k * bp;
    const FilterLane high = notch - lp;
    const FilterLane to = pick(toHigh, toBand, toNotch, high, bp, notch, lp);
    if (!fading) return to;
    const FilterLane from = pick(fromHigh, fromBand, fromNotch, high, bp, notch, lp);
    return select(to, from + t * (to - from), same);
  }
};

// The block-wide choices of a planned group: one mode for all lanes in use, and a ladder that runs
// everywhere (idle lanes follow along; their results are never read).
void planBlockChoices(FilterLanePlan& plan, int lanes) {
  plan.blockMode = plan.laneMode[0];
  plan.ladderEverywhere = true;
  for (int l = 0; l < lanes; ++l) {
    if (plan.laneMode[l] != plan.blockMode) plan.blockMode = -1;
    plan.ladderEverywhere = plan.ladderEverywhere && plan.ladderSamples[l] == kFilterBlockSize;
  }
}

// The ladder layer of sample i: lanes where it does not run keep their state and their output.
FilterLane ladderLayer(LaneFilter& f, int i, FilterLane x, FilterLane y) {
  const FilterLanePlan& p = *f.plan;
  const I4 run = loadI(p.ladderRun[i]);
  // A seed is rare: testing for it keeps the ladder's recursion off the core's output otherwise.
  const I4 seed = loadI(p.ladderSeed[i]);
  FilterLane ly = ml::simd::anySet(seed) ? select(y, f.ladderY, seed) : f.ladderY;
  if (p.ladderEverywhere) {
    const FilterLane l = ladderStep(x, loadRow(p.ladderG[i]), loadRow(p.ladderK[i]), f.ladderStage, ly);
    f.ladderY = ly;
    return y + (l - y) * loadRow(p.ladderMix[i]);
  }
  FilterLane stage[4] = {f.ladderStage[0], f.ladderStage[1], f.ladderStage[2], f.ladderStage[3]};
  const FilterLane l = ladderStep(x, loadRow(p.ladderG[i]), loadRow(p.ladderK[i]), stage, ly);
  for (int j = 0; j < 4; ++j) f.ladderStage[j] = select(stage[j], f.ladderStage[j], run);
  f.ladderY = select(ly, f.ladderY, run);
  return select(y + (l - y) * loadRow(p.ladderMix[i]), y, run);
}

// The drive layer of sample i.
FilterLane driveLayer(LaneFilter& f, int i, FilterLane y) {
  const FilterLanePlan& p = *f.plan;
  if (f.drive == DriveLanes::kTogether) {
    const DriveShaperOf<FilterLane> shaper{loadRow(p.driveK[i])};
    const FilterLane driven = oversample2x(f.driveUp, f.driveDown, y, shaper);
    return select(y + (driven - y) * loadRow(p.driveMix[i]), y, loadI(p.driveRun[i]));
  }
  alignas(16) float v[kFilterLanes];
  ml::simd::storeF(v, y.v);
  for (int l = 0; l < f.lanes; ++l) {
    if (p.driveRun[i][l] == 0) continue;
    const float driven = f.states[l]->driveOversampler.process(v[l], DriveShaper{p.driveK[i][l]});
    v[l] = v[l] + (driven - v[l]) * p.driveMix[i][l];
  }
  return loadLanes(v);
}

// One base-rate sample i of every lane's filter.
template <bool kNonlinear>
inline FilterLane filterSample(LaneFilter& f, const NlSvfDriveOf<FilterLane>& d, int i, FilterLane x) {
  const FilterLanePlan& p = *f.plan;
  const SvfCoeffsOf<FilterLane> c{loadRow(p.k[i]), loadRow(p.a1[i]), loadRow(p.a2[i]), loadRow(p.a3[i])};
  const LaneModeBlend blend(p, i);
  FilterLane y;
  if constexpr (kNonlinear) {
    y = nlSvf4xStep(x, c, d, blend, f.nl);
  } else {
    y = svfStepOf(x, c, blend, f.ic1eq, f.ic2eq);
  }
  if (f.plan->ladder) y = ladderLayer(f, i, x, y);
  if (f.drive != DriveLanes::kNone) y = driveLayer(f, i, y);
  return y;
}

// A render alone in its group: its filter runs on floats from lane 0 of the plan, on its state with
// the nonlinear core's and the drive layer's histories as lines (lanes would only add their selects
// to the recursion).
struct SoloFilter {
  FilterState* s;
  const FilterLanePlan* plan;
  SoloFilterLines* lines;
};

template <bool kNonlinear>
inline float filterSample(SoloFilter& f, const NlSvfDrive& d, int i, float x) {
  const FilterLanePlan& p = *f.plan;
  FilterState& s = *f.s;
  const SvfCoeffs c{p.k[i][0], p.a1[i][0], p.a2[i][0], p.a3[i][0]};
  const SvfModeBlend blend{p.fromMode[i][0], p.toMode[i][0], p.modeMix[i][0]};
  float y;
  if constexpr (kNonlinear) {
    y = nlSvf4xStep(x, c, d, blend, f.lines->core);
  } else {
    y = svfStepOf(x, c, blend, s.ic1eq, s.ic2eq);
  }
  if (p.ladderRun[i][0] != 0) {
    if (p.ladderSeed[i][0] != 0) s.ladder.y = y;
    const float l = ladderSample(x, p.ladderG[i][0], p.ladderK[i][0], s.ladder);
    y = y + (l - y) * p.ladderMix[i][0];
  }
  if (p.driveRun[i][0] != 0) {
    const float driven = oversample2x(f.lines->driveUp, f.lines->driveDown, y, DriveShaper{p.driveK[i][0]});
    y = y + (driven - y) * p.driveMix[i][0];
  }
  return y;
}

// The second filter runs one sample behind the first, so each pass of the loop holds two independent
// recursions that the processor overlaps; every sample sees exactly the arithmetic of two separate runs.
template <bool kNonlinear, typename Filter, typename Drive, typename T>
void runSeries(Filter& first, Filter& second, const Drive& d, T* io) {
  T between = filterSample<kNonlinear>(first, d, 0, io[0]);
  for (int i = 1; i < kFilterBlockSize; ++i) {
    const T next = filterSample<kNonlinear>(first, d, i, io[i]);
    io[i - 1] = filterSample<kNonlinear>(second, d, i - 1, between);
    between = next;
  }
  io[kFilterBlockSize - 1] = filterSample<kNonlinear>(second, d, kFilterBlockSize - 1, between);
}

template <bool kNonlinear, typename Filter, typename Drive, typename T>
void runSingle(Filter& f, const Drive& d, T* io) {
  for (int i = 0; i < kFilterBlockSize; ++i) io[i] = filterSample<kNonlinear>(f, d, i, io[i]);
}

// Plans filter k (0 first, 1 second) of every job in a group into scratch.plans[k].
template <bool kNonlinear>
void planGroup(FilterSeriesJob* const* jobs, int lanes, int k, FilterLaneScratch& scratch) {
  FilterLanePlan& plan = scratch.plans[k];
  plan.fading = plan.ladder = false;
  for (int l = 0; l < kFilterLanes; ++l) {
    if (l < lanes) {
      planFilterLane(k == 0 ? *jobs[l]->first : *jobs[l]->second, jobs[l]->setup, jobs[l]->inputs[k], plan,
                     l);
    } else {
      planIdleLane(plan, l);
    }
  }
  planFilterCoefficients(plan, kNonlinear);
  planBlockChoices(plan, lanes);
}

// Loads a solo filter's histories into its lines before the block (the drive's only when it runs)...
void loadSoloLines(const SoloFilter& f, bool nonlinear) {
  if (nonlinear) loadCoreLines(f.lines->core, f.s->nl);
  if (f.plan->driveSamples[0] == 0) return;
  startHalfbandLine(f.lines->driveUp, f.s->driveOversampler.up);
  startHalfbandLine(f.lines->driveDown, f.s->driveOversampler.down);
}

// ... and stores them back after it.
void storeSoloLines(const SoloFilter& f, bool nonlinear) {
  if (nonlinear) storeCoreLines(f.lines->core, f.s->nl);
  if (f.plan->driveSamples[0] == 0) return;
  rollHalfband(f.s->driveOversampler.up, f.lines->driveUp.window());
  rollHalfband(f.s->driveOversampler.down, f.lines->driveDown.window());
}

template <bool kNonlinear>
void runSolo(FilterSeriesJob& job, FilterLaneScratch& scratch) {
  const bool series = job.second != nullptr;
  SoloFilter filters[2] = {{job.first, &scratch.plans[0], &scratch.solo[0]},
                           {job.second, &scratch.plans[1], &scratch.solo[1]}};
  for (int k = 0; k < (series ? 2 : 1); ++k) loadSoloLines(filters[k], kNonlinear);
  if (job.in != job.out) std::copy_n(job.in, kFilterBlockSize, job.out);
  if (series) {
    runSeries<kNonlinear>(filters[0], filters[1], job.setup.drive, job.out);
  } else {
    runSingle<kNonlinear>(filters[0], job.setup.drive, job.out);
  }
  for (int k = 0; k < (series ? 2 : 1); ++k) storeSoloLines(filters[k], kNonlinear);
}

// The plan of a lone render's two nonlinear filters run as lanes 0 and 1 with filter B one sample
// behind filter A: row i holds A's row i and B's row i - 1 (from i = 1); the idle lanes repeat A's.
void planPair(const FilterLanePlan& a, const FilterLanePlan& b, FilterLanePlan& pair) {
  const auto rows = [&](auto member) {
    auto& row = pair.*member;
    for (int i = 1; i < kFilterBlockSize; ++i) {
      row[i][0] = row[i][2] = row[i][3] = (a.*member)[i][0];
      row[i][1] = (b.*member)[i - 1][0];
    }
  };
  rows(&FilterLanePlan::k);
  rows(&FilterLanePlan::a1);
  rows(&FilterLanePlan::a2);
  rows(&FilterLanePlan::a3);
  pair.blockMode = a.blockMode == b.blockMode ? a.blockMode : -1;
  pair.fading = a.fading || b.fading;
  if (pair.blockMode < 0) {
    rows(&FilterLanePlan::fromMode);
    rows(&FilterLanePlan::toMode);
    rows(&FilterLanePlan::modeMix);
  }
  pair.ladder = a.ladder || b.ladder;
  pair.ladderEverywhere = a.ladderSamples[0] == kFilterBlockSize && b.ladderSamples[0] == kFilterBlockSize;
  if (pair.ladder) {
    rows(&FilterLanePlan::ladderRun);
    rows(&FilterLanePlan::ladderSeed);
    rows(&FilterLanePlan::ladderG);
    rows(&FilterLanePlan::ladderK);
    rows(&FilterLanePlan::ladderMix);
  }
  pair.driveSamples[0] = a.driveSamples[0];
  pair.driveSamples[1] = b.driveSamples[0];
  pair.driveSamples[2] = pair.driveSamples[3] = 0;
  if (pair.driveSamples[0] != 0 || pair.driveSamples[1] != 0) {
    rows(&FilterLanePlan::driveRun);
    rows(&FilterLanePlan::driveK);
    rows(&FilterLanePlan::driveMix);
  }
}

NlSvfDriveOf<FilterLane> splatDrive(const NlSvfDrive& d) {
  NlSvfDriveOf<FilterLane> lanes;
  lanes.bpGain = d.bpGain;
  lanes.invBpGain = d.invBpGain;
  lanes.stateGain = d.stateGain;
  lanes.invStateGain = d.invStateGain;
  lanes.colour = d.colour;
  return lanes;
}

// A lone render with two nonlinear filters: A's first sample alone, then A's sample i beside B's
// sample i - 1 in one register, then B's last sample alone. Each sample is exactly that of runSeries.
void runSoloPair(FilterSeriesJob& job, FilterLaneScratch& scratch) {
  planPair(scratch.plans[0], scratch.plans[1], scratch.pair);
  if (job.in != job.out) std::copy_n(job.in, kFilterBlockSize, job.out);
  float* io = job.out;
  SoloFilter first{job.first, &scratch.plans[0], &scratch.solo[0]};
  loadSoloLines(first, true);
  float between = filterSample<true>(first, job.setup.drive, 0, io[0]);
  storeSoloLines(first, true);
  LaneFilter& f = scratch.filters[0];
  f.states[0] = job.first;
  f.states[1] = job.second;
  f.lanes = 2;
  f.plan = &scratch.pair;
  gatherFilter(f, true);
  const NlSvfDriveOf<FilterLane> d = splatDrive(job.setup.drive);
  for (int i = 1; i < kFilterBlockSize; ++i) {
    alignas(16) float v[kFilterLanes] = {io[i], between, 0.f, 0.f};
    ml::simd::storeF(v, filterSample<true>(f, d, i, loadLanes(v)).v);
    between = v[0];
    io[i - 1] = v[1];
  }
  scatterFilter(f, true);
  SoloFilter second{job.second, &scratch.plans[1], &scratch.solo[1]};
  loadSoloLines(second, true);
  io[kFilterBlockSize - 1] = filterSample<true>(second, job.setup.drive, kFilterBlockSize - 1, between);
  storeSoloLines(second, true);
}

template <bool kNonlinear>
void runLanes(FilterSeriesJob* const* jobs, int lanes, FilterLaneScratch& scratch) {
  const bool series = jobs[0]->second != nullptr;
  LaneFilter* filters = scratch.filters;
  for (int k = 0; k < (series ? 2 : 1); ++k) {
    for (int l = 0; l < lanes; ++l) filters[k].states[l] = k == 0 ? jobs[l]->first : jobs[l]->second;
    filters[k].lanes = lanes;
    filters[k].plan = &scratch.plans[k];
    gatherFilter(filters[k], kNonlinear);
  }
  const NlSvfDriveOf<FilterLane> d = kNonlinear ? gatherDrive(jobs, lanes) : NlSvfDriveOf<FilterLane>{};
  FilterLane io[kFilterBlockSize];
  gatherRows(jobs, lanes, io);
  if (series) {
    runSeries<kNonlinear>(filters[0], filters[1], d, io);
  } else {
    runSingle<kNonlinear>(filters[0], d, io);
  }
  scatterRows(io, jobs, lanes);
  for (int k = 0; k < (series ? 2 : 1); ++k) scatterFilter(filters[k], kNonlinear);
}

// One group of up to four jobs that share the core and the series choice.
template <bool kNonlinear>
void runGroup(FilterSeriesJob* const* jobs, int lanes, FilterLaneScratch& scratch) {
  const bool series = jobs[0]->second != nullptr;
  for (int k = 0; k < (series ? 2 : 1); ++k) planGroup<kNonlinear>(jobs, lanes, k, scratch);
  if (lanes == 1 && kNonlinear && series) {
    runSoloPair(*jobs[0], scratch);
  } else if (lanes == 1) {
    runSolo<kNonlinear>(*jobs[0], scratch);
  } else {
    runLanes<kNonlinear>(jobs, lanes, scratch);
  }
  for (int l = 0; l < lanes; ++l) {
    jobs[l]->cutoffs.first = scratch.plans[0].lastCalibratedHz[l];
    jobs[l]->cutoffs.second = series ? scratch.plans[1].lastCalibratedHz[l] : 0.f;
  }
}

}  // namespace

void renderFilterJobs(FilterSeriesJob* jobs, int count, FilterLaneScratch& scratch) {
  for (const bool nonlinear : {false, true}) {
    for (const bool series : {false, true}) {
      FilterSeriesJob* group[kFilterLanes];
      int lanes = 0;
      const auto flush = [&] {
        if (lanes == 0) return;
        if (nonlinear) {
          runGroup<true>(group, lanes, scratch);
        } else {
          runGroup<false>(group, lanes, scratch);
        }
        lanes = 0;
      };
      for (int j = 0; j < count; ++j) {
        if (jobs[j].setup.nonlinear != nonlinear || (jobs[j].second != nullptr) != series) continue;
        group[lanes++] = &jobs[j];
        if (lanes == kFilterLanes) flush();
      }
      flush();
    }
  }
}
