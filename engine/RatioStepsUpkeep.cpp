// The engine's side of the ratio steps: the selection from the editor and the rebuild after a retune.
#include "engine/PluginProcessor.h"

void PluginProcessor::setRatioSelection(const int* degrees, const int* octaves, int n) {
  ratioSelection.set(degrees, octaves, n);
  ratioSelectionDirty.store(true, std::memory_order_release);
}

void PluginProcessor::followRetuneWithRatioSteps() {
  const bool ratioLock = ratioLocked();
  if (!ratioLock && !filterLocked(0) && !filterLocked(1)) return;
  const uint32_t version = tuning.getTuningVersion();
  if (version == ratioStepsTuningVersion || !tuning.tuningActiveThisBlock()) return;
  ratioStepsTuningVersion = version;
  recomputeMtsRatioSteps();
  if (ratioLock) ratioStepsRebuilt = true;
}
