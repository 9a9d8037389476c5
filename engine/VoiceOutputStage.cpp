// The voice's output stage: DC blocker, amplitude with the release crossfade, soft clip with the tone
// shelf, the retrigger fade and the per-voice meters.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "engine/Silence.h"
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

// The recursive state of a chain's one-poles outside the soft clip, held in locals for a block (the voice's
// fields could alias the row for the compiler): the DC blocker, the gain and the tone stage. T is float,
// or lanes of several voices.
template <typename T>
struct ChainStateOf {
  T dcX, dcY, gainTarget, gainCurrent;
  T clipX, clipY, toneLp;
};

// Calls f(field of s, the voice's field) for each field.
template <typename T, typename F>
void forEachChainField(ChainStateOf<T>& s, F f) {
  f(s.dcX, &VoiceState::dcX);
  f(s.dcY, &VoiceState::dcY);
  f(s.gainTarget, &VoiceState::gainTarget);
  f(s.gainCurrent, &VoiceState::gainCurrent);
  f(s.clipX, &VoiceState::clipX);
  f(s.clipY, &VoiceState::clipY);
  f(s.toneLp, &VoiceState::toneLp);
}

ChainStateOf<float> loadChain(const VoiceState& v) {
  ChainStateOf<float> s;
  forEachChainField(s, [&](float& field, float VoiceState::*member) { field = v.*member; });
  return s;
}

void storeChain(VoiceState& v, ChainStateOf<float> s) {
  forEachChainField(s, [&](float field, float VoiceState::*member) { v.*member = field; });
}

// The release crossfade of one voice beside its chain: the level held at the note's end, the fade's
// position and the last sample's amplitude.
struct ReleaseFade {
  float holdLevel, xfade, ampLevel;
};

// One DC blocker step of a chain state of one voice (T float) or of lanes.
template <typename T>
T dcBlockerStep(ChainStateOf<T>& s, T x, float r) {
  const T y = x - s.dcX + r * s.dcY;
  s.dcX = x;
  s.dcY = y;
  return y;
}

template <typename T>
void gainStep(ChainStateOf<T>& s, float c) {
  s.gainCurrent = s.gainCurrent + c * (s.gainTarget - s.gainCurrent);
}

// Env 1 times the note's gain; a note end crossfades from the level held at the end to the release.
float amplitudeStep(ChainStateOf<float>& s, ReleaseFade& r, const VoiceBlock& b, int i, float c, float x) {
  if (i == b.noteStart) {
    s.gainTarget = b.gate[i];
    if (!b.retrigger) s.gainCurrent = s.gainTarget;
  }
  if (i == b.noteEnd) {
    r.holdLevel = r.ampLevel;
    r.xfade = 0.f;
  }
  float env = b.env1Raw[i];
  if (r.xfade < 1.f) {
    const float w = ml::raisedCosineFade(r.xfade);
    env = (1.f - w) * r.holdLevel + w * env;
    r.xfade = std::min(1.f, r.xfade + kReleaseXfadeStep);
  }
  r.ampLevel = env;
  gainStep(s, c);
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

// The soft clip states of up to four voices, one to a lane, and their gains; the lanes past `lanes` run
// on silence.
struct ClipLaneSources {
  std::array<SoftClipState*, 4> states;
  std::array<float, 4> gains;
  int lanes;
};

// One float of each lane's state as lanes (the lanes past `lanes` 0), and back.
template <typename State>
ml::simd::Lanes gatherLaneField(const std::array<State*, 4>& states, int lanes, float State::*field) {
  alignas(16) float v[4] = {};
  for (int l = 0; l < lanes; ++l) v[l] = states[l]->*field;
  return ml::simd::Lanes(ml::simd::loadF(v));
}

template <typename State>
void scatterLaneField(const std::array<State*, 4>& states, int lanes, float State::*field,
                      ml::simd::Lanes value) {
  alignas(16) float v[4];
  ml::simd::storeF(v, value.v);
  for (int l = 0; l < lanes; ++l) states[l]->*field = v[l];
}

ClipLanes gatherClipLanes(const ClipLaneSources& src) {
  ClipLanes s;
  gatherAllpassLanes(s.up, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->up; });
  gatherAllpassLanes(s.down, src.lanes, [&](int l) -> const AllpassHalfband& { return src.states[l]->down; });
  s.lastInput = gatherLaneField(src.states, src.lanes, &SoftClipState::lastInput);
  s.lastDelayed = gatherLaneField(src.states, src.lanes, &SoftClipState::lastDelayed);
  s.meanWeight = gatherLaneField(src.states, src.lanes, &SoftClipState::meanWeight);
  return s;
}

void scatterClipLanes(const ClipLanes& s, const ClipLaneSources& src) {
  const auto every = [](int) { return true; };
  scatterAllpassLanes(
      s.up, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->up; }, every);
  scatterAllpassLanes(
      s.down, src.lanes, [&](int l) -> AllpassHalfband& { return src.states[l]->down; }, every);
  scatterLaneField(src.states, src.lanes, &SoftClipState::lastInput, s.lastInput);
  scatterLaneField(src.states, src.lanes, &SoftClipState::lastDelayed, s.lastDelayed);
  scatterLaneField(src.states, src.lanes, &SoftClipState::meanWeight, s.meanWeight);
}

// Each lane's mean weight at the end of the block, from the largest bend of its row and its weight before.
ml::simd::Lanes meanWeightAfterBends(ml::simd::F4 bends, ml::simd::Lanes weight) {
  using namespace ml::simd;
  const Lanes on = select(Lanes(1.f), weight, greaterEqual(bends, splat(kMeanOnBend)));
  return select(Lanes(0.f), on, lessThan(bends, splat(kMeanOffBend)));
}

// The bend of x at samples from..from + 3, each lane one of them.
ml::simd::F4 bendsAt(const float* x, int from) {
  using namespace ml::simd;
  const F4 previous = loadU(x + from - 1);
  return abs(add(sub(loadU(x + from), previous), sub(loadU(x + from - 2), previous)));
}

// The mean weight at the end of the block of one voice's row x.
float meanWeightAfter(const float* x, float weight) {
  using namespace ml::simd;
  // Samples 2..61, then 60..63.
  F4 bends = bendsAt(x, kBlock - 4);
  for (int i = 2; i < kBlock - 2; i += 4) bends = max(bends, bendsAt(x, i));
  alignas(16) float b[4];
  storeF(b, bends);
  const float most = std::max(std::max(b[0], b[1]), std::max(b[2], b[3]));
  alignas(16) float w[4];
  storeF(w, meanWeightAfterBends(splat(most), Lanes(weight)).v);
  return w[0];
}

// The mean weight of each lane of rows x (sample i of each in x[i]).
ml::simd::Lanes meanWeightAfter(const ml::simd::F4* x, ml::simd::Lanes weight) {
  using namespace ml::simd;
  F4 bends = splat(0.f);
  for (int i = 2; i < kBlock; ++i) bends = max(bends, abs(add(sub(x[i], x[i - 1]), sub(x[i - 2], x[i - 1]))));
  return meanWeightAfterBends(bends, weight);
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

// The coefficients of the chains' one-poles at the block's rate, the same for every render.
struct ChainCoeffs {
  float dcR, gainC;  // DC blocker pole, gain smoother
  float hpR, lpC;    // the tone stage's DC pole and its low-pass
};

ChainCoeffs chainCoeffs(float sr) {
  return {ml::dcBlockerPole(31.4159f, sr), 1.f - std::exp(-1.f / (kGainSeconds * sr)),
          ml::dcBlockerPole(31.4f, sr), 1.f - std::exp(-62831.855f * (1.f / sr))};
}

// DC blocker and amplitude of a voice's block with its note events and release crossfade, sample by sample.
void dcAndAmplitude(VoiceState& v, VoiceBlock& b, const ChainCoeffs& k) {
  ChainStateOf<float> s = loadChain(v);
  ReleaseFade r{v.releaseHoldLevel, v.releaseXfade, v.ampLevel};
  float* out = b.out.getBuffer();
  for (int i = 0; i < kBlock; ++i)
    out[i] = amplitudeStep(s, r, b, i, k.gainC, dcBlockerStep(s, out[i], k.dcR));
  storeChain(v, s);
  v.releaseHoldLevel = r.holdLevel;
  v.releaseXfade = r.xfade;
  v.ampLevel = r.ampLevel;
}

// True when the block has no note event and no release crossfade: its amplitude is Env 1 times the gain.
bool plainAmplitude(const VoiceState& v, const VoiceBlock& b) {
  return b.noteStart < 0 && b.noteEnd < 0 && v.releaseXfade >= 1.f;
}

// The DC blocker and Env 1 times the gain of a block without note events, in amplitudeStep's order.
template <typename T>
T plainAmplitudeStep(ChainStateOf<T>& s, T x, T env, const ChainCoeffs& k) {
  const T dc = dcBlockerStep(s, x, k.dcR);
  gainStep(s, k.gainC);
  return dc * (env * s.gainCurrent);
}

// True when the gain smoother's every step gives its value again: a gain at its target (not zero, where a
// step would give +0 for -0, and finite).
bool gainAtRest(const ChainStateOf<float>& s) {
  return s.gainCurrent == s.gainTarget && std::isnormal(s.gainCurrent);
}

// The DC blocker (x - x[-1]) + pole y[-1] over a row in place, from and into its last input and output:
// the differences as a row, only the one-pole sample by sample.
void dcBlockRow(float* row, float& lastIn, float& lastOut, float pole) {
  alignas(16) float diff[kBlock];
  diff[0] = row[0] - lastIn;
  for (int i = 1; i < kBlock; ++i) diff[i] = row[i] - row[i - 1];
  lastIn = row[kBlock - 1];
  float y = lastOut;
#pragma GCC unroll 8
  for (int i = 0; i < kBlock; ++i) row[i] = y = diff[i] + pole * y;
  lastOut = y;
}

// plainAmplitudeStep over one voice's row with its gain at rest.
void restingAmplitudeRow(ChainStateOf<float>& s, float* row, const float* env, const ChainCoeffs& k) {
  dcBlockRow(row, s.dcX, s.dcY, k.dcR);
  for (int i = 0; i < kBlock; ++i) row[i] *= env[i] * s.gainCurrent;
}

// A second DC stage and a gentle shelf above about 10 kHz after the soft clip.
template <typename T>
T toneStep(ChainStateOf<T>& s, T x, const ChainCoeffs& k) {
  const T h = (x - s.clipX) + k.hpR * s.clipY;
  s.clipX = x;
  s.clipY = h;
  s.toneLp = s.toneLp + k.lpC * (h - s.toneLp);
  return s.toneLp + (h - s.toneLp) * kToneShelf;
}

// toneStep over one voice's row: only its two one-poles sample by sample.
void toneRow(ChainStateOf<float>& s, float* row, const ChainCoeffs& k) {
  dcBlockRow(row, s.clipX, s.clipY, k.hpR);
  alignas(16) float low[kBlock];
  float lp = s.toneLp;
#pragma GCC unroll 8
  for (int i = 0; i < kBlock; ++i) low[i] = lp = lp + k.lpC * (row[i] - lp);
  s.toneLp = lp;
  for (int i = 0; i < kBlock; ++i) row[i] = low[i] + (row[i] - low[i]) * kToneShelf;
}

// The rows as lanes, sample i of each in x[i], and back.
void rowsToLanes(const std::array<const float*, 4>& rows, ml::simd::F4* x) {
  for (int i = 0; i < kBlock; i += 4) {
    for (int l = 0; l < 4; ++l) x[i + l] = ml::simd::loadF(rows[l] + i);
    ml::simd::transpose4(x[i], x[i + 1], x[i + 2], x[i + 3]);
  }
}

void lanesToRows(ml::simd::F4* x, const std::array<float*, 4>& rows) {
  for (int i = 0; i < kBlock; i += 4) {
    ml::simd::transpose4(x[i], x[i + 1], x[i + 2], x[i + 3]);
    for (int l = 0; l < 4; ++l) ml::simd::storeF(rows[l] + i, x[i + l]);
  }
}

// The soft clips of the lanes x, already scaled by their voices' gains, with each lane's mean weight at the
// block's end: clipped at twice the rate between steep minimum-phase half-bands, so that the strong low
// harmonics of a tone near the top of the band (its second and third) meet the decimator instead of folding
// back; where the signal is loud and high enough for higher ones to fold back, the clip takes its mean
// between 2x inputs. The half-bands pass the band flat, with the phase of an allpass (about 2.7 samples of
// delay at low frequencies) and no latency. Each pass runs one rate change over the block, so that few
// states are live at once.
void clipScaledLanes(ml::simd::F4* x, ClipLanes& s, ml::simd::Lanes weight, int lanes) {
  using namespace ml::simd;
  F4 u[2 * kBlock];  // at twice the rate: the samples, then the clipped samples
  for (int i = 0; i < kBlock; ++i) {
    const HalfbandPairOf<Lanes> pair = allpassInterpolate(s.up, Lanes(x[i]));
    u[2 * i] = pair.first.v;
    u[2 * i + 1] = pair.second.v;
  }
  clipBlock(u, s, s.meanWeight, weight, lanes);
  s.meanWeight = weight;
  for (int i = 0; i < kBlock; ++i) x[i] = allpassDecimate(s.down, Lanes(u[2 * i]), Lanes(u[2 * i + 1])).v;
}

// The soft clips of the lanes x, each row scaled by its voice's gain first.
void softClipLanes(ml::simd::F4* x, const ClipLaneSources& src) {
  using namespace ml::simd;
  ClipLanes s = gatherClipLanes(src);
  const F4 gain = fromLanes(src.gains[0], src.gains[1], src.gains[2], src.gains[3]);
  for (int i = 0; i < kBlock; ++i) x[i] = mul(x[i], gain);
  clipScaledLanes(x, s, meanWeightAfter(x, s.meanWeight), src.lanes);
  scatterClipLanes(s, src);
}

// One voice's two steep half-bands, each with its two allpass chains side by side: lanes 0 and 1 hold
// the interpolator's, lanes 2 and 3 the decimator's, and each pair of sections of allpassChains is one lane
// operation.
struct AllpassChainLanes {
  static constexpr int kPairs = SteepAllpassDesign::kSections / 2;
  ml::simd::F4 x[kPairs]{}, y[kPairs]{}, coeff[kPairs]{};
};

// Lanes `first` and first + 1 from a half-band's chains: lane `first` holds the chain of the even sections
// when `odd` is 0, of the odd sections when it is 1; and back.
void loadChainLanes(AllpassChainLanes& s, const AllpassHalfband& h, int odd, int first) {
  using namespace ml::simd;
  for (int p = 0; p < AllpassChainLanes::kPairs; ++p) {
    alignas(16) float x[4], y[4], coeff[4];
    storeF(x, s.x[p]);
    storeF(y, s.y[p]);
    storeF(coeff, s.coeff[p]);
    for (int l = 0; l < 2; ++l) {
      const int section = 2 * p + (l ^ odd);
      x[first + l] = h.x[section];
      y[first + l] = h.y[section];
      coeff[first + l] = SteepAllpassDesign::kCoeffs[section];
    }
    s.x[p] = loadF(x);
    s.y[p] = loadF(y);
    s.coeff[p] = loadF(coeff);
  }
}

void storeChainLanes(const AllpassChainLanes& s, int odd, int first, AllpassHalfband& h) {
  for (int p = 0; p < AllpassChainLanes::kPairs; ++p) {
    alignas(16) float x[4], y[4];
    ml::simd::storeF(x, s.x[p]);
    ml::simd::storeF(y, s.y[p]);
    for (int l = 0; l < 2; ++l) {
      const int section = 2 * p + (l ^ odd);
      h.x[section] = x[first + l];
      h.y[section] = y[first + l];
    }
  }
}

// Every chain one step on, in allpassChains' order of operations.
inline ml::simd::F4 chainLanesStep(AllpassChainLanes& s, ml::simd::F4 in) {
  using namespace ml::simd;
  for (int p = 0; p < AllpassChainLanes::kPairs; ++p) {
    const F4 out = add(mul(sub(in, s.y[p]), s.coeff[p]), s.x[p]);
    s.x[p] = in;
    s.y[p] = in = out;
  }
  return in;
}

// The decimator's output into row from its steps' rows (step i at steps + 4i), its two chains in lanes
// `first` (the odd sections) and first + 1.
void decimatedRow(const float* steps, int first, float* row) {
  using namespace ml::simd;
  for (int i = 0; i < kBlock; i += 4) {
    F4 at[4] = {loadF(steps + 4 * i), loadF(steps + 4 * i + 4), loadF(steps + 4 * i + 8),
                loadF(steps + 4 * i + 12)};
    transpose4(at[0], at[1], at[2], at[3]);
    storeF(row + i, mul(splat(0.5f), add(at[first + 1], at[first])));
  }
}

// The clip of one voice's scaled row x by its mean (or crossing over to or from it, towards its weight at
// the block's end) into row. The half-bands run their two chains side by side, as sample by sample; only
// the clip, which runs a recursion along the 2x samples, takes the lanes of voices, in lane 0 (the other
// lanes run on what the chains leave there, and are dropped).
void meanClipRow(float* row, const float* x, SoftClipState& state, float weight) {
  using namespace ml::simd;
  const ClipLaneSources src{{&state}, {1.f}, 1};
  ClipLanes s = gatherClipLanes(src);
  AllpassChainLanes band;
  loadChainLanes(band, state.up, 0, 0);
  alignas(16) float interpolated[2 * kBlock + 4]{};
  for (int i = 0; i < kBlock; ++i) storeU(interpolated + 2 * i, chainLanesStep(band, splat(x[i])));
  F4 u[2 * kBlock];  // the 2x sample k in lane 0 of u[k]
  for (int k = 0; k < 2 * kBlock; ++k) u[k] = loadU(interpolated + k);
  clipBlock(u, s, s.meanWeight, Lanes(weight), 1);
  s.meanWeight = Lanes(weight);
  scatterClipLanes(s, src);
  storeChainLanes(band, 0, 0, state.up);
  band = AllpassChainLanes{};
  loadChainLanes(band, state.down, 1, 0);
  alignas(16) float steps[4 * kBlock];
  for (int i = 0; i < kBlock; ++i)
    storeF(steps + 4 * i, chainLanesStep(band, interleaveLow(u[2 * i], u[2 * i + 1])));
  storeChainLanes(band, 1, 0, state.down);
  decimatedRow(steps, 0, row);
}

// The soft clip of one voice's row, as softClipLanes gives it. Sample by sample, the clip itself needs no
// lanes of voices: the half-bands run side by side, step j interpolating sample j (lanes 0 and 1) beside
// the decimation of sample j - 2 (lanes 2 and 3, the decimator's odd chain taking the earlier 2x sample), and
// the clip takes the four 2x samples of two steps at once. Only the mean, which runs a recursion along the
// 2x samples, takes the lanes.
void softClipRow(float* row, SoftClipState& state, float gain) {
  using namespace ml::simd;
  alignas(16) float x[kBlock];
  for (int i = 0; i < kBlock; i += 4) storeF(x + i, mul(loadF(row + i), splat(gain)));
  const float weight = meanWeightAfter(x, state.meanWeight);
  if (state.meanWeight != 0.f || weight != 0.f) {
    meanClipRow(row, x, state, weight);
    return;
  }
  AllpassChainLanes bands;
  loadChainLanes(bands, state.up, 0, 0);
  // Two steps from samples a and b and the clipped 2x samples of the two steps before, into out: gives
  // the clipped 2x samples of these two.
  const auto twoSteps = [&bands](float a, float b, F4 clipped, float* out) {
    const F4 first = chainLanesStep(bands, lowHalves(splat(a), clipped));
    const F4 second = chainLanesStep(bands, highHalves(splat(b), clipped));
    storeF(out, first);
    storeF(out + 4, second);
    return clipSample(Lanes(lowHalves(first, second))).v;
  };
  alignas(16) float steps[4 * kBlock];  // lanes 2 and 3 of steps + 4i: sample i's decimation
  // The first two steps decimate nothing: the decimator's lanes idle, with coefficients 0.
  F4 clipped = twoSteps(x[0], x[1], splat(0.f), steps);
  loadChainLanes(bands, state.down, 1, 2);
  for (int j = 2; j < kBlock; j += 2) clipped = twoSteps(x[j], x[j + 1], clipped, steps + 4 * (j - 2));
  storeChainLanes(bands, 0, 0, state.up);
  state.lastInput = steps[4 * (kBlock - 3) + 1];
  // The last two decimations; the interpolator's lanes run on unused.
  twoSteps(0.f, 0.f, clipped, steps + 4 * (kBlock - 2));
  storeChainLanes(bands, 1, 2, state.down);
  decimatedRow(steps, 2, row);
}

// The output chain of one voice, its one-poles sample by sample; `amplitude` when it runs the DC blocker
// and the amplitude of a block without note events too.
void voiceChain(VoiceState& v, VoiceBlock& b, bool amplitude, const ChainCoeffs& k) {
  ChainStateOf<float> s = loadChain(v);
  float* row = b.out.getBuffer();
  if (amplitude) {
    if (gainAtRest(s)) {
      restingAmplitudeRow(s, row, b.env1Raw.getConstBuffer(), k);
    } else {
      for (int i = 0; i < kBlock; ++i) row[i] = plainAmplitudeStep(s, row[i], b.env1Raw[i], k);
    }
    v.ampLevel = b.env1Raw[kBlock - 1];
  }
  softClipRow(row, v.softClip, b.gainMul);
  toneRow(s, row, k);
  storeChain(v, s);
}

// The output chains of up to four voices, one to a lane: their rows, Env 1 rows and states, the lanes
// past `lanes` silent; `amplitude` as for voiceChain.
struct ChainLaneSources {
  std::array<float*, 4> rows;
  std::array<const float*, 4> env;
  std::array<VoiceState*, 4> voices;
  ClipLaneSources clips;
  int lanes;
  bool amplitude;
};

// The output chains of the lanes side by side.
void chainLanes(const ChainLaneSources& src, const ChainCoeffs& k) {
  using ml::simd::Lanes;
  ChainStateOf<Lanes> s;
  forEachChainField(s, [&](Lanes& field, float VoiceState::*member) {
    field = gatherLaneField(src.voices, src.lanes, member);
  });
  ml::simd::F4 x[kBlock];
  rowsToLanes({src.rows[0], src.rows[1], src.rows[2], src.rows[3]}, x);
  if (src.amplitude) {
    ml::simd::F4 env[kBlock];
    rowsToLanes(src.env, env);
    for (int i = 0; i < kBlock; ++i) x[i] = plainAmplitudeStep(s, Lanes(x[i]), Lanes(env[i]), k).v;
    for (int l = 0; l < src.lanes; ++l) src.voices[l]->ampLevel = src.env[l][kBlock - 1];
  }
  softClipLanes(x, src.clips);
  for (int i = 0; i < kBlock; ++i) x[i] = toneStep(s, Lanes(x[i]), k).v;
  lanesToRows(x, src.rows);
  forEachChainField(s, [&](Lanes field, float VoiceState::*member) {
    scatterLaneField(src.voices, src.lanes, member, field);
  });
}

// The output chains of renders first..first + n - 1 (n at most 4). A block with a note event or a release
// crossfade among them takes the DC blockers and amplitudes of all of them sample by sample first.
void outputChainGroup(VoiceRenders& renders, int first, int n, const ChainCoeffs& k) {
  bool amplitude = true;
  for (int l = 0; l < n; ++l)
    amplitude = amplitude && plainAmplitude(*renders.voices[first + l], renders.blocks[first + l]);
  if (!amplitude) {
    for (int l = 0; l < n; ++l) dcAndAmplitude(*renders.voices[first + l], renders.blocks[first + l], k);
  }
  if (n == 1) {
    voiceChain(*renders.voices[first], renders.blocks[first], amplitude, k);
    return;
  }
  alignas(16) float spareRow[kBlock]{};
  ChainLaneSources src{{spareRow, spareRow, spareRow, spareRow},
                       {spareRow, spareRow, spareRow, spareRow},
                       {},
                       {{}, {}, n},
                       n,
                       amplitude};
  for (int l = 0; l < n; ++l) {
    VoiceBlock& b = renders.blocks[first + l];
    src.voices[l] = renders.voices[first + l];
    src.rows[l] = b.out.getBuffer();
    src.env[l] = b.env1Raw.getConstBuffer();
    src.clips.states[l] = &src.voices[l]->softClip;
    src.clips.gains[l] = b.gainMul;
  }
  chainLanes(src, k);
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
  const float peak = blockPeak(b.out.getConstBuffer());
  // The sum in sample order, so that the meter's value stays what it was.
  float sum = 0.f;
  for (int i = 0; i < kBlock; ++i) sum += b.out[i] * b.out[i];
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
  if (first >= renders.count) return;
  // Every render begun in a block has the engine's sample rate.
  const ChainCoeffs k = chainCoeffs(renders.blocks[first].sr);
  for (int r = first; r < renders.count; r += 4)
    outputChainGroup(renders, r, std::min(4, renders.count - r), k);
}

void voiceOutputStage(const VoiceContext& ctx, VoiceState& v, VoiceBlock& b) {
  retriggerFade(v, b);
  // The release tail carries the old note up to the new note's start.
  if (b.spawned && b.noteStart > 0) std::fill(b.out.getBuffer(), b.out.getBuffer() + b.noteStart, 0.f);
  if (b.kitSilent) b.out = 0.f;
  meters(ctx, v, b);
}
