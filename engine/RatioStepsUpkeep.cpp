// The engine's side of the ratio steps: the selection from the editor and the rebuild after a retune.
#include "engine/PluginProcessor.h"

void PluginProcessor::setRatioSelection(const int* degrees, const int* octaves, int n) {
  ratioSelection.set(degrees, octaves, n);
  published.ratioSelectionDirty.store(true, std::memory_order_release);
}

void PluginProcessor::followRetuneWithRatioSteps() {
  const bool ratioLock = ratioLocked();
  if (!ratioLock && !filterLocked(0) && !filterLocked(1)) return;
  const uint32_t version = tuning.getTuningVersion();
  if (version == ratioStepsTuningVersion) return;
  // With no tuning in force any more the steps of the old one must not outlive it: the rebuild then
  // empties the table.
  const bool tuned = tuning.tuningActiveThisBlock();
  if (!tuned && mtsRatioSteps.ratioStepCount == 0) return;
  ratioStepsTuningVersion = version;
  recomputeMtsRatioSteps();
  if (ratioLock && tuned) ratioStepsRebuilt = true;
}
