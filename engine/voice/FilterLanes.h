// Voice filters side by side: the filter pairs of up to four voice renders run in the lanes of one
// SIMD register, each lane doing exactly the arithmetic of a filter run on its own.
#pragma once

#include <cstdint>

#include "engine/voice/FilterCalibration.h"
#include "engine/voice/FilterStage.h"
#include "foundation/MLSIMD.h"

using FilterLane = ml::simd::Lanes;
inline constexpr int kFilterLanes = 4;

// Everything of one filter's block that does not depend on the signal, per sample and lane. Lane-major,
// so that one sample's values of all lanes load as one register. Masks are -1 (on) or 0.
struct alignas(16) FilterLanePlan {
  using Row = float[kFilterBlockSize][kFilterLanes];
  using MaskRow = int32_t[kFilterBlockSize][kFilterLanes];
  Row hz, resonance;  // the planned cutoff (uncalibrated) and the clamped resonance
  float calib[kCalibCurvePoints][kFilterLanes];  // each lane's calibration curve
  float sr[kFilterLanes];
  Row k, a1, a2, a3;  // core coefficients
  MaskRow fromMode, toMode;
  Row modeMix;
  MaskRow ladderRun, ladderSeed;
  Row ladderG, ladderK, ladderMix;
  Row ladderFade;  // the layer's fade, which the coefficients scale into ladderMix
  MaskRow driveRun;
  Row driveK, driveMix;
  MaskRow layersOn;  // the clean core's layer stage runs (its weight is above 0)
  Row layersMix;
  float lastCalibratedHz[kFilterLanes];
  int32_t driveSamples[kFilterLanes];   // samples of the block where the lane's drive runs
  int32_t ladderSamples[kFilterLanes];  // samples of the block where the lane's ladder runs
  int32_t laneMode[kFilterLanes];       // the lane's mode for the whole block, -1 while it crossfades
  int32_t blockMode{-1};                // the mode of every lane in use for the whole block, or -1
  bool ladderEverywhere{false};         // the ladder runs at every sample of every lane in use
  bool drive{false};                    // the drive runs in some lane in use
  bool driveEverywhere{false};          // the drive runs at every sample of every lane in use
  bool idle[kFilterLanes]{};            // the lane holds planIdleLane's values
  // Rows that stay valid from block to block while nothing changes: the mode a lane's mode rows hold
  // for the whole block (-1: a crossfade), and ladder or drive rows of a layer that never runs.
  int32_t restMode[kFilterLanes]{-1, -1, -1, -1};
  bool ladderAtRest[kFilterLanes]{};
  bool driveAtRest[kFilterLanes]{};
  bool layersAtRest[kFilterLanes]{};
  // Rows of a layer that runs at full fade over the whole block (the drive's with one input value).
  bool ladderSteady[kFilterLanes]{};
  bool driveSteady[kFilterLanes]{};
  bool layersSteady[kFilterLanes]{};
  float driveSteadyInput[kFilterLanes]{};
  bool fading{false};  // a mode crossfade runs in some lane
  bool ladder{false};  // the ladder layer runs in some lane
  bool layers{false};  // the clean core's layer stage runs in some lane
};

// Plans lane `lane` of a block of filter s (advancing its mode fade, layer fades and snap glide), all
// but the coefficients.
void planFilterLane(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                    FilterLanePlan& plan, int lane);
// An idle lane: a silent filter whose layers never run (written only when the lane was in use).
void planIdleLane(FilterLanePlan& plan, int lane);
// Then the coefficients of every sample and lane at once, from the planned cutoffs and resonances.
void planFilterCoefficients(FilterLanePlan& plan, bool nonlinear);

// One render's filters over a block: first, then second in series when there is one.
struct FilterSeriesJob {
  FilterState* first{nullptr};
  FilterState* second{nullptr};
  FilterBlockSetup setup;
  FilterBlockInputs inputs[2];
  const float* in{nullptr};
  float* out{nullptr};        // may alias in
  FilterPairCutoffs cutoffs;  // written by renderFilterJobs
};

// The ladder's lane state that a step advances.
struct LaneLadder {
  FilterLane stage[4];
  FilterLane y, ty;
};

// One filter of every lane in a group: its lane state and its plan.
struct LaneFilter {
  FilterState* states[kFilterLanes]{};
  int lanes{0};
  const FilterLanePlan* plan{nullptr};
  FilterLane ic1eq, ic2eq;
  NLFilterCoreOf<FilterLane> nl;
  LaneLadder ladder;
  CleanLayersOf<FilterLane> cleanLayers;
};

// One lane group's two filters: their plans and their lane states over a block.
struct FilterLaneGroup {
  FilterLanePlan plans[2];
  LaneFilter filters[2];
};

// Working memory of renderFilterJobs: two lane groups (the second runs beside the first when a block
// has more than four nonlinear jobs of a kind).
struct FilterLaneScratch {
  FilterLaneGroup groups[2];
  FilterLanePlan pair;  // a lone render's two nonlinear filters as lanes 0 and 1, one sample apart
};

// Runs every job, four at a time in lanes (jobs of the clean and the nonlinear core, and single and
// series jobs, in separate groups); eight nonlinear jobs run as two groups in one loop, so that their
// recursions overlap. Each job's output and cutoffs are exactly those of its filters run alone.
void renderFilterJobs(FilterSeriesJob* jobs, int count, FilterLaneScratch& scratch);
