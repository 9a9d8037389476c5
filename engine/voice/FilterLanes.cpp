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

// The mode output of one sample in lanes when every lane has the block's mode.
struct BlockModeOutput {
  int mode;
  FilterLane operator()(FilterLane x, FilterLane bp, FilterLane lp, FilterLane k) const {
    return svfModeOutput(mode, x, bp, lp, k);
  }
};

// Whether the drive runs in some lane in use, and at every sample of all of them.
void planDriveChoices(FilterLanePlan& plan, int lanes) {
  plan.drive = false;
  plan.driveEverywhere = true;
  for (int l = 0; l < lanes; ++l) {
    plan.drive = plan.drive || plan.driveSamples[l] != 0;
    plan.driveEverywhere = plan.driveEverywhere && plan.driveSamples[l] == kFilterBlockSize;
  }
}

// The block-wide choices of a planned group: one mode for all lanes in use, and a ladder or a drive that
// runs everywhere (idle lanes follow along; their results are never read).
void planBlockChoices(FilterLanePlan& plan, int lanes) {
  plan.blockMode = plan.laneMode[0];
  plan.ladderEverywhere = true;
  for (int l = 0; l < lanes; ++l) {
    if (plan.laneMode[l] != plan.blockMode) plan.blockMode = -1;
    plan.ladderEverywhere = plan.ladderEverywhere && plan.ladderSamples[l] == kFilterBlockSize;
  }
  planDriveChoices(plan, lanes);
}

// The ladder of sample i, step(ladder) on its lane state (a seed takes the core's output y where
// seedable): lanes where it does not run keep their state.
template <typename Step>
FilterLane ladderOutput(LaneFilter& f, int i, FilterLane y, bool seedable, Step step) {
  const FilterLanePlan& p = *f.plan;
  // A seed is rare: testing for it keeps the ladder's recursion off the core's output otherwise.
  const I4 seed = loadI(p.ladderSeed[i]);
  LaneLadder ladder = f.ladder;
  if (seedable && ml::simd::anySet(seed)) {
    ladder.y = select(y, f.ladder.y, seed);
    ladder.ty = select(tanhApproxOf(y), f.ladder.ty, seed);
  }
  const FilterLane l = step(ladder);
  if (p.ladderEverywhere) {
    f.ladder = ladder;
    return l;
  }
  const I4 run = loadI(p.ladderRun[i]);
  for (int j = 0; j < 4; ++j) f.ladder.stage[j] = select(ladder.stage[j], f.ladder.stage[j], run);
  f.ladder.y = select(ladder.y, f.ladder.y, run);
  f.ladder.ty = select(ladder.ty, f.ladder.ty, run);
  return l;
}

// y with the ladder's output l mixed in where the ladder runs.
FilterLane ladderMixed(const FilterLanePlan& p, int i, FilterLane y, FilterLane l) {
  const FilterLane mixed = y + (l - y) * loadRow(p.ladderMix[i]);
  return p.ladderEverywhere ? mixed : select(mixed, y, loadI(p.ladderRun[i]));
}

LadderCoeffsOf<FilterLane> ladderCoeffs(const FilterLanePlan& p, int i) {
  return {loadRow(p.ladderG[i]), loadRow(p.ladderK[i])};
}

// The ladder and drive layers of sample i at each of its four steps at 4x, on the step's input and core
// output (inside the nonlinear core, or in the clean core's layer stage).
struct LaneCoreLayers {
  LaneFilter& f;
  int i;
  LadderCoeffsOf<FilterLane> ladder;
  ScaledDriveShaperOf<FilterLane> shaper;
  FilterLane driveMix;
  I4 driveRun;
  int step{0};

  LaneCoreLayers(LaneFilter& filter, int sample)
      : f(filter),
        i(sample),
        ladder(ladderCoeffs(*filter.plan, sample)),
        shaper(loadRow(filter.plan->driveK[sample])),
        driveMix(loadRow(filter.plan->driveMix[sample])),
        driveRun(loadI(filter.plan->driveRun[sample])) {}
  FilterLane operator()(FilterLane v, FilterLane y) {
    if (f.plan->ladder) {
      const FilterLane l = ladderOutput(
          f, i, y, step == 0, [&](LaneLadder& s) { return ladderStep(v, ladder, s.stage, s.y, s.ty); });
      y = ladderMixed(*f.plan, i, y, l);
    }
    ++step;
    if (!f.plan->drive) return y;
    const FilterLane driven = y + (shaper(y) - y) * driveMix;
    return f.plan->driveEverywhere ? driven : select(driven, y, driveRun);
  }
};

// The clean core's layer stage of sample i on every lane's input x and core output y. Out of line, so that
// the clean core's own step stays small enough to inline into the sample loop; flattened as below.
[[gnu::flatten, gnu::noinline]] FilterLane laneCleanLayers(LaneFilter& f, int i, FilterLane x, FilterLane y) {
  const FilterLanePlan& p = *f.plan;
  // Lanes whose stage is off feed it silence, so that it stays as they left it.
  const I4 on = loadI(p.layersOn[i]);
  const FilterLane zero(0.f);
  const FilterLane o =
      cleanLayersStep(f.cleanLayers, select(x, zero, on), select(y, zero, on), LaneCoreLayers(f, i));
  return y + (o - y) * loadRow(p.layersMix[i]);
}

// One base-rate sample i of every lane's filter. Flattened, so that the layers of each 4x step are not a
// call of their own that loads its constants and copies the ladder's state in and out at every step.
template <bool kNonlinear>
[[gnu::flatten]] inline FilterLane filterSample(LaneFilter& f, const NlSvfDriveOf<FilterLane>& d, int i,
                                                FilterLane x) {
  const FilterLanePlan& p = *f.plan;
  const SvfCoeffsOf<FilterLane> c{loadRow(p.k[i]), loadRow(p.a1[i]), loadRow(p.a2[i]), loadRow(p.a3[i])};
  if constexpr (kNonlinear) {
    return nlSvf4xStep(x, c, d, LaneModeBlend(p, i), f.nl, LaneCoreLayers(f, i));
  } else {
    // One mode for the whole block spares the clean step the per-lane blend's masks.
    const auto step = [&](const auto& modeOutput) { return svfStepOf(x, c, modeOutput, f.ic1eq, f.ic2eq); };
    const FilterLane y = p.blockMode >= 0 ? step(BlockModeOutput{p.blockMode}) : step(LaneModeBlend(p, i));
    return p.layers ? laneCleanLayers(f, i, x, y) : y;
  }
}

// A render alone in its group: its filter runs on floats from lane 0 of the plan, on its own state (lanes
// would only add their selects to the recursion).
struct SoloFilter {
  FilterState* s;
  const FilterLanePlan* plan;
};

// The layers of a solo filter at each of its 4x steps (as LaneCoreLayers, on floats from lane 0).
struct SoloCoreLayers {
  FilterState& s;
  const FilterLanePlan& p;
  int i;
  LadderCoeffsOf<float> ladder{p.ladderG[i][0], p.ladderK[i][0]};
  ScaledDriveShaperOf<float> shaper{p.driveK[i][0]};
  int step{0};

  float operator()(float v, float y) {
    if (p.ladderRun[i][0] != 0) {
      if (step == 0 && p.ladderSeed[i][0] != 0) seedLadder(s.ladder, y);
      const float l = ladderStep(v, ladder, s.ladder.stage, s.ladder.y, s.ladder.ty);
      y = y + (l - y) * p.ladderMix[i][0];
    }
    ++step;
    if (p.driveRun[i][0] != 0) y = y + (shaper(y) - y) * p.driveMix[i][0];
    return y;
  }
};

// The clean core's layer stage of sample i on its input x and output y: out of line, so that the core's
// own step stays small enough to inline into the sample loop.
[[gnu::noinline]] float soloCleanLayers(SoloFilter& f, int i, float x, float y) {
  const FilterLanePlan& p = *f.plan;
  FilterState& s = *f.s;
  const bool on = p.layersOn[i][0] != 0;
  const float o = cleanLayersStep(s.cleanLayers, on ? x : 0.f, on ? y : 0.f, SoloCoreLayers{s, p, i});
  return y + (o - y) * p.layersMix[i][0];
}

template <bool kNonlinear>
inline float filterSample(SoloFilter& f, const NlSvfDrive& d, int i, float x) {
  const FilterLanePlan& p = *f.plan;
  FilterState& s = *f.s;
  const SvfCoeffs c{p.k[i][0], p.a1[i][0], p.a2[i][0], p.a3[i][0]};
  const SvfModeBlend blend{p.fromMode[i][0], p.toMode[i][0], p.modeMix[i][0]};
  if constexpr (kNonlinear) return nlSvf4xStep(x, c, d, blend, s.nl, SoloCoreLayers{s, p, i});
  const float y = svfStepOf(x, c, blend, s.ic1eq, s.ic2eq);
  return p.layers ? soloCleanLayers(f, i, x, y) : y;
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

// Plans filter k (0 first, 1 second) of every job in a group into group.plans[k].
template <bool kNonlinear>
void planGroup(FilterSeriesJob* const* jobs, int lanes, int k, FilterLaneGroup& group) {
  FilterLanePlan& plan = group.plans[k];
  plan.fading = plan.ladder = plan.layers = false;
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

// A clean filter whose layer stage has come to rest clears it, so that it starts again from silence.
void restCleanLayers(FilterState& s) {
  if (s.layersFade <= 0.f) s.cleanLayers.clear();
}

template <bool kNonlinear>
void runSolo(FilterSeriesJob& job, FilterLaneScratch& scratch) {
  const bool series = job.second != nullptr;
  const FilterLanePlan* plans = scratch.groups[0].plans;
  SoloFilter filters[2] = {{job.first, &plans[0]}, {job.second, &plans[1]}};
  if (job.in != job.out) std::copy_n(job.in, kFilterBlockSize, job.out);
  if (series) {
    runSeries<kNonlinear>(filters[0], filters[1], job.setup.drive, job.out);
  } else {
    runSingle<kNonlinear>(filters[0], job.setup.drive, job.out);
  }
  if (kNonlinear) return;
  for (int k = 0; k < (series ? 2 : 1); ++k) restCleanLayers(*filters[k].s);
}

// A row of the pair: lane 0 of a and of b in lanes 0 and 1; lanes 2 and 3 take a's and b's lane 1, idle in
// both.
void pairRow(const float (&a)[kFilterLanes], const float (&b)[kFilterLanes], float (&out)[kFilterLanes]) {
  ml::simd::storeF(out, ml::simd::interleaveLow(loadF(a), loadF(b)));
}

void pairRow(const int32_t (&a)[kFilterLanes], const int32_t (&b)[kFilterLanes],
             int32_t (&out)[kFilterLanes]) {
  using ml::simd::fromBits;
  ml::simd::storeI(out, ml::simd::bitsOf(ml::simd::interleaveLow(fromBits(loadI(a)), fromBits(loadI(b)))));
}

// The plan of a lone render's two nonlinear filters run as lanes 0 and 1 with filter B one sample
// behind filter A: row i holds A's row i and B's row i - 1 (from i = 1).
void planPair(const FilterLanePlan& a, const FilterLanePlan& b, FilterLanePlan& pair) {
  const auto rows = [&](auto member) {
    for (int i = 1; i < kFilterBlockSize; ++i) pairRow((a.*member)[i], (b.*member)[i - 1], (pair.*member)[i]);
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
  planDriveChoices(pair, 2);
  if (pair.drive) {
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
  const FilterLanePlan* plans = scratch.groups[0].plans;
  planPair(plans[0], plans[1], scratch.pair);
  if (job.in != job.out) std::copy_n(job.in, kFilterBlockSize, job.out);
  float* io = job.out;
  SoloFilter first{job.first, &plans[0]};
  float between = filterSample<true>(first, job.setup.drive, 0, io[0]);
  LaneFilter& f = scratch.groups[0].filters[0];
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
  SoloFilter second{job.second, &plans[1]};
  io[kFilterBlockSize - 1] = filterSample<true>(second, job.setup.drive, kFilterBlockSize - 1, between);
}

// Gathers a group's filters and input rows into lanes before the block...
template <bool kNonlinear>
NlSvfDriveOf<FilterLane> gatherGroup(FilterSeriesJob* const* jobs, int lanes, FilterLaneGroup& group,
                                     FilterLane* io) {
  const bool series = jobs[0]->second != nullptr;
  for (int k = 0; k < (series ? 2 : 1); ++k) {
    LaneFilter& f = group.filters[k];
    for (int l = 0; l < lanes; ++l) f.states[l] = k == 0 ? jobs[l]->first : jobs[l]->second;
    f.lanes = lanes;
    f.plan = &group.plans[k];
    gatherFilter(f, kNonlinear);
  }
  gatherRows(jobs, lanes, io);
  return kNonlinear ? gatherDrive(jobs, lanes) : NlSvfDriveOf<FilterLane>{};
}

// ... and scatters them back after it.
template <bool kNonlinear>
void scatterGroup(const FilterLane* io, FilterSeriesJob* const* jobs, int lanes,
                  const FilterLaneGroup& group) {
  scatterRows(io, jobs, lanes);
  for (int k = 0; k < (jobs[0]->second != nullptr ? 2 : 1); ++k) scatterFilter(group.filters[k], kNonlinear);
}

template <bool kNonlinear>
void runLanes(FilterSeriesJob* const* jobs, int lanes, FilterLaneGroup& group) {
  FilterLane io[kFilterBlockSize];
  const NlSvfDriveOf<FilterLane> d = gatherGroup<kNonlinear>(jobs, lanes, group, io);
  if (jobs[0]->second != nullptr) {
    runSeries<kNonlinear>(group.filters[0], group.filters[1], d, io);
  } else {
    runSingle<kNonlinear>(group.filters[0], d, io);
  }
  scatterGroup<kNonlinear>(io, jobs, lanes, group);
}

// Two groups' nonlinear filters in one loop: their cores run as eight lanes (two registers per
// operation, so the two recursions interleave), their ladder and drive layers per group.
using LanePair = ml::simd::Lanes2;

// A half-band of the core of both groups: each operation runs on both states.
template <typename Design>
struct AllpassPair {
  AllpassHalfbandOf<FilterLane, Design>* first;
  AllpassHalfbandOf<FilterLane, Design>* second;
};

template <typename Design>
HalfbandPairOf<LanePair> allpassInterpolate(AllpassPair<Design>& s, LanePair x) {
  const HalfbandPairOf<FilterLane> a = allpassInterpolate(*s.first, x.a);
  const HalfbandPairOf<FilterLane> b = allpassInterpolate(*s.second, x.b);
  return {{a.first, b.first}, {a.second, b.second}};
}

template <typename Design>
LanePair allpassDecimate(AllpassPair<Design>& s, LanePair first, LanePair second) {
  return {allpassDecimate(*s.first, first.a, second.a), allpassDecimate(*s.second, first.b, second.b)};
}

// The cores of two groups' filters as one core of eight lanes: their half-bands in place, their
// integrators loaded here and stored back by storeIntegrators.
struct CorePair {
  using Lines = decltype(LaneFilter::nl);
  AllpassPair<SteepAllpassDesign> outerUp, outerDown;
  AllpassPair<WideAllpassDesign> innerUp, innerDown;
  LanePair ic1eq, ic2eq;

  CorePair(Lines& a, Lines& b)
      : outerUp{&a.outerUp, &b.outerUp},
        outerDown{&a.outerDown, &b.outerDown},
        innerUp{&a.innerUp, &b.innerUp},
        innerDown{&a.innerDown, &b.innerDown},
        ic1eq{a.ic1eq, b.ic1eq},
        ic2eq{a.ic2eq, b.ic2eq} {}
};

struct LaneModeBlendPair {
  LaneModeBlend first, second;

  LanePair operator()(LanePair x, LanePair bp, LanePair lp, LanePair k) const {
    return {first(x.a, bp.a, lp.a, k.a), second(x.b, bp.b, lp.b, k.b)};
  }
};

struct LanePairCoreLayers {
  LaneCoreLayers first, second;

  LanePair operator()(LanePair v, LanePair y) { return {first(v.a, y.a), second(v.b, y.b)}; }
};

struct LaneFilterPair {
  LaneFilter& first;
  LaneFilter& second;
  CorePair core;

  LaneFilterPair(LaneFilter& a, LaneFilter& b) : first(a), second(b), core(a.nl, b.nl) {}
  void storeIntegrators() {
    first.nl.ic1eq = core.ic1eq.a;
    first.nl.ic2eq = core.ic2eq.a;
    second.nl.ic1eq = core.ic1eq.b;
    second.nl.ic2eq = core.ic2eq.b;
  }
};

// Flattened as the sample of one group.
template <bool kNonlinear>
[[gnu::flatten]] inline LanePair filterSample(LaneFilterPair& f, const NlSvfDriveOf<LanePair>& d, int i,
                                              LanePair x) {
  static_assert(kNonlinear);
  const FilterLanePlan& p = *f.first.plan;
  const FilterLanePlan& q = *f.second.plan;
  const SvfCoeffsOf<LanePair> c{{loadRow(p.k[i]), loadRow(q.k[i])},
                                {loadRow(p.a1[i]), loadRow(q.a1[i])},
                                {loadRow(p.a2[i]), loadRow(q.a2[i])},
                                {loadRow(p.a3[i]), loadRow(q.a3[i])}};
  const LaneModeBlendPair blend{LaneModeBlend(p, i), LaneModeBlend(q, i)};
  return nlSvf4xStep(x, c, d, blend, f.core, LanePairCoreLayers{{f.first, i}, {f.second, i}});
}

NlSvfDriveOf<LanePair> pairDrive(const NlSvfDriveOf<FilterLane>& a, const NlSvfDriveOf<FilterLane>& b) {
  NlSvfDriveOf<LanePair> d;
  d.bpGain = {a.bpGain, b.bpGain};
  d.invBpGain = {a.invBpGain, b.invBpGain};
  d.stateGain = {a.stateGain, b.stateGain};
  d.invStateGain = {a.invStateGain, b.invStateGain};
  d.colour = {a.colour, b.colour};
  return d;
}

// Up to eight nonlinear jobs as two groups (four, then the rest) in one loop.
void runLanePair(FilterSeriesJob* const* jobs, int count, FilterLaneScratch& scratch) {
  constexpr bool kNonlinear = true;
  FilterLaneGroup* groups = scratch.groups;
  const int lanes[2] = {kFilterLanes, count - kFilterLanes};
  FilterLane rows[2][kFilterBlockSize];
  const NlSvfDriveOf<LanePair> d =
      pairDrive(gatherGroup<kNonlinear>(jobs, lanes[0], groups[0], rows[0]),
                gatherGroup<kNonlinear>(jobs + kFilterLanes, lanes[1], groups[1], rows[1]));
  LanePair io[kFilterBlockSize];
  for (int i = 0; i < kFilterBlockSize; ++i) io[i] = {rows[0][i], rows[1][i]};
  const bool series = jobs[0]->second != nullptr;
  LaneFilterPair first(groups[0].filters[0], groups[1].filters[0]);
  if (series) {
    LaneFilterPair second(groups[0].filters[1], groups[1].filters[1]);
    runSeries<kNonlinear>(first, second, d, io);
    second.storeIntegrators();
  } else {
    runSingle<kNonlinear>(first, d, io);
  }
  first.storeIntegrators();
  for (int i = 0; i < kFilterBlockSize; ++i) {
    rows[0][i] = io[i].a;
    rows[1][i] = io[i].b;
  }
  scatterGroup<kNonlinear>(rows[0], jobs, lanes[0], groups[0]);
  scatterGroup<kNonlinear>(rows[1], jobs + kFilterLanes, lanes[1], groups[1]);
}

// Each job's planned cutoffs of a group.
void takeCutoffs(FilterSeriesJob* const* jobs, int lanes, const FilterLaneGroup& group) {
  const bool series = jobs[0]->second != nullptr;
  for (int l = 0; l < lanes; ++l) {
    jobs[l]->cutoffs.first = group.plans[0].lastCalibratedHz[l];
    jobs[l]->cutoffs.second = series ? group.plans[1].lastCalibratedHz[l] : 0.f;
  }
}

// One group of up to four jobs that share the core and the series choice, or two groups of nonlinear
// jobs when there are more than four.
template <bool kNonlinear>
void runGroup(FilterSeriesJob* const* jobs, int count, FilterLaneScratch& scratch) {
  const bool series = jobs[0]->second != nullptr;
  const int groups = count > kFilterLanes ? 2 : 1;
  for (int g = 0; g < groups; ++g) {
    const int lanes = std::min(count - g * kFilterLanes, kFilterLanes);
    for (int k = 0; k < (series ? 2 : 1); ++k)
      planGroup<kNonlinear>(jobs + g * kFilterLanes, lanes, k, scratch.groups[g]);
  }
  if (groups == 2) {
    runLanePair(jobs, count, scratch);
  } else if (count == 1 && kNonlinear && series) {
    runSoloPair(*jobs[0], scratch);
  } else if (count == 1) {
    runSolo<kNonlinear>(*jobs[0], scratch);
  } else {
    runLanes<kNonlinear>(jobs, count, scratch.groups[0]);
  }
  for (int g = 0; g < groups; ++g) {
    const int lanes = std::min(count - g * kFilterLanes, kFilterLanes);
    takeCutoffs(jobs + g * kFilterLanes, lanes, scratch.groups[g]);
  }
}

}  // namespace

void renderFilterJobs(FilterSeriesJob* jobs, int count, FilterLaneScratch& scratch) {
  for (const bool nonlinear : {false, true}) {
    // Nonlinear jobs gather up to two groups' worth, clean ones one.
    const int most = nonlinear ? 2 * kFilterLanes : kFilterLanes;
    for (const bool series : {false, true}) {
      FilterSeriesJob* group[2 * kFilterLanes];
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
        if (lanes == most) flush();
      }
      flush();
    }
  }
}
