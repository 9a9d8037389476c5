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

// The soft clip sample by sample: the clipped sample mixed half and half with the sample,
// x + 0.5 (0.7692308 analogSoftClip(d) - x) with d = 1.3x + 0.12 (1.3x)^2 = x (1.3 + 0.2028x).
// analogSoftClip(c) = c (27 + c^2) / (27 + 9c^2) on c clamped to -3..3, so that its scaled term is
// c (1.1538462 + 0.042735043c^2) / (3 + c^2). A NaN sample stays NaN.
ml::simd::Lanes clipSample(ml::simd::Lanes x) {
  using namespace ml::simd;
  const F4 d = mul(x.v, add(splat(1.3f), mul(splat(0.2028f), x.v)));
  const F4 c = max(min(d, splat(3.f)), splat(-3.f));
  const F4 c2 = mul(c, c);
  const F4 scaled = div(mul(c, add(splat(1.1538462f), mul(splat(0.042735043f), c2))), add(splat(3.f), c2));
  return x + Lanes(sub(scaled, mul(splat(0.5f), x.v)));
}

// The same curve as its mean along the straight path from one 2x input to the next (first-order
// antiderivative anti-aliasing), for a signal loud and high enough that its 4th and 5th harmonics fold
// back from above twice the rate. analogSoftClip(c) is c + n(c) with n(c) = -(8/9) c^3 / (c^2 + 3) up to
// c = 3, where it holds 1 (d never falls below -2.08), so that the curve is
// x + 0.078x^2 + 0.3846154 (n(c) + c - d) with c = min(d, 3). The antiderivative of n is
// -(4/9) c^2 + (4/3) ln(c^2 + 3); its difference quotient between c0 and c1, with s = c0 + c1,
// a = c^2 + 3 and t = (a1 - a0) / (a1 + a0) (within +-0.6), is s ((8/3) atanh(t) / (t (a0 + a1)) - 4/9),
// free of the cancellation that a quotient of the antiderivative's values meets when c0 and c1 are close.
// The path runs straight in x, not in c: d bows below the chord by 0.2028 dx^2 tau (1 - tau) along it,
// which lowers the mean by about n'(c) 0.2028 dx^2 / 6 at the midpoint (the bow term; without it the
// folded 4th harmonic of a 20 kHz tone stays 5 dB higher). x^2 is taken as its exact mean and the excess
// d - c by the trapezoid, so the whole nonlinear part lies half a 2x sample late; x joins it through a
// first-order allpass of half a sample's delay at low frequencies (0.57 at 20 kHz), so that the clip
// compresses in time with its input (x in time with the sample let a bright percussive sound's peaks
// through 0.7 dB higher). The mean's smoothing of the compression itself leaves a level-1 tone at 20 kHz
// 0.5 dB louder.
constexpr float kClipKnee = 3.f;
constexpr float kClipMix = 0.3846154f;           // 0.5 x 0.7692308
constexpr float kHalfSampleAllpass = 1.f / 3.f;  // (1 - 0.5) / (1 + 0.5)

// kClipMix (8/3) atanh(t) / t as a polynomial in v = t^2, minimax over 0..0.36 (the ratio within 7e-5).
ml::simd::Lanes scaledAtanhRatio(ml::simd::Lanes v) {
  return 1.02564107f + v * (0.343865313f + v * (0.171870835f + v * 0.282064111f));
}

// One 2x input to the clip with the parts of it that the mean towards the next input reads.
struct ClipPoint {
  ml::simd::Lanes x, c, a, excess;
};

ClipPoint clipPoint(ml::simd::Lanes x) {
  const ml::simd::Lanes d = x * (1.3f + 0.2028f * x);
  const ml::simd::Lanes c = min(d, ml::simd::Lanes(kClipKnee));
  return {x, c, c * c + 3.f, d - c};
}

// The clip of `at` with its nonlinear part taken as its mean between `before` and `at`, and `delayed` the
// sample half a 2x sample late. A NaN sample stays NaN.
ml::simd::Lanes clipMean(const ClipPoint& before, const ClipPoint& at, ml::simd::Lanes delayed) {
  using ml::simd::Lanes;
  const Lanes s = before.c + at.c;
  const Lanes inverseSum = 1.f / (before.a + at.a);
  const Lanes t = (at.a - before.a) * inverseSum;
  const Lanes meanN = s * (scaledAtanhRatio(t * t) * inverseSum - kClipMix * (4.f / 9.f));
  const Lanes s2 = s * s;
  const Lanes bow = (kClipMix * 0.2028f / 27.f) * s2 * (s2 + 36.f) * (inverseSum * inverseSum);
  const Lanes dx = at.x - before.x;
  return delayed + 0.078f * (before.x * at.x) + dx * dx * (0.026f + bow) + meanN -
         (0.5f * kClipMix) * (before.excess + at.excess);
}

// The clip takes its mean where a lane's row bends by kMeanOnBend or more at a sample (the second
// difference x[i] - 2x[i - 1] + x[i - 2]: 4 A sin^2(pi f / rate) for a tone of level A, so 1.5 for a tone
// of level 0.38 at 20 kHz or 0.6 at 13 kHz, and never for a tone below 5 kHz up to level 3), and clips
// sample by sample again once its bends stay below kMeanOffBend. Sample by sample, the tones below
// kMeanOnBend fold back at most -62 dB, and a tone below 5 kHz keeps the clip's harmonics exactly.
constexpr float kMeanOnBend = 1.5f;
constexpr float kMeanOffBend = 1.f;

using ClipLanes = SoftClipStateOf<ml::simd::Lanes>;

// The rows, gains and soft clip states of up to four voices, one to a lane; the rows of lanes past
// `lanes` are silent.
struct ClipLaneSources {
  std::array<float*, 4> rows;
  std::array<float, 4> gains;
  std::array<SoftClipState*, 4> states;
  int lanes;
};

// One float of each lane's soft clip state as lanes (the lanes past src.lanes 0), and back.
ml::simd::Lanes gatherClipField(const ClipLaneSources& src, float SoftClipState::*field) {
  alignas(16) float v[4] = {};
  for (int l = 0; l < src.lanes; ++l) v[l] = src.states[l]->*field;
  return ml::simd::Lanes(ml::simd::loadF(v));
}

void scatterClipField(const ClipLaneSources& src, float SoftClipState::*field, ml::simd::Lanes lanes) {
  alignas(16) float v[4];
  ml::simd::storeF(v, lanes.v);
  for (int l = 0; l < src.lanes; ++l) src.states[l]->*field = v[l];
}

ClipLanes gatherClipLanes(const ClipLaneSources& src) {
  ClipLanes s;
  gatherAllpassLanes(s.up, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->up; });
  gatherAllpassLanes(s.down, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->down; });
  s.lastInput = gatherClipField(src, &SoftClipState::lastInput);
  s.lastDelayed = gatherClipField(src, &SoftClipState::lastDelayed);
  s.meanWeight = gatherClipField(src, &SoftClipState::meanWeight);
  return s;
}

void scatterClipLanes(const ClipLanes& s, const ClipLaneSources& src) {
  const auto every = [](int) { return true; };
  scatterAllpassLanes(
      s.up, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->up; }, every);
  scatterAllpassLanes(
      s.down, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->down; }, every);
  scatterClipField(src, &SoftClipState::lastInput, s.lastInput);
  scatterClipField(src, &SoftClipState::lastDelayed, s.lastDelayed);
  scatterClipField(src, &SoftClipState::meanWeight, s.meanWeight);
}

// Each lane's mean weight at the end of the block, from the largest bend of its row x.
ml::simd::Lanes meanWeightAfter(const ml::simd::F4* x, ml::simd::Lanes weight) {
  using namespace ml::simd;
  F4 bends = splat(0.f);
  for (int i = 2; i < kBlock; ++i) bends = max(bends, abs(add(sub(x[i], x[i - 1]), sub(x[i - 2], x[i - 1]))));
  const Lanes on = select(Lanes(1.f), weight, greaterEqual(bends, splat(kMeanOnBend)));
  return select(Lanes(0.f), on, lessThan(bends, splat(kMeanOffBend)));
}

// The 2x samples u clipped in place, each with the clip(before, at, k) of its point and the one before,
// from the state's last input on.
template <typename Clip>
void clipRow(ml::simd::F4* u, ClipLanes& s, Clip clip) {
  ClipPoint before = clipPoint(s.lastInput);
  for (int k = 0; k < 2 * kBlock; ++k) {
    const ClipPoint at = clipPoint(ml::simd::Lanes(u[k]));
    u[k] = clip(before, at, k).v;
    before = at;
  }
  s.lastInput = before.x;
}

// The block clipped sample by sample, by the mean, or crossing over linearly from each lane's weight
// `from` to `to` (the lanes past `lanes` are silent either way). A lane that comes to the mean starts the
// half-sample delay from its last input (what is left of that guess shrinks to a third each 2x sample).
void clipBlock(ml::simd::F4* u, ClipLanes& s, ml::simd::Lanes from, ml::simd::Lanes to, int lanes) {
  using ml::simd::Lanes;
  alignas(16) float first[4], last[4];
  ml::simd::storeF(first, from.v);
  ml::simd::storeF(last, to.v);
  bool sampled = true;
  bool averaged = true;
  for (int l = 0; l < lanes; ++l) {
    sampled = sampled && first[l] == 0.f && last[l] == 0.f;
    averaged = averaged && first[l] == 1.f && last[l] == 1.f;
  }
  if (sampled) {
    clipRow(u, s, [](const ClipPoint&, const ClipPoint& at, int) { return clipSample(at.x); });
    return;
  }
  Lanes delayed = select(s.lastInput, s.lastDelayed, ml::simd::equal(from.v, ml::simd::splat(0.f)));
  const auto mean = [&delayed](const ClipPoint& before, const ClipPoint& at) {
    delayed = before.x + kHalfSampleAllpass * (at.x - delayed);
    return clipMean(before, at, delayed);
  };
  if (averaged) {
    clipRow(u, s, [&](const ClipPoint& before, const ClipPoint& at, int) { return mean(before, at); });
  } else {
    const Lanes step = (to - from) * (0.5f / kBlock);
    clipRow(u, s, [&](const ClipPoint& before, const ClipPoint& at, int k) {
      const Lanes sample = clipSample(at.x);
      return sample + (from + step * float(k + 1)) * (mean(before, at) - sample);
    });
  }
  s.lastDelayed = delayed;
}

// The soft clips of four voices side by side: each row scaled by its voice's gain and clipped at twice
// the rate between steep minimum-phase half-bands, so that the strong low harmonics of a tone near the
// top of the band (its second and third) meet the decimator instead of folding back; where the signal is
// loud and high enough for higher ones to fold back, the clip takes its mean between 2x inputs. The
// half-bands pass the band flat, with the phase of an allpass (about 2.7 samples of delay at low
// frequencies) and no latency. Each pass runs one rate change over the block, so that few states are
// live at once.
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
  const Lanes weight = meanWeightAfter(x, s.meanWeight);
  for (int i = 0; i < kBlock; ++i) {
    const HalfbandPairOf<Lanes> pair = allpassInterpolate(s.up, Lanes(x[i]));
    u[2 * i] = pair.first.v;
    u[2 * i + 1] = pair.second.v;
  }
  clipBlock(u, s, s.meanWeight, weight, src.lanes);
  s.meanWeight = weight;
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
    src.states[k] = &renders.voices[first + k]->softClip;
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
