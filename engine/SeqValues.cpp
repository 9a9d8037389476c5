// The lanes' values over the live morph poles, the lanes as the lane targets read them, and the free
// rates of lanes 0 and 1 (audio thread).
#include <algorithm>
#include <atomic>
#include <cmath>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

bool tiedLane(int lane) {
  return lane >= 0 && lane < kSeqTiedLanes;
}

// A pole's step index for step (wrapped into its count), or -1 when the pole holds no steps. A count
// from a file larger than a lane is limited to the lane.
int poleIndex(const SeqPoleLane& pole, int step) {
  const int count = static_cast<int>(std::min<uint32_t>(pole.count, kSeqSteps));
  if (count < 1 || pole.steps == nullptr) return -1;
  return SeqLane::wrap(step, count);
}

}  // namespace

// A live morph pole's captured lane; empty while the pole holds no capture.
SeqPoleLane PluginProcessor::seqPoleLane(int pole, int lane) const {
  if (pole < 0 || pole > 1 || !tiedLane(lane)) return {};
  const ParamSnapshot& s = morph.live[pole];
  if (!s.valid) return {};
  return {s.seqSteps[lane].data(), s.seqTies[lane].data(), s.seqStepCount[lane], s.seq1Target,
          s.seqRate[lane]};
}

float PluginProcessor::seqStepValueOf(int pole, int lane, int step) const {
  const SeqPoleLane p = seqPoleLane(pole, lane);
  const int idx = poleIndex(p, step);
  return idx < 0 ? 0.0f : p.steps[idx];
}

bool PluginProcessor::seqStepTieOf(int pole, int lane, int step) const {
  const SeqPoleLane p = seqPoleLane(pole, lane);
  const int idx = poleIndex(p, step);
  return idx >= 0 && p.ties != nullptr && p.ties[idx] != 0;
}

float PluginProcessor::seqValMorph(int lane, int step, float frac, bool glide) const {
  const auto at = [&](int s) {
    const float a = seqStepValueOf(0, lane, s);
    const float b = seqStepValueOf(1, lane, s);
    return a + static_cast<float>(seq.polePosition) * (b - a);
  };
  const float a = at(step);
  if (!glide) return a;
  return a + ml::safeClamp(frac, 0.0f, 1.0f) * (at(step + 1) - a);
}

bool PluginProcessor::getSeqMorphValues(int lane, float* out, int max, int& n) const {
  n = 0;
  if (!tiedLane(lane) || !seq.laneMorph[lane] || out == nullptr) return false;
  n = std::clamp(std::min(seq.lanes[lane].countNow(), max), 0, kSeqSteps);
  for (int i = 0; i < n; ++i) out[i] = seqValMorph(lane, i, 0.0f, false);
  return true;
}

SeqLaneReading PluginProcessor::readSeqLane(int lane) const {
  SeqLaneReading r;
  if (!tiedLane(lane)) return r;
  const SeqLane& l = seq.lanes[lane];
  const int count = l.countNow();
  if (count <= 0 || !l.enabled.load(kRelaxed)) return r;
  const SeqGlide& g = l.glide;
  r.read = true;
  r.step = SeqLane::wrap(l.step.load(kRelaxed), count);
  r.frac =
      g.duration > 0
          ? std::clamp(static_cast<float>(static_cast<double>(g.elapsed) / static_cast<double>(g.duration)),
                       0.0f, 1.0f)
          : 0.0f;
  r.target = seq.lane1Target.load(kRelaxed);
  r.morphed = seq.laneMorph[lane];
  if (r.morphed) {
    const int pole = seq.polePosition < 0.5 ? 0 : 1;
    r.active = !(seqStepValueOf(0, lane, r.step) <= kSeqRestLevel &&
                 seqStepValueOf(1, lane, r.step) <= kSeqRestLevel);
    r.glide = g.tied && g.duration > 0 && seqStepTieOf(pole, lane, r.step);
    r.value = seqValMorph(lane, r.step, r.frac, r.glide);
    r.from = seqValMorph(lane, r.step, 0.0f, r.glide);
    r.to = seqValMorph(lane, r.step, 1.0f, r.glide);
    r.target = static_cast<int32_t>(std::min<uint32_t>(seqPoleLane(pole, lane).target, kSeqLastTarget));
    return r;
  }
  const float raw = l.valueAt(l.bankNow(), r.step);
  r.active = raw > kSeqRestLevel;
  r.glide = g.tied && g.duration > 0;
  r.value = g.tied ? g.current : raw;
  r.from = g.from;
  r.to = g.to;
  return r;
}

// Lanes 0 and 1 run at their committed rate; with both poles carrying a rate, at the rate between them
// (geometric, like the other rates the morph moves).
void PluginProcessor::updateSeqFreeRates() {
  for (int l = 0; l < kSeqTiedLanes; ++l) {
    SeqLane& lane = seq.lanes[l];
    const float a = seqPoleLane(0, l).rate;
    const float b = seqPoleLane(1, l).rate;
    float rate = lane.committedRate.load(kRelaxed);
    if (a > 0.0f && b > 0.0f) {
      const double t = std::clamp(seq.polePosition, 0.0, 1.0);
      rate = static_cast<float>(static_cast<double>(a) * std::pow(static_cast<double>(b) / a, t));
    }
    if (rate >= 0.0f) lane.freeRate.store(ml::safeClamp(rate, kSeqMinFreeRate, kSeqMaxFreeRate), kRelaxed);
  }
}
