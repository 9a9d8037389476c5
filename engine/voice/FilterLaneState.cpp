// Lane state of the voice filters: gathering into lanes and scattering back.
#include "engine/voice/FilterLaneState.h"

namespace {

FilterLane loadLanes(const float* v) {
  return FilterLane(ml::simd::loadF(v));
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

// f(half-band of) for each half-band of a core, where half-band of(core) is that half-band of a core's
// state or of its lanes.
template <typename F>
void forEachCoreHalfband(F f) {
  f([](auto& core) -> auto& { return core.outerUp; });
  f([](auto& core) -> auto& { return core.outerDown; });
  f([](auto& core) -> auto& { return core.innerUp; });
  f([](auto& core) -> auto& { return core.innerDown; });
}

// f(half-band of) for each half-band of the clean core's layer stage, as forEachCoreHalfband.
template <typename F>
void forEachLayerHalfband(F f) {
  f([](auto& stage) -> auto& { return stage.inputUp; });
  f([](auto& stage) -> auto& { return stage.coreUp; });
  f([](auto& stage) -> auto& { return stage.down; });
  f([](auto& stage) -> auto& { return stage.inputUp2x; });
  f([](auto& stage) -> auto& { return stage.coreUp2x; });
  f([](auto& stage) -> auto& { return stage.down2x; });
}

}  // namespace

void gatherFilter(LaneFilter& f, bool nonlinear) {
  const auto value = [&](auto field) {
    return gatherLanes(f.lanes, [&](int l) { return field(*f.states[l]); });
  };
  if (nonlinear) {
    forEachCoreHalfband([&](auto halfbandOf) {
      gatherAllpassLanes(
          halfbandOf(f.nl), f.lanes, [&](int l) -> auto& { return halfbandOf(f.states[l]->nl); });
    });
    f.nl.ic1eq = value([](const FilterState& s) { return s.nl.ic1eq; });
    f.nl.ic2eq = value([](const FilterState& s) { return s.nl.ic2eq; });
  } else {
    f.ic1eq = value([](const FilterState& s) { return s.ic1eq; });
    f.ic2eq = value([](const FilterState& s) { return s.ic2eq; });
  }
  if (f.plan->ladder) {
    for (int j = 0; j < 4; ++j)
      f.ladder.stage[j] = value([j](const FilterState& s) { return s.ladder.stage[j]; });
    f.ladder.y = value([](const FilterState& s) { return s.ladder.y; });
    f.ladder.ty = value([](const FilterState& s) { return s.ladder.ty; });
  }
  if (!nonlinear && f.plan->layers) {
    forEachLayerHalfband([&](auto halfbandOf) {
      gatherAllpassLanes(
          halfbandOf(f.cleanLayers),
          f.lanes, [&](int l) -> auto& { return halfbandOf(f.states[l]->cleanLayers); });
    });
  }
}

void scatterFilter(const LaneFilter& f, bool nonlinear) {
  const auto put = [&](FilterLane x, auto field) {
    scatterLanes(x, f.lanes, [&](int l, float v) { field(*f.states[l]) = v; });
  };
  const auto always = [](int) { return true; };
  if (nonlinear) {
    forEachCoreHalfband([&](auto halfbandOf) {
      scatterAllpassLanes(
          halfbandOf(f.nl), f.lanes, [&](int l) -> auto& { return halfbandOf(f.states[l]->nl); }, always);
    });
    put(f.nl.ic1eq, [](FilterState& s) -> float& { return s.nl.ic1eq; });
    put(f.nl.ic2eq, [](FilterState& s) -> float& { return s.nl.ic2eq; });
  } else {
    put(f.ic1eq, [](FilterState& s) -> float& { return s.ic1eq; });
    put(f.ic2eq, [](FilterState& s) -> float& { return s.ic2eq; });
  }
  if (f.plan->ladder) {
    for (int j = 0; j < 4; ++j)
      put(f.ladder.stage[j], [j](FilterState& s) -> float& { return s.ladder.stage[j]; });
    put(f.ladder.y, [](FilterState& s) -> float& { return s.ladder.y; });
    put(f.ladder.ty, [](FilterState& s) -> float& { return s.ladder.ty; });
  }
  if (!nonlinear && f.plan->layers) {
    // A stage that has come to rest starts again from silence.
    const auto running = [&](int l) { return f.states[l]->layersFade > 0.f; };
    forEachLayerHalfband([&](auto halfbandOf) {
      scatterAllpassLanes(
          halfbandOf(f.cleanLayers),
          f.lanes, [&](int l) -> auto& { return halfbandOf(f.states[l]->cleanLayers); }, running);
    });
    for (int l = 0; l < f.lanes; ++l) {
      if (!running(l)) f.states[l]->cleanLayers.clear();
    }
  }
}

void gatherRows(FilterSeriesJob* const* jobs, int lanes, FilterLane* io) {
  using ml::simd::F4;
  const float zeros[4] = {};
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    F4 r[kFilterLanes];
    for (int l = 0; l < kFilterLanes; ++l) r[l] = ml::simd::loadU(l < lanes ? jobs[l]->in + i : zeros);
    ml::simd::transpose4(r[0], r[1], r[2], r[3]);
    for (int j = 0; j < 4; ++j) io[i + j] = FilterLane(r[j]);
  }
}

void scatterRows(const FilterLane* io, FilterSeriesJob* const* jobs, int lanes) {
  using ml::simd::F4;
  for (int i = 0; i < kFilterBlockSize; i += 4) {
    F4 r[kFilterLanes] = {io[i].v, io[i + 1].v, io[i + 2].v, io[i + 3].v};
    ml::simd::transpose4(r[0], r[1], r[2], r[3]);
    for (int l = 0; l < lanes; ++l) ml::simd::storeU(jobs[l]->out + i, r[l]);
  }
}

NlSvfDriveOf<FilterLane> gatherDrive(FilterSeriesJob* const* jobs, int lanes) {
  const auto drive = [&](auto field) {
    return gatherLanes(lanes, [&](int l) { return field(jobs[l]->setup.drive); });
  };
  NlSvfDriveOf<FilterLane> d;
  d.bpGain = drive([](const NlSvfDrive& v) { return v.bpGain; });
  d.invBpGain = drive([](const NlSvfDrive& v) { return v.invBpGain; });
  d.stateGain = drive([](const NlSvfDrive& v) { return v.stateGain; });
  d.invStateGain = drive([](const NlSvfDrive& v) { return v.invStateGain; });
  d.colour = drive([](const NlSvfDrive& v) { return v.colour; });
  return d;
}
