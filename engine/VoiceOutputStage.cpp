// The voice's output stage: DC blocker, amplitude with the release crossfade, soft clip with the tone
// shelf, the retrigger fade and the per-voice meters.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/VoiceRender.h"
#include "engine/voice/FilterSaturation.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);
constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kReleaseXfadeStep = 1.f / 256.f;
constexpr float kGainSeconds = 0.005f;
constexpr float kRetriggerFadeStep = 1.f / 96.f;
constexpr int kRetriggerPeakSamples = 32;
constexpr float kRetriggerPeakMin = 0.01f;
constexpr float kSlotSounding = 0.0001f;
constexpr float kToneShelf = 0.7943282f;  // 10^-0.1: the band above about 10 kHz, 2 dB down

void dcBlocker(VoiceState& v, VoiceBlock& b) {
  const float r = 1.f - 31.4159f / b.sr;
  for (int i = 0; i < kBlock; ++i) {
    const float x = b.out[i];
    const float y = x - v.dcX + r * v.dcY;
    v.dcX = x;
    v.dcY = y;
    b.out[i] = y;
  }
}

// Env 1 times the note's gain; a note end crossfades from the level held at the end to the release.
void amplitude(VoiceState& v, VoiceBlock& b) {
  const float c = 1.f - std::exp(-1.f / (kGainSeconds * b.sr));
  for (int i = 0; i < kBlock; ++i) {
    if (i == b.noteStart) {
      v.gainTarget = b.gate[i];
      if (!b.retrigger) v.gainCurrent = v.gainTarget;
    }
    if (i == b.noteEnd) {
      v.releaseHoldLevel = v.ampLevel;
      v.releaseXfade = 0.f;
    }
    float env = b.env1Raw[i];
    if (v.releaseXfade < 1.f) {
      const float w = 0.5f * (1.f - std::cos(kPi * v.releaseXfade));
      env = (1.f - w) * v.releaseHoldLevel + w * env;
      v.releaseXfade = std::min(1.f, v.releaseXfade + kReleaseXfadeStep);
    }
    v.ampLevel = env;
    v.gainCurrent += c * (v.gainTarget - v.gainCurrent);
    b.out[i] *= env * v.gainCurrent;
  }
}

// Soft clip of the voice, a second DC stage and a gentle shelf above about 10 kHz.
void softClipAndTone(VoiceState& v, VoiceBlock& b) {
  const float hpR = 1.f - 31.4f * b.invSr;
  const float lpC = 1.f - std::exp(-62831.855f * b.invSr);
  const float shelf = kToneShelf;
  for (int i = 0; i < kBlock; ++i) {
    const float x = b.out[i] * b.gainMul;
    float d = 1.3f * x;
    d = d + 0.12f * d * d;
    const float clipped = analogSoftClip(d) * 0.7692308f;
    const float m = x + 0.5f * (clipped - x);
    const float h = (m - v.clipX) + hpR * v.clipY;
    v.clipX = m;
    v.clipY = h;
    v.toneLp += lpC * (h - v.toneLp);
    b.out[i] = v.toneLp + (h - v.toneLp) * shelf;
  }
}

float fadeGain(float fade) {
  return 0.5f * (1.f - std::cos(kPi * fade));
}

// A retriggered voice fades its new note in over 96 samples, from the level it had when no tail
// took the old note over.
void retriggerFade(VoiceState& v, VoiceBlock& b) {
  if (!b.retrigger && !v.retriggerFadeActive) return;
  for (int i = 0; i < kBlock; ++i) {
    if (b.retrigger && i == b.noteStart) {
      float peak = 0.f;
      if (i > 0) {
        for (int j = std::max(0, i - kRetriggerPeakSamples); j < i; ++j)
          peak = std::max(peak, std::fabs(b.out[j]));
      } else {
        peak = b.level * (v.retriggerFadeActive ? fadeGain(v.retriggerFade) : 1.f);
      }
      v.retriggerFade = (peak >= kRetriggerPeakMin && !b.spawned)
                            ? std::acos(ml::safeClamp(1.f - 2.f * std::min(1.f, peak), -1.f, 1.f)) / kPi
                            : 0.f;
      v.retriggerFadeActive = true;
    }
    if (!v.retriggerFadeActive) continue;
    b.out[i] *= fadeGain(v.retriggerFade);
    v.retriggerFade += kRetriggerFadeStep;
    if (v.retriggerFade >= 1.f) {
      v.retriggerFade = 1.f;
      v.retriggerFadeActive = false;
    }
  }
}

void meters(PluginProcessor& e, VoiceState& v, const VoiceBlock& b) {
  if (b.voice < 0) return;
  float peak = 0.f;
  float sum = 0.f;
  for (int i = 0; i < kBlock; ++i) {
    peak = std::max(peak, std::fabs(b.out[i]));
    sum += b.out[i] * b.out[i];
  }
  if (v.kitSlot >= 0 && v.kitSlot < PluginProcessor::kNumKitSlots && peak > kSlotSounding) {
    e.soundingSlotMask.fetch_or(1u << v.kitSlot, std::memory_order_relaxed);
  }
  if (b.voice < PluginProcessor::kNumVoices) {
    e.voiceActivity[b.voice].store(std::sqrt(sum / static_cast<float>(kBlock)), std::memory_order_relaxed);
  }
  v.lastPeak = peak;
  v.lastFrequency = b.hz[kBlock - 1];
}

}  // namespace

void voiceOutputStage(PluginProcessor& e, VoiceState& v, VoiceBlock& b) {
  dcBlocker(v, b);
  amplitude(v, b);
  softClipAndTone(v, b);
  retriggerFade(v, b);
  // The release tail carries the old note up to the new note's start.
  if (b.spawned && b.noteStart > 0) std::fill(b.out.getBuffer(), b.out.getBuffer() + b.noteStart, 0.f);
  if (b.kitSilent) b.out = 0.f;
  meters(e, v, b);
}
