// The sequencer lanes' editing calls and getters (main thread; the getters from any thread), and the
// tie re-anchoring of lanes 0 and 1 (audio thread).
#include <algorithm>
#include <atomic>

#include "engine/SeqLanes.h"
#include "engine/voice/SeqSyncDivisions.h"
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

void SeqLanes::setSteps(int lane, const float* steps, int n) {
  const int l = mappedLane(lane);
  if (lanes[l].writeSteps(steps, n) && tiedLane(l)) lanes[l].editBroke.store(true, std::memory_order_release);
}

void SeqLanes::setTies(int lane, const unsigned char* ties, int n) {
  if (!tiedLane(lane)) return;
  if (lanes[lane].writeTies(ties, n)) lanes[lane].editBroke.store(true, std::memory_order_release);
}

void SeqLanes::setEnabled(int lane, bool on) {
  lanes[mappedLane(lane)].enabled.store(on, kRelaxed);
}

void SeqLanes::setTriggerKey(int lane, int key) {
  lanes[mappedLane(lane)].triggerKey.store(key, kRelaxed);
}

void SeqLanes::setRunMode(int lane, int mode) {
  if (anyLane(lane)) lanes[lane].runMode.store(std::clamp(mode, 0, kSeqLastRunMode), kRelaxed);
}

void SeqLanes::setSyncDiv(int lane, int div) {
  if (anyLane(lane)) lanes[lane].syncDiv.store(std::clamp(div, 0, kSeqLastSyncDiv), kRelaxed);
}

void SeqLanes::setFreeRate(int lane, float hz) {
  if (anyLane(lane)) lanes[lane].freeRate.store(clampRate(hz), kRelaxed);
}

// Any finite division is kept (at or below 0 means no delay); a non-finite one would poison the hold
// length and the song position, so it counts as none.
void SeqLanes::setDelay(int lane, float division, int multiplier) {
  if (!anyLane(lane)) return;
  lanes[lane].delay.division.store(ml::finiteOr(division, 0.0f), kRelaxed);
  lanes[lane].delay.multiplier.store(multiplier, kRelaxed);
}

void SeqLanes::setTarget(int lane, int target) {
  if (lane == 1) lane1Target.store(std::clamp(target, 0, kSeqLastTarget), kRelaxed);
}

void SeqLanes::setRateCommitted(int lane, float hz) {
  if (tiedLane(lane)) lanes[lane].committedRate.store(clampRate(hz), kRelaxed);
}

void SeqLanes::resetRateCommitted() {
  for (int l = 0; l < kSeqTiedLanes; ++l) lanes[l].committedRate.store(-1.0f, kRelaxed);
}

void SeqLanes::setEditBroke(int lane, bool broke) {
  if (tiedLane(lane)) lanes[lane].editBroke.store(broke, std::memory_order_release);
}

void SeqLanes::stageLatchRestore(bool lane0, bool lane1) {
  latchedEditBroke[0].store(lane0, kRelaxed);
  latchedEditBroke[1].store(lane1, kRelaxed);
  latchRestorePending.store(true, std::memory_order_release);
}

bool SeqLanes::enabled(int lane) const {
  return lanes[mappedLane(lane)].enabled.load(kRelaxed);
}

int SeqLanes::triggerKey(int lane) const {
  return lanes[mappedLane(lane)].triggerKey.load(kRelaxed);
}

int SeqLanes::runMode(int lane) const {
  return lanes[mappedLane(lane)].runMode.load(kRelaxed);
}

int SeqLanes::syncDiv(int lane) const {
  return lanes[mappedLane(lane)].syncDiv.load(kRelaxed);
}

float SeqLanes::freeRate(int lane) const {
  return lanes[mappedLane(lane)].freeRate.load(kRelaxed);
}

int SeqLanes::step(int lane) const {
  return anyLane(lane) ? lanes[lane].step.load(kRelaxed) : 0;
}

int SeqLanes::stepCount(int lane) const {
  return anyLane(lane) ? lanes[lane].countNow() : 0;
}

int SeqLanes::delayMultiplier(int lane) const {
  return anyLane(lane) ? lanes[lane].delay.multiplier.load(kRelaxed) : 1;
}

float SeqLanes::delayDivision(int lane) const {
  return anyLane(lane) ? lanes[lane].delay.division.load(kRelaxed) : 0.0f;
}

float SeqLanes::rateCommitted(int lane) const {
  return tiedLane(lane) ? lanes[lane].committedRate.load(kRelaxed) : -1.0f;
}

bool SeqLanes::editBroke(int lane) const {
  return tiedLane(lane) && lanes[lane].editBroke.load(std::memory_order_acquire);
}

int SeqLanes::stepsCopy(int lane, float* out, int max) const {
  if (!tiedLane(lane) || out == nullptr) return 0;
  const SeqLane& l = lanes[lane];
  const int n = std::clamp(std::min(l.countNow(), max), 0, kSeqSteps);
  const int bank = l.bankNow();
  for (int i = 0; i < n; ++i) out[i] = l.valueAt(bank, i);
  return n;
}

int SeqLanes::tiesCopy(int lane, unsigned char* out, int max) const {
  if (!tiedLane(lane) || out == nullptr) return 0;
  const int n = std::clamp(max, 0, kSeqSteps);
  for (int i = 0; i < n; ++i) out[i] = lanes[lane].tieAt(i) ? 1 : 0;
  return n;
}

float SeqLanes::tieReanchor(int lane, float value, bool tied, int step, float phase) {
  if (!tiedLane(lane)) return value;
  return lanes[lane].reanchor.apply(value, tied, step, phase);
}
