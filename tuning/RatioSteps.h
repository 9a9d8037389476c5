// The intervals of the tuning in force that the ratio lock and the cutoff locks snap to.
#pragma once

#include <cstdint>

#include "tuning/RatioSelection.h"

class TuningState;

// At most 8 frequency ratios to key 60 of the tuning in force, ascending. A table built from picked
// degrees repeats every `ratioStepPeriod` (above 1); the automatic table of small-integer ratios has
// period 0. Audio thread only; empty until the first rebuild with a tuning active.
struct MtsRatioSteps {
  static constexpr int kMaxSteps = 8;
  double ratioSteps[kMaxSteps]{};
  int32_t ratioStepCount{0};
  double ratioStepPeriod{0.0};
};

// Audio thread. Rebuilds `steps` from the tuning in force: the ratios of the picked degrees to key 60
// when any of them names a key of the tuning, else the automatic table (the small-integer ratios that
// keys 61..71 come close to, with 1, 2, 3 and 4, the simplest eight). No tuning active, or key 60
// without a frequency, leaves it empty. While the main thread is rewriting the selection the table is
// left as it was: that writer's request rebuilds it at the next block.
void recomputeMtsRatioSteps(MtsRatioSteps& steps, const RatioSelection& selection, TuningState& tuning);
