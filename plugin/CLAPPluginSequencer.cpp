// The plug-in's side of the sequencer lanes: note-ons advance lanes 0 and 1, and the lanes' steps,
// morphed values and run modes are published for the editor.
#include <atomic>

#include "plugin/CLAPPlugin.h"

namespace {

constexpr int kNoteAdvancedLanes = kSeqTiedLanes;
constexpr int kPublishedLanes = kSeqLanes;

// Whether a note-on of key advances a lane in its run mode with its trigger key (-1 = none): in "Note"
// mode only the trigger key does; in "Trig" mode any key does when no trigger key is set, else the
// trigger key only.
bool noteAdvancesLane(int runMode, int triggerKey, int key) {
  if (runMode == kSeqRunNote) return triggerKey >= 0 && key == triggerKey;
  return triggerKey < 0 || key == triggerKey;
}

}  // namespace

void CLAPPlugin::triggerSequencer(int key) {
  for (int lane = 0; lane < kNoteAdvancedLanes; ++lane) {
    const int mode = engine.getSeqRunMode(lane);
    if (mode == kSeqRunFree || mode == kSeqRunSync) continue;
    if (!engine.getSeqEnabled(lane) || engine.getSeqStepCount(lane) <= 0) continue;
    if (!noteAdvancesLane(mode, engine.getSeqTriggerKey(lane), key)) continue;
    if (engine.shouldAdvanceSeq(lane)) engine.advanceSeqStep(lane);
  }
}

void CLAPPlugin::publishSequencer() {
  constexpr auto relaxed = std::memory_order_relaxed;
  for (int lane = 0; lane < kPublishedLanes; ++lane)
    guiPoll.seqStep[lane].store(engine.getSeqStep(lane), relaxed);
  for (int lane = 0; lane < kNoteAdvancedLanes; ++lane) {
    float values[PluginProcessor::kSeqSteps];
    int count = 0;
    const bool active = engine.getSeqMorphValues(lane, values, PluginProcessor::kSeqSteps, count);
    for (int i = 0; i < count; ++i) guiPoll.seqValues[lane][i].store(values[i], relaxed);
    guiPoll.seqCount[lane].store(count, relaxed);
    guiPoll.seqActive[lane].store(active, std::memory_order_release);
  }
  for (int lane = 0; lane < kPublishedLanes; ++lane)
    guiPoll.seqRunMode[lane].store(engine.getSeqRunMode(lane), relaxed);
}
