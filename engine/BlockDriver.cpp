// The fixed stage order of one 64-sample block, and the stages the engine core owns itself.
#include <algorithm>
#include <bit>
#include <cmath>

#include "engine/VoiceRender.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kSilentBlocksBeforeSkip = 4;

// row: one aligned 64-sample row.
bool anyAboveZero(const float* row) {
  using namespace ml::simd;
  I4 above = greaterThan(loadF(row), splat(0.0f));
  for (size_t i = 4; i < ml::kFloatsPerDSPVector; i += 4)
    above = orMask(above, greaterThan(loadF(row + i), splat(0.0f)));
  return anySet(above);
}

// Whether the voice's gate is open anywhere in the block; a gate row the allocator filled whole with one
// value needs no reading.
bool gateOpens(const ml::EventsToSignals::Voice& voice) {
  if (voice.steadyGate.whole) return std::bit_cast<float>(voice.steadyGate.bits) > 0.0f;
  return anyAboveZero(voice.outputs.constRow(ml::EventsToSignals::Voice::kGateRow));
}

}  // namespace

void PluginProcessor::generateBlock() {
  stageSnapshotHandOver();
  stageAuditionRing();
  stageParamCacheAndMorph();
  stageBlendsAndRouteSources();
  stageVoiceConfiguration();
  stageSequencerClock();
  stageTuningUpkeep();
  stageEvents();
  stageLfos();
  stageModulationRoutes();
  stageEngineRows();
  stageVoiceSumGainAndSpread();
  stageVoices();
  stageReleaseTails();
  // The voice-sum gain scales voices and release tails alike; a block without them holds zeros, which a
  // gain that does not move leaves as they are.
  if (voiceRenders->count > 0 || voiceSumGain.step != 0.0f) voiceSumGain.apply(blockLeft, blockRight);
  stageReverb();
  stageEq();
  stageNoiseFloor();
  stageOutputGain();
  stageSaturation();
  stageLimiterAndMeters();
  stageResidueCopy();
  stageMtsRetuneCheck();
  stageBlockEnd();
}

// Takes pending morph poles and kit slots into the live copies (morph snapshots, kit slots).
void PluginProcessor::stageSnapshotHandOver() {
  handOverMorphPoles();
  kit.staged.takePublished(kitSlots);
  // The voices of this block mark the kit slots they sound.
  soundingSlotMask.store(0, std::memory_order_relaxed);
}

void PluginProcessor::stageParamCacheAndMorph() {
  // Unrolled: the relaxed loads cannot be vectorised, and the loop's own count would cost as much as they do.
#pragma GCC unroll 8
  for (uint32_t id = 0; id < kNumParams; ++id) cache[id] = params[id];
  morphParamCache();
}

// Filter-mode blends, sequencer free rates, snapshot epoch and route source modes.
void PluginProcessor::stageBlendsAndRouteSources() {
  publishFilterModeBlends();
  updateSeqFreeRates();
  trackMorphActiveEpoch();
  selectRouteSources();
}

void PluginProcessor::stageVoiceConfiguration() {
  const VoiceConfig config = cachedVoiceConfig();
  if (config.mode != lastVoiceMode || config.effectiveCount != effectiveVoiceCount) {
    voiceConfigChanged.store(true, std::memory_order_release);
  }
  if (takeRaisedFlag(voiceConfigChanged)) applyVoiceMode();
  const float glide = effectiveEtsGlideSeconds();
  if (std::fabs(glide - lastGlideSeconds) > 0.00001f) {
    allocator.setPitchGlideInSeconds(glide);
    lastGlideSeconds = glide;
  }
}

// Tuning hand-over, ratio steps and carrier-bank upkeep.
void PluginProcessor::stageTuningUpkeep() {
  tuning.takeHandOver();
  if (takeRaisedFlag(published.ratioSelectionDirty) && tuning.tuningActiveThisBlock())
    recomputeMtsRatioSteps();
  maintainCarrierBank();
}

// Kept up every block, whatever the Shape Mode, so that a switch to the carrier bank finds it current.
void PluginProcessor::maintainCarrierBank() {
  const float tilt = ml::safeClamp(static_cast<float>(cache[kParamShape]), 0.0f, 1.0f);
  const uint32_t generation = tuning.getTuningVersion();
  if (carrierBankNeedsRebuild(carrierBank, tilt, generation)) {
    float keyHz[kNumKeys];
    const bool tuned = effectiveTuningActive();
    if (tuned) {
      for (int k = 0; k < kNumKeys; ++k) keyHz[k] = static_cast<float>(effectiveNoteFreq(k, -1));
    }
    rebuildCarrierBank(carrierBank, tilt, generation, tuned ? keyHz : nullptr);
  }
  glideCarrierBank(carrierBank);
}

void PluginProcessor::stageEvents() {
  returnStolenNotes();
  sweepLostNoteOffs();
  allocator.processVector(0);
  allocator.clearEvents();
  trackVoiceChannels();
}

// Stage 6 (sequencer clock) is in SeqClock.cpp; stages 9 (LFO 1 and LFO 2) and 10 (routes and lane
// targets) are in LfoStage.cpp and RouteStage.cpp.

void PluginProcessor::stageVoiceSumGainAndSpread() {
  voiceSumGain.setVoiceCount(effectiveVoiceCount, sampleRate);
  const float spread = ml::safeClamp(static_cast<float>(cache[kParamStereoSpread]), 0.0f, 1.0f);
  stereoSpread = stereoSpreadSmoother.smoothLast(spread);
}

// Every voice that sounds, then every release tail, runs up to its filters; the filters of all of
// them run side by side; then the voices finish and mix in order (the tails in stage 14).
void PluginProcessor::stageVoices() {
  blockLeft = 0.0f;
  blockRight = 0.0f;
  followedVoice = -1;
  voiceRenders->count = voiceRenders->filtered = 0;
  const int n = static_cast<int>(std::min<uint64_t>(effectiveVoiceCount, kNumVoices));
  std::array<float, kNumVoices> gateEnd{};
  const bool env2Routed = routeUsesEnv2();
  for (int v = 0; v < n; ++v) {
    const ml::EventsToSignals::Voice& allocated = allocator.getVoice(v);
    const float* gate = allocated.outputs.constRow(ml::EventsToSignals::Voice::kGateRow);
    const bool gateOpen = gateOpens(allocated);
    if (gateOpen && voicePrevGate[v] <= 0.0f) voiceNoteStamp[v] = ++noteStartCounter;
    const bool idle = !gateOpen && voiceEnvelopesIdle(v, env2Routed);
    voiceRender[v] = -1;
    if (idle && voiceSilentBlocks[v] > kSilentBlocksBeforeSkip) {
      voiceActivity[v].store(0.0f, std::memory_order_relaxed);
    } else {
      voicePan[v] = kStereoSpreadPan[v] * stereoSpread;
      voiceRender[v] = static_cast<int8_t>(beginVoice(v));
    }
    // Saturates just past the skip threshold: an idle instance left running for weeks never wraps.
    voiceSilentBlocks[v] = idle ? std::min(voiceSilentBlocks[v] + 1, kSilentBlocksBeforeSkip + 1) : 0;
    gateEnd[v] = gate[ml::kLastSampleInVector];
  }
  beginReleaseVoices();
  renderVoiceFilters();
  for (int v = 0; v < n; ++v) {
    if (voiceRender[v] >= 0) renderVoiceIntoMix(v);
    voicePrevGate[v] = gateEnd[v];
  }
  for (int v = n; v < kNumVoices; ++v) voiceActivity[v].store(0.0f, std::memory_order_relaxed);
  publishEnvelopeDisplay();
}

void PluginProcessor::renderVoiceIntoMix(int v) {
  const ml::DSPVector& out = finishVoiceRender(voiceRender[v]);
  const StereoGains gains = voiceMixGains(voices[v], voicePan[v]);
  blockLeft += out * gains.left;
  blockRight += out * gains.right;
  if (voiceEnv1Idle(v)) return;
  const bool follow = followedVoice < 0 || voiceNoteStamp[v] > voiceNoteStamp[followedVoice] ||
                      (voiceNoteStamp[v] == voiceNoteStamp[followedVoice] &&
                       voiceActivity[v].load(std::memory_order_relaxed) >
                           voiceActivity[followedVoice].load(std::memory_order_relaxed));
  if (follow) {
    followedVoice = v;
    followedGateBefore = voicePrevGate[v];
  }
}

ml::DSPVector PluginProcessor::voiceGate(int v) const {
  ml::DSPVector gate;
  std::copy_n(allocator.getVoice(v).outputs.constRow(1), ml::kFloatsPerDSPVector, gate.getBuffer());
  return gate;
}

bool PluginProcessor::voiceEnv1Idle(int v) const {
  return voices[v].env1.idle();
}

bool PluginProcessor::voiceEnvelopesIdle(int v, bool env2Routed) const {
  return voiceEnv1Idle(v) && (!env2Routed || voices[v].env2.idle());
}

void PluginProcessor::stageReleaseTails() {
  renderReleaseVoices(blockLeft, blockRight);
}

// Reverb: mono in, stereo out.
void PluginProcessor::stageReverb() {
  masterSettings = MasterSettings::fromParams(cache.data());
  master.processReverb(masterSettings, blockLeft, blockRight);
}

void PluginProcessor::stageEq() {
  master.processEq(masterSettings, blockLeft, blockRight);
}

void PluginProcessor::stageNoiseFloor() {
  master.processNoise(masterSettings, blockLeft, blockRight);
}

void PluginProcessor::stageOutputGain() {
  master.processOutputGain(masterSettings, blockLeft, blockRight);
}

// Soft knee and colour saturation.
void PluginProcessor::stageSaturation() {
  master.processSaturation(blockLeft, blockRight);
}

void PluginProcessor::stageLimiterAndMeters() {
  limiter.processBlock(blockLeft, blockRight);
  meters.process(blockLeft, blockRight);
}

void PluginProcessor::stageResidueCopy() {
  residueLeft = blockLeft;
  residueRight = blockRight;
  residueReadIndex = 0;
  residueRemaining = static_cast<uint32_t>(ml::kFloatsPerDSPVector);
}

// MTS-ESP retune check.
void PluginProcessor::stageMtsRetuneCheck() {
  tuning.watch();
}

void PluginProcessor::stageBlockEnd() {
  followRetuneWithRatioSteps();
  recomputeDriftTargets(driftTargets, tuning.getTuningVersion(), effectiveTuningActive(),
                        [this](int note) { return effectiveNoteFreq(note, 0); });
  blockClock += ml::kFloatsPerDSPVector;
  recoverStuckVoices();
}
