// The voice's output stage: DC blocker, amplitude with the release crossfade, soft clip with the tone
// shelf, the retrigger fade and the per-voice meters.
#include <algorithm>
#include <array>
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
};

OutputChain loadChain(const VoiceState& v) {
  return {v.dcX, v.dcY, v.gainTarget, v.gainCurrent, v.releaseHoldLevel, v.releaseXfade, v.ampLevel};
}

void storeChain(VoiceState& v, const OutputChain& s) {
  v.dcX = s.dcX;
  v.dcY = s.dcY;
  v.gainTarget = s.gainTarget;
  v.gainCurrent = s.gainCurrent;
  v.releaseHoldLevel = s.releaseHoldLevel;
  v.releaseXfade = s.releaseXfade;
  v.ampLevel = s.ampLevel;
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

// The soft clip's nonlinear part: the clipped sample mixed half and half with the sample, less the
// sample, that is 0.5 (0.7692308 analogSoftClip(d) - x) with d = 1.3x + 0.12 (1.3x)^2 = x (1.3 + 0.2028x).
// analogSoftClip(c) = c (27 + c^2) / (27 + 9c^2) on c clamped to -3..3, so that the first term is
// c (1.1538462 + 0.042735043c^2) / (3 + c^2). A NaN sample stays NaN.
ml::simd::Lanes softClipResidual(ml::simd::Lanes x) {
  using namespace ml::simd;
  const F4 d = mul(x.v, add(splat(1.3f), mul(splat(0.2028f), x.v)));
  const F4 c = max(min(d, splat(3.f)), splat(-3.f));
  const F4 c2 = mul(c, c);
  const F4 scaled = div(mul(c, add(splat(1.1538462f), mul(splat(0.042735043f), c2))), add(splat(3.f), c2));
  return Lanes(sub(scaled, mul(splat(0.5f), x.v)));
}

using ClipLanes = SoftClipHalfbandsOf<ml::simd::Lanes>;

// The rows, gains and soft clip states of up to four voices, one to a lane; the rows of lanes past
// `lanes` are silent.
struct ClipLaneSources {
  std::array<float*, 4> rows;
  std::array<float, 4> gains;
  std::array<SoftClipHalfbands*, 4> states;
  int lanes;
};

ClipLanes gatherClipLanes(const ClipLaneSources& src) {
  ClipLanes s;
  gatherAllpassLanes(s.up, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->up; });
  gatherAllpassLanes(s.down, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->down; });
  return s;
}

void scatterClipLanes(const ClipLanes& s, const ClipLaneSources& src) {
  const auto every = [](int) { return true; };
  scatterAllpassLanes(
      s.up, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->up; }, every);
  scatterAllpassLanes(
      s.down, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->down; }, every);
}

// The soft clips of four voices side by side: each row scaled by its voice's gain, clipped and mixed
// half and half with the unclipped sample, at twice the rate between steep minimum-phase half-bands, so
// that the strong low harmonics of a tone near the top of the band (its second and third) meet the
// decimator instead of folding back. The half-bands pass the band flat, with the phase of an allpass
// (about 2.7 samples of delay at low frequencies) and no latency. Each pass runs one rate change over the
// block, so that few states are live at once.
void softClipRows(const ClipLaneSources& src) {
  using namespace ml::simd;
  ClipLanes s = gatherClipLanes(src);
  const F4 gain = fromLanes(src.gains[0], src.gains[1], src.gains[2], src.gains[3]);
  const std::array<float*, 4>& rows = src.rows;
  F4 x[kBlock];      // sample i of each row
  F4 u[2 * kBlock];  // at twice the rate: the samples, then the clipped samples
  for (int i = 0; i < kBlock; i += 4) {
    F4 x0 = loadF(rows[0] + i), x1 = loadF(rows[1] + i), x2 = loadF(rows[2] + i), x3 = loadF(rows[3] + i);
    transpose4(x0, x1, x2, x3);
    x[i] = mul(x0, gain);
    x[i + 1] = mul(x1, gain);
    x[i + 2] = mul(x2, gain);
    x[i + 3] = mul(x3, gain);
  }
  for (int i = 0; i < kBlock; ++i) {
    const HalfbandPairOf<Lanes> pair = allpassInterpolate(s.up, Lanes(x[i]));
    u[2 * i] = pair.first.v;
    u[2 * i + 1] = pair.second.v;
  }
  for (F4& v : u) v = (Lanes(v) + softClipResidual(Lanes(v))).v;
  for (int i = 0; i < kBlock; ++i) x[i] = allpassDecimate(s.down, Lanes(u[2 * i]), Lanes(u[2 * i + 1])).v;
  for (int i = 0; i < kBlock; i += 4) {
    transpose4(x[i], x[i + 1], x[i + 2], x[i + 3]);
    for (int k = 0; k < 4; ++k) storeF(rows[k] + i, x[i + k]);
  }
  scatterClipLanes(s, src);
}

// DC blocker and amplitude in one pass.
void dcAndAmplitude(VoiceState& v, VoiceBlock& b) {
  const float dcR = ml::dcBlockerPole(31.4159f, b.sr);
  const float gainC = 1.f - std::exp(-1.f / (kGainSeconds * b.sr));
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
  storeChain(v, s);
}

// The soft clip of renders first..first + n - 1 (n at most 4); the lanes past n run on silence.
void softClipRenders(VoiceRenders& renders, int first, int n) {
  alignas(16) float spareRow[kBlock]{};
  ClipLaneSources src{{spareRow, spareRow, spareRow, spareRow}, {}, {}, n};
  for (int k = 0; k < n; ++k) {
    src.states[k] = &renders.voices[first + k]->clipHalfbands;
    src.rows[k] = renders.blocks[first + k].out.getBuffer();
    src.gains[k] = renders.blocks[first + k].gainMul;
  }
  softClipRows(src);
}

// A second DC stage and a gentle shelf above about 10 kHz after the soft clip.
void toneRow(VoiceState& v, VoiceBlock& b) {
  const float hpR = ml::dcBlockerPole(31.4f, b.sr);
  const float lpC = 1.f - std::exp(-62831.855f * b.invSr);
  float x = v.clipX;
  float y = v.clipY;
  float lp = v.toneLp;
  float* out = b.out.getBuffer();
  for (int i = 0; i < kBlock; ++i) {
    const float h = (out[i] - x) + hpR * y;
    x = out[i];
    y = h;
    lp += lpC * (h - lp);
    out[i] = lp + (h - lp) * kToneShelf;
  }
  v.clipX = x;
  v.clipY = y;
  v.toneLp = lp;
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

void meters(const VoiceContext& ctx, VoiceState& v, const VoiceBlock& b) {
  if (b.voice < 0) return;
  float peak = 0.f;
  float sum = 0.f;
  for (int i = 0; i < kBlock; ++i) {
    peak = std::max(peak, std::fabs(b.out[i]));
    sum += b.out[i] * b.out[i];
  }
  if (v.kitSlot >= 0 && v.kitSlot < PluginProcessor::kNumKitSlots && peak > kSlotSounding) {
    ctx.out.soundingSlotMask.fetch_or(1u << v.kitSlot, std::memory_order_relaxed);
  }
  if (b.voice < PluginProcessor::kNumVoices) {
    ctx.out.voiceActivity[b.voice].store(std::sqrt(sum / static_cast<float>(kBlock)),
                                         std::memory_order_relaxed);
  }
  v.lastPeak = peak;
  v.lastFrequency = b.hz[kBlock - 1];
}

}  // namespace

void voiceOutputChains(VoiceRenders& renders, int first) {
  for (int r = first; r < renders.count; ++r) dcAndAmplitude(*renders.voices[r], renders.blocks[r]);
  for (int r = first; r < renders.count; r += 4) softClipRenders(renders, r, std::min(4, renders.count - r));
  for (int r = first; r < renders.count; ++r) toneRow(*renders.voices[r], renders.blocks[r]);
}

void voiceOutputStage(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  retriggerFade(v, b);
  // The release tail carries the old note up to the new note's start.
  if (b.spawned && b.noteStart > 0) std::fill(b.out.getBuffer(), b.out.getBuffer() + b.noteStart, 0.f);
  if (b.kitSilent) b.out = 0.f;
  meters(ctx, v, b);
}
