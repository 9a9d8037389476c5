// Lane state of the voice filters: up to four filters' states gathered into the lanes of one SIMD
// register per value for a block, and scattered back after it.
#pragma once

#include "engine/voice/FilterLanes.h"

// How a filter's drive layer runs in a group: not at all; in one lane ring when each lane's drive
// runs for the whole block or not at all; or through each lane's own oversampler, sample by sample,
// when some lane switches within the block.
enum class DriveLanes { kNone, kTogether, kEach };

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

// Loads each lane's state of f's filters into f (the drive rings only where they run together).
void gatherFilter(LaneFilter& f, bool nonlinear);
// Stores f's lanes back into the states of its filters.
void scatterFilter(const LaneFilter& f, bool nonlinear);
// The jobs' input rows as one lane register per sample (idle lanes 0), and the output rows back.
void gatherRows(FilterSeriesJob* const* jobs, int lanes, FilterLane* io);
void scatterRows(const FilterLane* io, FilterSeriesJob* const* jobs, int lanes);
// The jobs' drive gains of the nonlinear core, one lane each.
NlSvfDriveOf<FilterLane> gatherDrive(FilterSeriesJob* const* jobs, int lanes);
