// One lane's bank hand-over, start delay, glide and tie re-anchor.
#include "engine/SeqLane.h"

#include <algorithm>

#include "foundation/MLSafeValue.h"

namespace {

constexpr double kFallbackTempo = 120.0;

}  // namespace

void SeqGlide::advance(int64_t samples) {
  if (!tied) return;
  elapsed += samples;
  if (duration <= 0 || elapsed >= duration) {
    current = to;
  } else {
    current =
        from + static_cast<float>(static_cast<double>(elapsed) / static_cast<double>(duration)) * (to - from);
  }
}

bool SeqLaneDelay::active() const {
  return division.load(std::memory_order_relaxed) > 0.0f && multiplier.load(std::memory_order_relaxed) > 0;
}

double SeqLaneDelay::beats() const {
  if (!active()) return 0.0;
  return static_cast<double>(division.load(std::memory_order_relaxed)) *
         multiplier.load(std::memory_order_relaxed);
}

int64_t SeqLaneDelay::lengthSamples(double tempo, double sampleRate) const {
  const double bpm = tempo > 0.0 ? tempo : kFallbackTempo;
  return ml::saturateToInt64(60.0 / bpm * beats() * sampleRate);
}

void SeqLaneDelay::arm(double tempo, double sampleRate) {
  holdSamples = lengthSamples(tempo, sampleRate);
  holding = holdSamples >= 1;
  armed = true;
}

void SeqLaneDelay::countDown(int64_t samples) {
  if (!holding) return;
  holdSamples -= samples;
  if (holdSamples <= 0) {
    holding = false;
    holdSamples = 0;
  }
}

void SeqLaneDelay::disarm() {
  armed = false;
  holding = false;
  holdSamples = 0;
}

float SeqTieReanchor::apply(float value, bool tiedNow, int stepNow, float phaseNow) {
  if (!valid || step != stepNow || phase > phaseNow + 0.0001f) {
    offset = 0.0f;
    active = false;
    step = stepNow;
    tied = tiedNow;
    phase = phaseNow;
    lastOutput = value;
    valid = true;
    return value;
  }
  if (tiedNow != tied) {
    offset = lastOutput - value;
    anchorPhase = phaseNow;
    active = true;
  }
  float out = value;
  if (active) {
    const float k = std::clamp((1.0f - phaseNow) / std::max(1.0f - anchorPhase, 0.0001f), 0.0f, 1.0f);
    out = value + offset * k;
    if (k <= 0.0f) {
      active = false;
      offset = 0.0f;
    }
  }
  lastOutput = out;
  tied = tiedNow;
  phase = phaseNow;
  step = stepNow;
  return out;
}

bool SeqLane::writeSteps(const float* steps, int n) {
  n = std::clamp(n, 0, kSeqSteps);
  if (steps == nullptr && n > 0) return false;
  std::array<float, kSeqSteps> next{};
  for (int i = 0; i < n; ++i) next[i] = ml::safeClamp(steps[i], 0.0f, 1.0f);
  const int bank = activeBank.load(std::memory_order_relaxed);  // only this thread writes it
  if (n == count.load(std::memory_order_relaxed)) {
    bool same = true;
    for (int i = 0; i < n && same; ++i) same = next[i] == values[bank][i].load(std::memory_order_relaxed);
    if (same) return false;
  }
  const int other = 1 - bank;
  for (int i = 0; i < kSeqSteps; ++i) values[other][i].store(next[i], std::memory_order_relaxed);
  count.store(n, std::memory_order_release);
  activeBank.store(other, std::memory_order_release);
  return true;
}

bool SeqLane::writeTies(const unsigned char* flags, int n) {
  n = std::clamp(n, 0, kSeqSteps);
  if (flags == nullptr && n > 0) return false;
  const int bank = activeTieBank.load(std::memory_order_relaxed);
  std::array<uint8_t, kSeqSteps> next{};
  bool same = true;
  for (int i = 0; i < kSeqSteps; ++i) {
    next[i] = (i < n && flags[i] != 0) ? 1 : 0;
    same = same && next[i] == ties[bank][i].load(std::memory_order_relaxed);
  }
  if (same) return false;
  const int other = 1 - bank;
  for (int i = 0; i < kSeqSteps; ++i) ties[other][i].store(next[i], std::memory_order_relaxed);
  activeTieBank.store(other, std::memory_order_release);
  return true;
}

float SeqLane::valueAt(int bank, int idx) const {
  return values[bank][std::clamp(idx, 0, kSeqSteps - 1)].load(std::memory_order_relaxed);
}

bool SeqLane::tieAt(int idx) const {
  const int bank = activeTieBank.load(std::memory_order_acquire);
  return ties[bank][std::clamp(idx, 0, kSeqSteps - 1)].load(std::memory_order_relaxed) != 0;
}

int SeqLane::wrap(int idx, int count) {
  const int r = idx % count;
  return r < 0 ? r + count : r;
}
