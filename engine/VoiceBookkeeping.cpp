// Voice bookkeeping around the allocator: voice mode changes, stolen notes given back, lost note-offs
// swept, note channels kept per voice, and voices that stay open without a key recovered.
#include <algorithm>

#include "engine/PluginProcessor.h"
#include "engine/voice/EnvelopeModels.h"

namespace {

using AllocatorVoice = ml::EventsToSignals::Voice;

constexpr int kMaxSweepNoteOffs = 96;
constexpr int kStuckBlocksBeforeNoteOff = 48;
constexpr float kStuckGate = 0.001f;
constexpr int kRecoveryChannel = 1;

float lastGate(const AllocatorVoice& v) {
  return v.outputs.constRow(AllocatorVoice::kGateRow)[ml::kLastSampleInVector];
}

// Whether the voice's gate opens in this block, from before (its level at the end of the last block): the
// row's edges, four samples a compare, rather than a test per sample every block a key is held.
bool noteStarts(const AllocatorVoice& v, float before) {
  return firstGateRise(v.outputs.constRow(AllocatorVoice::kGateRow), before) >= 0;
}

bool playsKey(size_t note) {
  return note >= 1 && note < static_cast<size_t>(PluginProcessor::kNumKeys);
}

}  // namespace

void PluginProcessor::applyVoiceMode() {
  const VoiceConfig config = cachedVoiceConfig();
  const bool changed = config.mode != lastVoiceMode || config.effectiveCount != effectiveVoiceCount;
  if (changed && anyKeyHeld()) {
    // A change of mode or count waits until every key is up; stage 5 retries it every block.
    voiceConfigChanged.store(true, std::memory_order_release);
    return;
  }
  if (changed) {
    allocator.setUnison(config.mode == 2);
    allocator.setPolyphony(config.effectiveCount);
    const uint64_t oldCount = std::min<uint64_t>(effectiveVoiceCount, kNumVoices);
    for (uint64_t v = config.effectiveCount; v < oldCount; ++v) {
      const VoiceState& voice = voices[v];
      if (voice.sounding() && voice.lastPitch >= 0.0f)
        spawnReleaseVoice(voice, voice.lastPitch, voicePan[v], 0);
      clearVoice(static_cast<int>(v));
    }
    lastVoiceMode = config.mode;
    effectiveVoiceCount = config.effectiveCount;
    postSustainEvent(keyBook.sustainPedal, 0);
  }
  lastGlideSeconds = effectiveEtsGlideSeconds();
  allocator.setPitchGlideInSeconds(lastGlideSeconds);
}

void PluginProcessor::returnStolenNotes() {
  // The mode and count the allocator plays now: while a change waits, the cache may say otherwise.
  if (lastVoiceMode != 0) return;
  // Only a held key can be given back.
  if (anyKeyHeld()) giveFreeVoicesStolenKeys();
  keyBook.orderAtLastEvents = keyBook.orderCounter;
}

void PluginProcessor::giveFreeVoicesStolenKeys() {
  const int count = static_cast<int>(std::min<uint64_t>(effectiveVoiceCount, kNumVoices));
  std::array<bool, kNumKeys> sounding{};
  int freeVoices = 0;
  for (int v = 0; v < count; ++v) {
    const size_t note = allocator.getVoice(v).creatorKeyIdx;
    if (playsKey(note)) sounding[note] = true;
    if (note == 0) ++freeVoices;
  }
  for (; freeVoices > 0; --freeVoices) {
    const int best = keyBook.lastKeyToGiveBack(sounding);
    if (best < 0) break;
    sounding[best] = true;
    const float velocity = keyBook.velocity[best] > 0.0f ? keyBook.velocity[best] : 1.0f;
    postNoteEvent(ml::Event::kNoteOn, keyBook.channel[best], best, velocity, 0);
  }
}

void PluginProcessor::sweepLostNoteOffs() {
  keyBook.sweepLostNoteOffs(kMaxSweepNoteOffs, [this](int key) {
    // At the block's last sample: a host note-off queued for this block is never pre-empted.
    postNoteEvent(ml::Event::kNoteOff, kRecoveryChannel, key, 0.0f, ml::kLastSampleInVector);
  });
}

void PluginProcessor::trackVoiceChannels() {
  for (int v = 0; v < kNumVoices; ++v) {
    const AllocatorVoice& av = allocator.getVoice(v);
    const int key = static_cast<int>(av.creatorKeyIdx);
    // A note-on and its note-off in one block leave the key up: the voice keeps its last channel.
    if (key < kNumKeys && keyBook.held(key) && (key != voiceKeySeen[v] || noteStarts(av, voicePrevGate[v])))
      voices[v].noteChannel = keyBook.channel[key];
    voiceKeySeen[v] = key;
  }
}

void PluginProcessor::recoverStuckVoices() {
  for (int v = 0; v < kNumVoices; ++v) {
    const AllocatorVoice& av = allocator.getVoice(v);
    const size_t note = av.creatorKeyIdx;
    const bool stuck = lastGate(av) > kStuckGate && playsKey(note) && !keyBook.held(static_cast<int>(note)) &&
                       !keyBook.sustainPedal;
    if (!stuck) {
      stuckBlocks[v] = 0;
      continue;
    }
    ++stuckBlocks[v];
    if (stuckBlocks[v] == kStuckBlocksBeforeNoteOff) {
      postNoteEvent(ml::Event::kNoteOff, kRecoveryChannel, static_cast<int>(note), 0.0f, 0);
      postSustainEvent(false, 0);
      ++stuckRecoveries;
    } else if (stuckBlocks[v] > kStuckBlocksBeforeNoteOff) {
      clearVoice(v);
      stuckBlocks[v] = 0;
      ++stuckRecoveries;
    }
  }
}

void PluginProcessor::putEveryKeyUpForActivation() {
  // The host sends no note-offs across a deactivation: forget every key, the pedal and the allocator's
  // notes without posting events, so nothing re-attacks and a voice mode change does not wait.
  keyBook.forgetEveryKey();
  allocator.clear();
  allocator.keyStates = {};
  allocator.sustain = false;
  for (int v = 0; v < kNumVoices; ++v) {
    clearVoice(v);
    stuckBlocks[v] = 0;
    voicePrevGate[v] = 0.0f;
  }
  for (ReleaseVoice& tail : releaseVoices) tail = ReleaseVoice{};
}
