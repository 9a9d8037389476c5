// Lane state of the voice filters: up to four filters' states gathered into the lanes of one SIMD
// register per value for a block, and scattered back after it.
#pragma once

#include "engine/voice/FilterLanes.h"

// Loads each lane's state of f's filters into f (the drive rings only where they run together).
void gatherFilter(LaneFilter& f, bool nonlinear);
// Stores f's lanes back into the states of its filters.
void scatterFilter(const LaneFilter& f, bool nonlinear);
// The jobs' input rows as one lane register per sample (idle lanes 0), and the output rows back.
void gatherRows(FilterSeriesJob* const* jobs, int lanes, FilterLane* io);
void scatterRows(const FilterLane* io, FilterSeriesJob* const* jobs, int lanes);
// The jobs' drive gains of the nonlinear core, one lane each.
NlSvfDriveOf<FilterLane> gatherDrive(FilterSeriesJob* const* jobs, int lanes);
