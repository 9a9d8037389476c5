// The lane run of the voice filters: gathers up to four filters' states into lanes, runs the planned
// block in one call-free loop and scatters the states back.
#include "engine/voice/FilterLanes.h"

#include <algorithm>
#include <initializer_list>

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

// A lane register from get(lane) for the first `lanes` lanes, 0 in the idle ones.
template <typename Get>
FilterLane gatherLanes(int lanes, Get get) {
  alignas(16) float v[kFilterLanes] = {};
  for (int l = 0; l < lanes; ++l) v[l] = get(l);
  return loadLanes(v);
}

// put(lane, value) for the first `lanes` lanes of x.
template <typename Put>
void scatterLanes(FilterLane x, int lanes, Put put) {
  alignas(16) float v[kFilterLanes];
  ml::simd::storeF(v, x.v);
  for (int l = 0; l < lanes; ++l) put(l, v[l]);
}

// A lane ring holding each lane's ring history, rotated to index 0.
template <typename RingOf>
void gatherRing(HalfbandRingOf<FilterLane>& r, int lanes, RingOf ringOf) {
  for (int32_t k = 0; k < HalfbandRing::kLength; ++k) {
    r.ring[k] = r.ring[k + HalfbandRing::kLength] =
        gatherLanes(lanes, [&](int l) { return ringOf(l).window()[k]; });
  }
  r.index = 0;
}

// Each lane's history back into its own ring; keep(lane) false leaves that ring as it was.
template <typename RingOf, typename Keep>
void scatterRing(const HalfbandRingOf<FilterLane>& r, int lanes, RingOf ringOf, Keep keep) {
  float windows[kFilterLanes][HalfbandRing::kLength];
  for (int32_t k = 0; k < HalfbandRing::kLength; ++k)
    scatterLanes(r.window()[k], lanes, [&](int l, float v) { windows[l][k] = v; });
  for (int l = 0; l < lanes; ++l) {
    if (keep(l)) rollHalfband(ringOf(l), windows[l]);
  }
}

// How a filter's drive layer runs in a group: not at all; in one lane ring when each lane's drive
// runs for the whole block or not at all; or through each lane's own oversampler, sample by sample,
// when some lane switches within the block.
enum class DriveLanes { kNone, kTogether, kEach };

// The four half-band rings of a nonlinear core by number.
constexpr int kCoreRings = 4;
template <typename Core>
auto& coreRing(Core& s, int r) {
  switch (r) {
    case 0:
      return s.outerUp;
    case 1:
      return s.outerDown;
    case 2:
      return s.innerUp;
    default:
      return s.innerDown;
  }
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
    switch (blockMode) {
      case -1:
        break;
      case kFilterHighPass:
        return x - k * bp - lp;
      case kFilterBandPass:
        return bp;
      case kFilterNotch:
        return x - k * bp;
      default:
        return lp;
    }
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

// One filter of every lane in a group: its lane state and its plan.
struct LaneFilter {
  FilterState* states[kFilterLanes]{};
  int lanes{0};
  const FilterLanePlan* plan{nullptr};
  FilterLane ic1eq, ic2eq;
  NLFilterCoreOf<FilterLane> nl;
  FilterLane ladderStage[4];
  FilterLane ladderY;
  HalfbandRingOf<FilterLane> driveUp, driveDown;
  DriveLanes drive{DriveLanes::kNone};
};

DriveLanes driveLanes(const FilterLanePlan& plan, int lanes) {
  bool any = false;
  for (int l = 0; l < lanes; ++l) {
    if (plan.driveSamples[l] != 0 && plan.driveSamples[l] != kFilterBlockSize) return DriveLanes::kEach;
    any = any || plan.driveSamples[l] != 0;
  }
  return any ? DriveLanes::kTogether : DriveLanes::kNone;
}

template <bool kNonlinear>
void gatherFilter(LaneFilter& f) {
  const auto value = [&](auto field) { return gatherLanes(f.lanes, [&](int l) { return field(*f.states[l]); }); };
  if constexpr (kNonlinear) {
    for (int r = 0; r < kCoreRings; ++r)
      gatherRing(coreRing(f.nl, r), f.lanes, [&](int l) -> const HalfbandRing& { return coreRing(f.states[l]->nl, r); });
    f.nl.ic1eq = value([](const FilterState& s) { return s.nl.ic1eq; });
    f.nl.ic2eq = value([](const FilterState& s) { return s.nl.ic2eq; });
  } else {
    f.ic1eq = value([](const FilterState& s) { return s.ic1eq; });
    f.ic2eq = value([](const FilterState& s) { return s.ic2eq; });
  }
  if (f.plan->ladder) {
    for (int j = 0; j < 4; ++j) f.ladderStage[j] = value([j](const FilterState& s) { return s.ladder.stage[j]; });
    f.ladderY = value([](const FilterState& s) { return s.ladder.y; });
  }
  f.drive = driveLanes(*f.plan, f.lanes);
  if (f.drive == DriveLanes::kTogether) {
    gatherRing(f.driveUp, f.lanes, [&](int l) -> const HalfbandRing& { return f.states[l]->driveOversampler.up; });
    gatherRing(f.driveDown, f.lanes,
               [&](int l) -> const HalfbandRing& { return f.states[l]->driveOversampler.down; });
  }
}

template <bool kNonlinear>
void scatterFilter(const LaneFilter& f) {
  const auto put = [&](FilterLane x, auto field) {
    scatterLanes(x, f.lanes, [&](int l, float v) { field(*f.states[l]) = v; });
  };
  const auto always = [](int) { return true; };
  if constexpr (kNonlinear) {
    for (int r = 0; r < kCoreRings; ++r)
      scatterRing(coreRing(f.nl, r), f.lanes, [&](int l) -> HalfbandRing& { return coreRing(f.states[l]->nl, r); },
                  always);
    put(f.nl.ic1eq, [](FilterState& s) -> float& { return s.nl.ic1eq; });
    put(f.nl.ic2eq, [](FilterState& s) -> float& { return s.nl.ic2eq; });
  } else {
    put(f.ic1eq, [](FilterState& s) -> float& { return s.ic1eq; });
    put(f.ic2eq, [](FilterState& s) -> float& { return s.ic2eq; });
  }
  if (f.plan->ladder) {
    for (int j = 0; j < 4; ++j) put(f.ladderStage[j], [j](FilterState& s) -> float& { return s.ladder.stage[j]; });
    put(f.ladderY, [](FilterState& s) -> float& { return s.ladder.y; });
  }
  if (f.drive == DriveLanes::kTogether) {
    // A lane whose drive did not run keeps its rings.
    const auto ran = [&](int l) { return f.plan->driveSamples[l] == kFilterBlockSize; };
    scatterRing(f.driveUp, f.lanes, [&](int l) -> HalfbandRing& { return f.states[l]->driveOversampler.up; }, ran);
    scatterRing(f.driveDown, f.lanes, [&](int l) -> HalfbandRing& { return f.states[l]->driveOversampler.down; },
                ran);
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

// A render alone in its group: its filter runs on floats from lane 0 of the plan, directly on its
// state (lanes would only add their selects to the recursion).
struct SoloFilter {
  FilterState* s;
  const FilterLanePlan* plan;
};

template <bool kNonlinear>
inline float filterSample(SoloFilter& f, const NlSvfDrive& d, int i, float x) {
  const FilterLanePlan& p = *f.plan;
  FilterState& s = *f.s;
  const SvfCoeffs c{p.k[i][0], p.a1[i][0], p.a2[i][0], p.a3[i][0]};
  const SvfModeBlend blend{p.fromMode[i][0], p.toMode[i][0], p.modeMix[i][0]};
  float y;
  if constexpr (kNonlinear) {
    y = nlSvf4xStep(x, c, d, blend, s.nl);
  } else {
    y = svfStepOf(x, c, blend, s.ic1eq, s.ic2eq);
  }
  if (p.ladderRun[i][0] != 0) {
    if (p.ladderSeed[i][0] != 0) s.ladder.y = y;
    const float l = ladderSample(x, p.ladderG[i][0], p.ladderK[i][0], s.ladder);
    y = y + (l - y) * p.ladderMix[i][0];
  }
  if (p.driveRun[i][0] != 0) {
    const float driven = s.driveOversampler.process(y, DriveShaper{p.driveK[i][0]});
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

// The jobs' input rows as one lane register per sample (idle lanes 0), four samples at a time.
void gatherRows(FilterSeriesJob* const* jobs, int lanes, FilterLane* io) {
  using ml::simd::F4;
  const float zeros[4] = {};
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    F4 r[kFilterLanes];
    for (int l = 0; l < kFilterLanes; ++l) r[l] = ml::simd::loadU(l < lanes ? jobs[l]->in + i : zeros);
    ml::simd::transpose(r[0], r[1], r[2], r[3]);
    for (int j = 0; j < 4; ++j) io[i + j] = FilterLane(r[j]);
  }
}

void scatterRows(const FilterLane* io, FilterSeriesJob* const* jobs, int lanes) {
  using ml::simd::F4;
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    F4 r[kFilterLanes] = {io[i].v, io[i + 1].v, io[i + 2].v, io[i + 3].v};
    ml::simd::transpose(r[0], r[1], r[2], r[3]);
    for (int l = 0; l < lanes; ++l) ml::simd::storeU(jobs[l]->out + i, r[l]);
  }
}

// Plans filter k (0 first, 1 second) of every job in a group into scratch.plans[k].
template <bool kNonlinear>
void planGroup(FilterSeriesJob* const* jobs, int lanes, int k, FilterLaneScratch& scratch) {
  FilterLanePlan& plan = scratch.plans[k];
  plan.fading = plan.ladder = false;
  for (int l = 0; l < kFilterLanes; ++l) {
    if (l < lanes) {
      planFilterLane(k == 0 ? *jobs[l]->first : *jobs[l]->second, jobs[l]->setup, jobs[l]->inputs[k], plan, l);
    } else {
      planIdleLane(plan, l);
    }
  }
  planFilterCoefficients(plan, kNonlinear);
  planBlockChoices(plan, lanes);
}

template <bool kNonlinear>
void runSolo(FilterSeriesJob& job, const FilterLaneScratch& scratch) {
  SoloFilter first{job.first, &scratch.plans[0]};
  SoloFilter second{job.second, &scratch.plans[1]};
  if (job.in != job.out) std::copy_n(job.in, kFilterBlockSize, job.out);
  if (job.second != nullptr) {
    runSeries<kNonlinear>(first, second, job.setup.drive, job.out);
  } else {
    runSingle<kNonlinear>(first, job.setup.drive, job.out);
  }
}

template <bool kNonlinear>
void runLanes(FilterSeriesJob* const* jobs, int lanes, const FilterLaneScratch& scratch) {
  const bool series = jobs[0]->second != nullptr;
  LaneFilter filters[2];
  for (int k = 0; k < (series ? 2 : 1); ++k) {
    for (int l = 0; l < lanes; ++l) filters[k].states[l] = k == 0 ? jobs[l]->first : jobs[l]->second;
    filters[k].lanes = lanes;
    filters[k].plan = &scratch.plans[k];
    gatherFilter<kNonlinear>(filters[k]);
  }
  NlSvfDriveOf<FilterLane> d;
  if constexpr (kNonlinear) {
    const auto drive = [&](auto field) { return gatherLanes(lanes, [&](int l) { return field(jobs[l]->setup.drive); }); };
    d.bpGain = drive([](const NlSvfDrive& v) { return v.bpGain; });
    d.invBpGain = drive([](const NlSvfDrive& v) { return v.invBpGain; });
    d.stateGain = drive([](const NlSvfDrive& v) { return v.stateGain; });
    d.invStateGain = drive([](const NlSvfDrive& v) { return v.invStateGain; });
    d.colour = drive([](const NlSvfDrive& v) { return v.colour; });
  }
  FilterLane io[kFilterBlockSize];
  gatherRows(jobs, lanes, io);
  if (series) {
    runSeries<kNonlinear>(filters[0], filters[1], d, io);
  } else {
    runSingle<kNonlinear>(filters[0], d, io);
  }
  scatterRows(io, jobs, lanes);
  for (int k = 0; k < (series ? 2 : 1); ++k) scatterFilter<kNonlinear>(filters[k]);
}

// One group of up to four jobs that share the core and the series choice.
template <bool kNonlinear>
void runGroup(FilterSeriesJob* const* jobs, int lanes, FilterLaneScratch& scratch) {
  const bool series = jobs[0]->second != nullptr;
  for (int k = 0; k < (series ? 2 : 1); ++k) planGroup<kNonlinear>(jobs, lanes, k, scratch);
  if (lanes == 1) {
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
