// One voice filter (A or B) over a 64-sample block: clean or nonlinear core, mode crossfade,
// cutoff calibration and harmonic snap, ladder self-oscillation layer and drive layer (both at 4x:
// inside the nonlinear core's steps, or in a layer stage behind the clean core).
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/voice/FilterLadder.h"
#include "engine/voice/FilterLayers.h"
#include "engine/voice/FilterNonlinear.h"
#include "foundation/MLDSPVector.h"

inline constexpr int kFilterBlockSize = int(ml::kFloatsPerDSPVector);
// Length of a filter-mode crossfade, in samples.
inline constexpr int kFilterModeFadeSamples = 256;

// Mode tracker of a filter (or of the Shape Mode): the mode in use (negative = none yet), the mode
// being faded out, the crossfade position 0..1 and whether a crossfade runs.
struct ModeTracker {
  int32_t mode{-1};
  int32_t fromMode{0};
  float fadePos{0.f};
  bool fading{false};
};

// Once per block: takes newMode at once when the tracker is empty or a note starts, else starts a
// crossfade from the current mode when newMode differs and none runs. A running crossfade is never
// restarted.
void trackModeChange(ModeTracker& t, int newMode, bool noteStart);

// Harmonic cutoff snap of a filter: the snapped cutoff (Hz) gliding toward its target.
struct CutoffSnap {
  float current{0.f};
  float target{0.f};
  float coeff{1.f};
  bool active{false};
};

// Once per block, before the filter: with snap off the record goes inactive. With snap on,
// snappedHz (the harmonic the engine snapped this block's cutoff to) becomes the target; on the first
// snapping block or a restart the cutoff jumps there, otherwise a move of more than 0.5 Hz starts an
// 8 ms glide. Returns the target for display, or -1 when snap is off.
float cutoffSnapUpdate(CutoffSnap& s, bool snapOn, float snappedHz, bool restart, float sr);

// All per-voice state of one filter. Plain data; copies with the voice.
struct FilterState {
  float ic1eq{0.f};  // clean-core integrators
  float ic2eq{0.f};
  NLFilterOSState nl;
  LadderSelfOsc ladder;
  float driveFade{1.f};
  CleanLayers cleanLayers;  // the clean core's layer stage
  // 0..1 weight of that stage against the core's own output; -1 in a fresh voice, which takes the stage at
  // once when a layer runs from its first sample.
  float layersFade{-1.f};
  ModeTracker modeTracker;
  CutoffSnap snap;

  // Resets the filter with its voice; the snap keeps its values except active.
  void clear();
};

static_assert(std::is_trivially_copyable_v<FilterState>);

// A calibration blend while morphing between two captured filter modes. active must already include
// the check that the blend's mode equals the filter's mode parameter.
struct FilterCalibBlend {
  bool active{false};
  int32_t fromMode{0};
  int32_t toMode{0};
  float t{0.f};
};

// Choices shared by both filters for a block.
struct FilterBlockSetup {
  float sr{48000.f};
  bool nonlinear{false};  // Filter Saturation above 0.0001
  NlSvfDrive drive;
  float layerFadeStep{1.f / 960.f};  // 20 ms fade of the ladder and drive layers
};

// Filter Saturation (any value; clamped to 0..1, NaN as 0) and the sample rate to the block choices.
FilterBlockSetup filterBlockSetup(float saturation, float sr);

// One filter's inputs for a block. The unsnapped cutoff of sample i is
// cutoff[i] x keyTrackMul x brightness x cutoffRoute[i] x analogMul x kitMul.
struct FilterBlockInputs {
  const float* cutoff{nullptr};       // smoothed Cutoff row, Hz
  const float* cutoffRoute{nullptr};  // Cutoff route row, 1 = no modulation
  const float* resonance{nullptr};    // 0..0.95
  const float* drive{nullptr};        // 0..1
  float keyTrackMul{1.f};
  float brightness{1.f};
  float analogMul{1.f};
  float kitMul{1.f};
  int mode{0};  // truncated mode parameter
  FilterCalibBlend calib;
  bool snapOn{false};
};

// Filters one block from in to out (may alias). Returns the calibrated cutoff of sample 63 (Hz).
float renderFilterBlock(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                        const float* in, float* out);

// The calibrated cutoffs of sample 63 (Hz) of two filters in series.
struct FilterPairCutoffs {
  float first{0.f};
  float second{0.f};
};
