#include "engine/MorphPoles.h"

#include <algorithm>

void MorphPoles::setSnapshot(int i, const ParamSnapshot& s) {
  if (!validPole(i)) return;
  staged[i].write([&](ParamSnapshot& pole) {
    pole = s;
    sanitizeSnapshot(pole);
  });
  present[i].store(s.valid, std::memory_order_release);
}

void MorphPoles::clearSnapshot(int i) {
  if (!validPole(i)) return;
  staged[i].write([](ParamSnapshot& pole) { pole.clear(); });
  present[i].store(false, std::memory_order_release);
}

bool MorphPoles::getSnapshotCopy(int i, ParamSnapshot& out) const {
  if (!hasSnapshot(i)) return false;
  out = staged[i].lastWritten();
  return true;
}

bool MorphPoles::hasSnapshot(int i) const {
  return validPole(i) && present[i].load(std::memory_order_acquire);
}

uint64_t MorphPoles::engineSnapSeq(int i) const {
  if (!validPole(i)) return 0;
  const uint64_t stagedSeq = hasSnapshot(i) ? staged[i].lastWritten().captureSeq : 0;
  return std::max(stamp[i].load(std::memory_order_acquire), stagedSeq);
}

bool MorphPoles::snapshotSeqOlder(int i, uint64_t seq) const {
  return hasSnapshot(i) && engineSnapSeq(i) > seq;
}

void MorphPoles::rebaseParamEdit(uint32_t key) {
  if (key >= kNumRebaseKeys || isMorphInputExempt(key)) return;
  engineFold[key].store(true, std::memory_order_release);
  saveFold[key].store(true, std::memory_order_release);
}

void MorphPoles::clearRebasePending() {
  for (uint32_t key = 0; key < kNumRebaseKeys; ++key) {
    engineFold[key].store(false, std::memory_order_release);
    saveFold[key].store(false, std::memory_order_release);
  }
}

void MorphPoles::tickPostLoadRebaseGrace() {
  int32_t left = postLoadGrace.load(std::memory_order_acquire);
  // A grace opened again meanwhile is not counted down by this tick's stale value.
  while (left > 0 && !postLoadGrace.compare_exchange_weak(left, left - 1, std::memory_order_acq_rel,
                                                          std::memory_order_acquire)) {
  }
}

uint32_t MorphPoles::takePublished() {
  uint32_t taken = 0;
  for (int i = 0; i < kNumPoles; ++i) {
    if (!staged[i].take([&](const ParamSnapshot& s) { live[i] = s; })) continue;
    stamp[i].store(live[i].captureSeq, std::memory_order_release);
    taken |= 1u << i;
  }
  return taken;
}
