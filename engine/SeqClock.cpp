// Stage 6 of the block, the lane clock, and the note advance of the lanes (audio thread).
#include <algorithm>
#include <atomic>
#include <cmath>

#include "engine/PluginProcessor.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int64_t kBlockSamples = static_cast<int64_t>(ml::kFloatsPerDSPVector);
constexpr double kMinNoteStepSeconds = 0.02;  // measured note-advance step lengths are kept in 20 ms..4 s
constexpr double kMaxNoteStepSeconds = 4.0;
constexpr double kMinSyncTempo = 20.0;
constexpr float kMinFreeRateForLength = 0.001f;
constexpr float kRestGlideTarget = 0.5f;

bool anyLane(int lane) {
  return lane >= 0 && lane < kSeqLanes;
}

}  // namespace

void PluginProcessor::stageSequencerClock() {
  const bool playing = transportPlaying.load(kRelaxed);
  for (SeqLane& lane : seq.lanes) lane.delay.countDown(kBlockSamples);
  for (SeqLane& lane : seq.lanes) lane.glide.advance(kBlockSamples);
  const double bpm = tempo.load(kRelaxed);
  const double songPos = playing ? blockSongPosBeats() : 0.0;
  for (int l = 0; l < kSeqLanes; ++l) {
    if (!seq.lanes[l].enabled.load(kRelaxed)) continue;
    const int32_t mode = seq.lanes[l].runMode.load(kRelaxed);
    if (mode == kSeqRunFree) seq.runFree(l, bpm, sampleRate);
    if (mode == kSeqRunSync && playing) seq.runSync(l, songPos, bpm, sampleRate);
  }
  // prevTransportPlaying still holds the previous block's flag: the LFO stage updates it later.
  if (prevTransportPlaying && !playing) seq.stop();
}

void SeqLanes::runFree(int l, double bpm, double sampleRate) {
  if (offsetHolding(l, bpm, sampleRate)) return;
  SeqLane& lane = lanes[l];
  const float rate = lane.freeRate.load(kRelaxed);
  const double before = std::floor(lane.freePhase);
  lane.freePhase += static_cast<double>(rate) * static_cast<double>(kBlockSamples) / sampleRate;
  if (std::floor(lane.freePhase) == before) return;
  lane.freePhase -= std::floor(lane.freePhase);
  const int count = lane.countNow();
  if (count <= 0) return;
  const int step = (lane.step.load(kRelaxed) + 1) % count;
  lane.step.store(step, kRelaxed);
  enterStep(l, step, ml::saturateToInt64(sampleRate / std::max(rate, kMinFreeRateForLength) + 0.5));
  lane.lastStep = step;
}

void SeqLanes::runSync(int l, double songPos, double bpm, double sampleRate) {
  SeqLane& lane = lanes[l];
  const double beats = kSeqSyncDivBeats[std::clamp(lane.syncDiv.load(kRelaxed), 0, kSeqLastSyncDiv)];
  const int count = lane.countNow();
  if (beats <= 0.0 || count <= 0) return;
  const double pos = songPos - lane.delay.beats();
  if (pos < 0.0) {
    lane.step.store(0, kRelaxed);
    return;
  }
  int idx = ml::saturateToInt32(std::fmod(std::floor(pos / beats), static_cast<double>(count)));
  if (idx < 0) idx += count;
  lane.step.store(idx, kRelaxed);
  if (idx == lane.lastStep) return;
  enterStep(l, idx, ml::saturateToInt64(beats * 60.0 / std::max(bpm, kMinSyncTempo) * sampleRate + 0.5));
  lane.lastStep = idx;
}

void SeqLanes::stop() {
  for (SeqLane& lane : lanes) {
    lane.delay.disarm();
    const int32_t mode = lane.runMode.load(kRelaxed);
    if (mode == kSeqRunNote || mode == kSeqRunSync) lane.step.store(0, kRelaxed);
  }
}

bool SeqLanes::shouldAdvance(int lane, double bpm, double sampleRate) {
  if (!anyLane(lane)) return true;
  SeqLaneDelay& delay = lanes[lane].delay;
  if (!delay.active()) return true;
  if (!delay.armed) {
    // A note that arms the delay is held back even when the delay is shorter than a sample.
    delay.holdSamples = delay.lengthSamples(bpm, sampleRate);
    delay.holding = true;
    delay.armed = true;
    return false;
  }
  return !delay.holding;
}

void SeqLanes::advanceStep(int lane, uint64_t blockClock, double sampleRate) {
  if (!anyLane(lane)) return;
  SeqLane& l = lanes[lane];
  const int count = l.countNow();
  int step = l.step.load(kRelaxed);
  if (count > 0) {
    step = (step + 1) % count;
    l.step.store(step, kRelaxed);
  }
  const int64_t now = static_cast<int64_t>(blockClock);
  int64_t duration = 0;
  if (l.glide.lastAdvance >= 0) {
    duration = std::clamp(now - l.glide.lastAdvance, ml::saturateToInt64(kMinNoteStepSeconds * sampleRate),
                          ml::saturateToInt64(kMaxNoteStepSeconds * sampleRate));
  }
  l.glide.lastAdvance = now;
  enterStep(lane, step, duration);
  l.lastStep = step;
}

bool SeqLanes::offsetHolding(int lane, double bpm, double sampleRate) {
  if (!anyLane(lane)) return false;
  SeqLaneDelay& delay = lanes[lane].delay;
  if (!delay.active()) return false;
  if (!delay.armed) delay.arm(bpm, sampleRate);
  return delay.holding;
}

void SeqLanes::enterStep(int lane, int step, int64_t durationSamples) {
  if (!anyLane(lane)) return;
  SeqLane& l = lanes[lane];
  SeqGlide& g = l.glide;
  const int count = l.countNow();
  if (count <= 0) {
    g.tied = false;
    return;
  }
  const int bank = l.bankNow();
  const int idx = SeqLane::wrap(step, count);
  const float v = l.valueAt(bank, idx);
  g.tied = false;
  g.from = g.to = g.current = v;
  g.elapsed = 0;
  g.duration = durationSamples;
  const bool tiedStep = lane < kSeqTiedLanes && idx < kSeqSteps && l.tieAt(idx);
  if (v <= kSeqRestLevel || durationSamples <= 0 || !tiedStep) return;
  const float next = l.valueAt(bank, (idx + 1) % count);
  const bool restsAtZero = lane == 1 && lane1Target.load(kRelaxed) == kSeqTargetMorphFader;
  const float rest = restsAtZero ? 0.0f : kRestGlideTarget;
  g.to = next > kSeqRestLevel ? next : rest;
  g.tied = true;
}
