// The sequencer lanes' editing calls and getters (main thread; the getters from any thread).
#include <algorithm>
#include <atomic>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Lanes 0 and 1 as themselves, any other index as lane 2.
int mappedLane(int lane) {
  return (lane == 0 || lane == 1) ? lane : 2;
}

bool anyLane(int lane) {
  return lane >= 0 && lane < kSeqLanes;
}

bool tiedLane(int lane) {
  return lane >= 0 && lane < kSeqTiedLanes;
}

float clampRate(float hz) {
  return ml::safeClamp(hz, kSeqMinFreeRate, kSeqMaxFreeRate);
}

}  // namespace

void PluginProcessor::setSeqSteps(int lane, const float* steps, int n) {
  const int l = mappedLane(lane);
  if (seq.lanes[l].writeSteps(steps, n) && tiedLane(l))
    seq.lanes[l].editBroke.store(true, std::memory_order_release);
}

void PluginProcessor::setSeqTies(int lane, const unsigned char* ties, int n) {
  if (!tiedLane(lane)) return;
  if (seq.lanes[lane].writeTies(ties, n)) seq.lanes[lane].editBroke.store(true, std::memory_order_release);
}

void PluginProcessor::setSeqEnabled(int lane, bool on) {
  seq.lanes[mappedLane(lane)].enabled.store(on, kRelaxed);
}

void PluginProcessor::setSeqTriggerKey(int lane, int key) {
  seq.lanes[mappedLane(lane)].triggerKey.store(key, kRelaxed);
}

void PluginProcessor::setSeqRunMode(int lane, int mode) {
  if (anyLane(lane)) seq.lanes[lane].runMode.store(std::clamp(mode, 0, kSeqLastRunMode), kRelaxed);
}

void PluginProcessor::setSeqSyncDiv(int lane, int div) {
  if (anyLane(lane)) seq.lanes[lane].syncDiv.store(std::clamp(div, 0, kSeqLastSyncDiv), kRelaxed);
}

void PluginProcessor::setSeqFreeRate(int lane, float hz) {
  if (anyLane(lane)) seq.lanes[lane].freeRate.store(clampRate(hz), kRelaxed);
}

// Any finite division is kept (at or below 0 means no delay); a non-finite one would poison the hold
// length and the song position, so it counts as none.
void PluginProcessor::setSeqDelay(int lane, float division, int multiplier) {
  if (!anyLane(lane)) return;
  seq.lanes[lane].delay.division.store(ml::finiteOr(division, 0.0f), kRelaxed);
  seq.lanes[lane].delay.multiplier.store(multiplier, kRelaxed);
}

void PluginProcessor::setSeqTarget(int lane, int target) {
  if (lane == 1) seq.lane1Target.store(std::clamp(target, 0, kSeqLastTarget), kRelaxed);
}

void PluginProcessor::setSeqRateCommitted(int lane, float hz) {
  if (tiedLane(lane)) seq.lanes[lane].committedRate.store(clampRate(hz), kRelaxed);
}

void PluginProcessor::resetSeqRateCommitted() {
  for (int l = 0; l < kSeqTiedLanes; ++l) seq.lanes[l].committedRate.store(-1.0f, kRelaxed);
}

void PluginProcessor::setSeqLaneEditBroke(int lane, bool broke) {
  if (tiedLane(lane)) seq.lanes[lane].editBroke.store(broke, std::memory_order_release);
}

void PluginProcessor::stageSeqLatchRestore(bool lane0, bool lane1) {
  seq.latchedEditBroke[0].store(lane0, kRelaxed);
  seq.latchedEditBroke[1].store(lane1, kRelaxed);
  seq.latchRestorePending.store(true, std::memory_order_release);
}

bool PluginProcessor::getSeqEnabled(int lane) const {
  return seq.lanes[mappedLane(lane)].enabled.load(kRelaxed);
}

int PluginProcessor::getSeqTriggerKey(int lane) const {
  return seq.lanes[mappedLane(lane)].triggerKey.load(kRelaxed);
}

int PluginProcessor::getSeqRunMode(int lane) const {
  return seq.lanes[mappedLane(lane)].runMode.load(kRelaxed);
}

int PluginProcessor::getSeqSyncDiv(int lane) const {
  return seq.lanes[mappedLane(lane)].syncDiv.load(kRelaxed);
}

float PluginProcessor::getSeqFreeRate(int lane) const {
  return seq.lanes[mappedLane(lane)].freeRate.load(kRelaxed);
}

int PluginProcessor::getSeqStep(int lane) const {
  return anyLane(lane) ? seq.lanes[lane].step.load(kRelaxed) : 0;
}

int PluginProcessor::getSeqStepCount(int lane) const {
  return anyLane(lane) ? seq.lanes[lane].countNow() : 0;
}

int PluginProcessor::getSeqDelayMul(int lane) const {
  return anyLane(lane) ? seq.lanes[lane].delay.multiplier.load(kRelaxed) : 1;
}

float PluginProcessor::getSeqDelayDiv(int lane) const {
  return anyLane(lane) ? seq.lanes[lane].delay.division.load(kRelaxed) : 0.0f;
}

float PluginProcessor::getSeqRateCommitted(int lane) const {
  return tiedLane(lane) ? seq.lanes[lane].committedRate.load(kRelaxed) : -1.0f;
}

bool PluginProcessor::seqLaneEditBroke(int lane) const {
  return tiedLane(lane) && seq.lanes[lane].editBroke.load(std::memory_order_acquire);
}

int PluginProcessor::getSeqStepsCopy(int lane, float* out, int max) const {
  if (!tiedLane(lane) || out == nullptr) return 0;
  const SeqLane& l = seq.lanes[lane];
  const int n = std::clamp(std::min(l.countNow(), max), 0, kSeqSteps);
  const int bank = l.bankNow();
  for (int i = 0; i < n; ++i) out[i] = l.valueAt(bank, i);
  return n;
}

int PluginProcessor::getSeqTiesCopy(int lane, unsigned char* out, int max) const {
  if (!tiedLane(lane) || out == nullptr) return 0;
  const int n = std::clamp(max, 0, kSeqSteps);
  for (int i = 0; i < n; ++i) out[i] = seq.lanes[lane].tieAt(i) ? 1 : 0;
  return n;
}
