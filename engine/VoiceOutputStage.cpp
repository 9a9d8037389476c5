// The voice's output stage: DC blocker, amplitude with the release crossfade, soft clip with the tone
// shelf, the retrigger fade and the per-voice meters.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/VoiceRender.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSIMD.h"
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

// The per-sample state of the output stage, held in locals for one block (the voice's fields could
// alias the row for the compiler).
struct OutputChain {
  float dcX, dcY;
  float gainTarget, gainCurrent;
  float releaseHoldLevel, releaseXfade, ampLevel;
  float clipX, clipY, toneLp;
};

OutputChain loadChain(const VoiceState& v) {
  return {v.dcX,          v.dcY,      v.gainTarget, v.gainCurrent, v.releaseHoldLevel,
          v.releaseXfade, v.ampLevel, v.clipX,      v.clipY,       v.toneLp};
}

void storeChain(VoiceState& v, const OutputChain& s) {
  v.dcX = s.dcX;
  v.dcY = s.dcY;
  v.gainTarget = s.gainTarget;
  v.gainCurrent = s.gainCurrent;
  v.releaseHoldLevel = s.releaseHoldLevel;
  v.releaseXfade = s.releaseXfade;
  v.ampLevel = s.ampLevel;
  v.clipX = s.clipX;
  v.clipY = s.clipY;
  v.toneLp = s.toneLp;
}

float dcBlockerStep(OutputChain& s, float x, float r) {
  const float y = x - s.dcX + r * s.dcY;
  s.dcX = x;
  s.dcY = y;
  return y;
}

// Env 1 times the note's gain; a note end crossfades from the level held at the end to the release.
float amplitudeStep(OutputChain& s, const VoiceBlock& b, int i, float c, float x) {
  if (i == b.noteStart) {
    s.gainTarget = b.gate[i];
    if (!b.retrigger) s.gainCurrent = s.gainTarget;
  }
  if (i == b.noteEnd) {
    s.releaseHoldLevel = s.ampLevel;
    s.releaseXfade = 0.f;
  }
  float env = b.env1Raw[i];
  if (s.releaseXfade < 1.f) {
    const float w = ml::raisedCosineFade(s.releaseXfade);
    env = (1.f - w) * s.releaseHoldLevel + w * env;
    s.releaseXfade = std::min(1.f, s.releaseXfade + kReleaseXfadeStep);
  }
  s.ampLevel = env;
  s.gainCurrent += c * (s.gainTarget - s.gainCurrent);
  return x * (env * s.gainCurrent);
}

// Four lanes of analogSoftClip, in its operation order (the clamp's NaN gives -3 as there).
ml::simd::F4 analogSoftClipLanes(ml::simd::F4 x) {
  using namespace ml::simd;
  const F4 c = clampLanes(x, splat(-3.f), splat(3.f));
  const F4 c2 = mul(c, c);
  return div(mul(c, add(splat(27.f), c2)), add(splat(27.f), mul(splat(9.f), c2)));
}

// The voice's soft clip of each sample of the row, mixed half and half with the unclipped sample.
void softClipRow(float* row, float gainMul) {
  using namespace ml::simd;
  for (int i = 0; i < kBlock; i += 4) {
    const F4 x = mul(loadF(row + i), splat(gainMul));
    F4 d = mul(splat(1.3f), x);
    d = add(d, mul(mul(splat(0.12f), d), d));
    const F4 clipped = mul(analogSoftClipLanes(d), splat(0.7692308f));
    storeF(row + i, add(x, mul(splat(0.5f), sub(clipped, x))));
  }
}

// A second DC stage and a gentle shelf above about 10 kHz after the soft clip.
float toneStep(OutputChain& s, float hpR, float lpC, float m) {
  const float h = (m - s.clipX) + hpR * s.clipY;
  s.clipX = m;
  s.clipY = h;
  s.toneLp += lpC * (h - s.toneLp);
  return s.toneLp + (h - s.toneLp) * kToneShelf;
}

// DC blocker and amplitude in one pass, the soft clip four samples at a time, then the tone stage:
// the recursions of each pass are independent, so they overlap.
void dcAmplitudeClipAndTone(VoiceState& v, VoiceBlock& b) {
  const float dcR = ml::dcBlockerPole(31.4159f, b.sr);
  const float gainC = 1.f - std::exp(-1.f / (kGainSeconds * b.sr));
  const float hpR = ml::dcBlockerPole(31.4f, b.sr);
  const float lpC = 1.f - std::exp(-62831.855f * b.invSr);
  OutputChain s = loadChain(v);
  float* out = b.out.getBuffer();
  if (b.noteStart < 0 && b.noteEnd < 0 && s.releaseXfade >= 1.f) {
    // No note event and no release crossfade: the amplitude is Env 1 times the gain.
    for (int i = 0; i < kBlock; ++i) {
      const float dc = dcBlockerStep(s, out[i], dcR);
      s.gainCurrent += gainC * (s.gainTarget - s.gainCurrent);
      out[i] = dc * (b.env1Raw[i] * s.gainCurrent);
    }
    s.ampLevel = b.env1Raw[kBlock - 1];
  } else {
    for (int i = 0; i < kBlock; ++i) out[i] = amplitudeStep(s, b, i, gainC, dcBlockerStep(s, out[i], dcR));
  }
  softClipRow(out, b.gainMul);
  for (int i = 0; i < kBlock; ++i) out[i] = toneStep(s, hpR, lpC, out[i]);
  storeChain(v, s);
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
        peak = b.level * (v.retriggerFadeActive ? ml::raisedCosineFade(v.retriggerFade) : 1.f);
      }
      v.retriggerFade = (peak >= kRetriggerPeakMin && !b.spawned)
                            ? std::acos(ml::safeClamp(1.f - 2.f * std::min(1.f, peak), -1.f, 1.f)) / kPi
                            : 0.f;
      v.retriggerFadeActive = true;
    }
    if (!v.retriggerFadeActive) continue;
    b.out[i] *= ml::raisedCosineFade(v.retriggerFade);
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
  dcAmplitudeClipAndTone(v, b);
  retriggerFade(v, b);
  // The release tail carries the old note up to the new note's start.
  if (b.spawned && b.noteStart > 0) std::fill(b.out.getBuffer(), b.out.getBuffer() + b.noteStart, 0.f);
  if (b.kitSilent) b.out = 0.f;
  meters(e, v, b);
}
