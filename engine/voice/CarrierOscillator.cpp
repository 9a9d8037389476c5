// The oscillator renderers. Every per-block decision (path, shape, feedback) is taken before the
// sample loops; the loops call only inline kernels.
#include "engine/voice/CarrierOscillator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/voice/RowChecks.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kModFadeStart = 1.f / 3.f;
constexpr float kModMax = 0.4f;
constexpr float kCarFadeEnd = 0.49f;
constexpr float kPmUpHz = 1000.f;
constexpr float kPmDownHz = 940.f;
constexpr float kFeedbackGain = 0.16f * 0.5f;

// Feedback term of one sample: fb x 0.16 x 0.5 x (y1 + y2).
inline float feedbackTerm(float fbAmount, const FeedbackHistory& h) {
  return fbAmount * kFeedbackGain * (h.y1 + h.y2);
}

inline void pushHistory(FeedbackHistory& h, float y) {
  h.y2 = h.y1;
  h.y1 = y;
}

// The shaped carrier of a phase: a Sine/Warp crossfade by w, the Warp carrier, or the plain sine.
inline float shapedCarrier(float p, float shape, const ShapeRender& r, float w) {
  if (r.sineWarpFade) {
    return w * carrierSample(p, shape, r.effectiveShape) + (1.f - w) * carrierSample(p, shape, r.fromShape);
  }
  if (r.warp) return shapeCarrier(p, shape, r.renderMode);
  return phasorToSineWrapped(p);
}

// True when the per-sample carrier rule is needed instead of the plain wrapped sine.
inline bool shapedPath(const OscillatorInputs& in) {
  return in.feedbackOn || in.render.warp || in.render.sineWarpFade;
}

// Sine/Warp crossfade weights of the block (raised cosine over the 256-sample fade).
void sineWarpWeights(const ShapeRender& r, float* w) {
  for (int i = 0; i < kOscBlockSize; ++i) {
    const float pos = r.fadePos + float(i) / 256.f;
    w[i] = r.sineWarpFade ? 0.5f * (1.f - std::cos(kPi * (pos < 1.f ? pos : 1.f))) : 1.f;
  }
}

// The plain sine with feedback, the common shaped case, in place over the block's phases: the same
// arithmetic as shapedSample without its per-sample choices.
void feedbackSineRow(float* p, const float* feedback, FeedbackHistory& fb) {
  float y1 = fb.y1;
  float y2 = fb.y2;
  for (int i = 0; i < kOscBlockSize; ++i) {
    const float y = phasorToSineWrapped(p[i] + feedback[i] * kFeedbackGain * (y1 + y2));
    y2 = y1;
    y1 = y;
    p[i] = y;
  }
  fb = {y1, y2};
}

// True when the shaped path is the plain sine with feedback.
inline bool feedbackSineOnly(const OscillatorInputs& in) {
  return in.feedbackOn && !in.render.warp && !in.render.sineWarpFade;
}

// One shaped sample from the carrier phase p plus feedback, updating the history.
inline float shapedSample(float p, int i, const OscillatorInputs& in, const float* w, FeedbackHistory& fb) {
  if (in.feedbackOn) p += feedbackTerm(in.feedback[i], fb);
  const float shape = in.shape ? in.shape[i] : 0.f;
  const float y = shapedCarrier(p, shape, in.render, w[i]);
  if (in.feedbackOn) pushHistory(fb, y);
  return y;
}

}  // namespace

namespace {

// True when every sample of the row is at most bound in magnitude (never with a NaN sample).
bool rowWithin(const float* row, float bound) {
  using namespace ml::simd;
  I4 within = splatI(-1);
  for (int i = 0; i < kOscBlockSize; i += 4)
    within = andMask(within, greaterEqual(splat(bound), abs(loadF(row + i))));
  return allSet(within);
}

// The row limited by limitLanes(x, |x|) and its fade row by fadeLanes(|x|); non-finite lanes give 0. A row
// that holds one value (a held note's) is limited once. Out of line, so that the common row below the limit
// (limitIncrementRow) keeps to its compares.
template <typename Limit, typename Fade>
[[gnu::noinline]] void limitRow(float* row, float* fade, Limit&& limitLanes, Fade&& fadeLanes) {
  using namespace ml::simd;
  const auto limit = [&](int i, int to) {
    const F4 x = loadF(row + i);
    const F4 a = abs(x);
    const I4 finite = lessThan(a, splat(INFINITY));
    const F4 faded = select(fadeLanes(a), splat(0.f), finite);
    const F4 limited = select(limitLanes(x, a), splat(0.f), finite);
    for (int j = i; j < to; j += 4) {
      storeF(fade + j, faded);
      storeF(row + j, limited);
    }
  };
  if (row[0] == row[kOscBlockSize - 1] && rowConstant(row)) {
    limit(0, kOscBlockSize);
    return;
  }
  for (int i = 0; i < kOscBlockSize; i += 4) limit(i, i + 4);
}

// limitRow, or a fade of 1 for a row within `untouched`, where neither the limit nor the fade bites.
template <typename Limit, typename Fade>
void limitIncrementRow(float* row, float* fade, float untouched, Limit&& limitLanes, Fade&& fadeLanes) {
  if (rowWithin(row, untouched)) {
    std::fill_n(fade, kOscBlockSize, 1.f);
    return;
  }
  limitRow(row, fade, limitLanes, fadeLanes);
}

}  // namespace

void limitModulatorIncrement(float* mod, float* modFade) {
  using namespace ml::simd;
  limitIncrementRow(
      mod, modFade, kModFadeStart,
      [](F4 m, F4 a) {
        const F4 held = copySign(select(a, splat(kModMax), lessThan(a, splat(kModMax))), m);
        return select(held, m, greaterThan(a, splat(kModFadeStart)));
      },
      [](F4 a) {
        return sub(splat(1.f),
                   clampLanes(mul(sub(a, splat(kModFadeStart)), splat(15.f)), splat(0.f), splat(1.f)));
      });
}

void limitCarrierIncrement(float* car, float* carFade) {
  using namespace ml::simd;
  limitIncrementRow(
      car, carFade, kCarrierMaxIncrement,
      [](F4 c, F4 a) {
        return select(copySign(splat(kCarFadeEnd), c), c, greaterThan(a, splat(kCarFadeEnd)));
      },
      [](F4 a) {
        const F4 over = div(sub(a, splat(kCarrierMaxIncrement)), splat(kCarFadeEnd - kCarrierMaxIncrement));
        return sub(splat(1.f), clampLanes(over, splat(0.f), splat(1.f)));
      });
}

bool choosePmPath(bool pmPath, const float* hz, int noteStart) {
  const int i = (noteStart > 32) ? (noteStart < kOscBlockSize ? noteStart : kOscBlockSize - 1) : 32;
  return hz[i] > (pmPath ? kPmDownHz : kPmUpHz);
}

void startOscillatorNote(bool wasPm, bool nowPm, bool retrigger, uint32_t startPhase, uint32_t& plainCarrier,
                         uint32_t& plainModulator, PMOversampler& pm) {
  if (!retrigger) {
    plainCarrier = startPhase;
    if (nowPm) pm.seed(startPhase, PMOversampler::kModulatorStartPhase);
  } else if (nowPm && !wasPm) {
    pm.seed(plainCarrier, plainModulator);
  } else if (!nowPm && wasPm) {
    plainCarrier = pm.carrierPhase;
    plainModulator = pm.modulatorPhase;
  }
}

ShapeRender shapeRender(const ModeTracker& t, int shapeMode) {
  ShapeRender r;
  r.effectiveShape = (t.mode >= 0) ? t.mode : shapeMode;
  r.fromShape = t.fading ? t.fromMode : r.effectiveShape;
  r.fadePos = t.fadePos;
  r.bankFade = t.fading && (r.effectiveShape == kShapeModeCarrier || r.fromShape == kShapeModeCarrier);
  r.sineWarpFade = t.fading && !r.bankFade;
  r.renderMode = (r.bankFade && t.fadePos < 0.5f) ? r.fromShape : r.effectiveShape;
  r.warp = r.renderMode == kShapeModeWarp;
  return r;
}

void renderCarrierBankOscillator(const CarrierBank& bank, CarrierRotors& rot, const float* modSine,
                                 const OscillatorInputs& in, FeedbackHistory& fb, float* out) {
  if (!rot.seeded) {
    for (int k = 0; k < kCarrierPartials; ++k) {
      rot.re[k] = phasorToSineWrapped(bank.seedPhases[k] + 0.5f);
      rot.im[k] = phasorToSineWrapped(bank.seedPhases[k] + 0.25f);
    }
    rot.seeded = true;
  }
  const float c = in.car[32];
  float cw[kCarrierPartials];
  float sw[kCarrierPartials];
  float amp[kCarrierPartials];
  int active = 0;
  for (; active < bank.liveCount; ++active) {
    if (!(bank.ratios[active] * c < kCarrierMaxIncrement)) break;
    const double w = 2.0 * 3.141592653589793 * double(bank.ratios[active]) * double(c);
    cw[active] = float(std::cos(w));
    sw[active] = float(std::sin(w));
    amp[active] = bank.liveAmps[active];
  }
  for (int i = 0; i < kOscBlockSize; ++i) {
    float pm = modSine[i] * in.index[i];
    if (in.feedbackOn) pm += feedbackTerm(in.feedback[i], fb);
    const float cp = phasorToSineWrapped(pm + 0.5f);
    const float sp = phasorToSineWrapped(pm + 0.25f);
    float sumRe = 0.f;
    float sumIm = 0.f;
    for (int k = 0; k < active; ++k) {
      const float re = rot.re[k] * cw[k] - rot.im[k] * sw[k];
      const float im = rot.re[k] * sw[k] + rot.im[k] * cw[k];
      const float g = 1.5f - 0.5f * (re * re + im * im);
      rot.re[k] = re * g;
      rot.im[k] = im * g;
      sumIm += amp[k] * rot.im[k];
      sumRe += amp[k] * rot.re[k];
    }
    const float y = sumIm * cp + sumRe * sp;
    if (in.feedbackOn) pushHistory(fb, y);
    out[i] = y * in.carFade[i];
  }
}

namespace {

// The 4x phase step of each base-rate increment; a row that holds one value (a held note's) is converted
// once.
void pmPhaseSteps(const float* increments, int32_t* step) {
  using namespace ml::simd;
  if (increments[0] == increments[kOscBlockSize - 1] && rowConstant(increments)) {
    const I4 held = pmPhaseIncrementLanes(splat(increments[0]));
    for (int i = 0; i < kOscBlockSize; i += 4) storeI(step + i, held);
    return;
  }
  for (int i = 0; i < kOscBlockSize; i += 4) storeI(step + i, pmPhaseIncrementLanes(loadU(increments + i)));
}

// The accumulators' values before each base-rate sample of the block, in one loop: each steps four times
// per sample, and four steps of a 32-bit accumulator are one step four times the size.
void pmSampleStarts(PMOversampler& pm, const int32_t* carStep, const int32_t* modStep, int32_t* carStart,
                    int32_t* modStart) {
  uint32_t carrier = pm.carrierPhase;
  uint32_t modulator = pm.modulatorPhase;
  for (int i = 0; i < kOscBlockSize; ++i) {
    carStart[i] = static_cast<int32_t>(carrier);
    modStart[i] = static_cast<int32_t>(modulator);
    carrier += 4u * static_cast<uint32_t>(carStep[i]);
    modulator += 4u * static_cast<uint32_t>(modStep[i]);
  }
  pm.carrierPhase = carrier;
  pm.modulatorPhase = modulator;
}

// An accumulator's value after each sub-sample of base-rate samples i..i+3: row j holds sample i + j's
// four, as PMOversampler::phaseStep leaves them.
void pmSubSamplePhases(const int32_t* start, const int32_t* step, int i, ml::simd::F4 (&rows)[4]) {
  using namespace ml::simd;
  const I4 s = loadI(step + i);
  const I4 twice = addI(s, s);
  const I4 from = loadI(start + i);
  rows[0] = fromBits(addI(from, s));
  rows[1] = fromBits(addI(from, twice));
  rows[2] = fromBits(addI(from, addI(twice, s)));
  rows[3] = fromBits(addI(from, addI(twice, twice)));
  transpose4(rows[0], rows[1], rows[2], rows[3]);
}

// The 4x carrier phase plus the modulator's sine times the index, for every sub-sample of the block.
// The conversions and the sine run four sub-samples (one base-rate sample) at a time.
void pmModulatedPhases(PMOversampler& pm, const OscillatorInputs& in, float* p) {
  using namespace ml::simd;
  alignas(16) int32_t carStep[kOscBlockSize];
  alignas(16) int32_t modStep[kOscBlockSize];
  pmPhaseSteps(in.car, carStep);
  pmPhaseSteps(in.mod, modStep);
  alignas(16) int32_t carStart[kOscBlockSize];
  alignas(16) int32_t modStart[kOscBlockSize];
  pmSampleStarts(pm, carStep, modStep, carStart, modStart);
  const F4 unit = splat(2.3283064e-10f);
  for (int i = 0; i < kOscBlockSize; i += 4) {
    F4 carrier[4];
    F4 modulator[4];
    pmSubSamplePhases(carStart, carStep, i, carrier);
    pmSubSamplePhases(modStart, modStep, i, modulator);
    for (int j = 0; j < 4; ++j) {
      const F4 cp = mul(unsignedToFloatExact(bitsOf(carrier[j])), unit);
      const F4 ms = phasorToSineLanes(mul(unsignedToFloatExact(bitsOf(modulator[j])), unit));
      storeF(p + 4 * (i + j), add(cp, mul(ms, splat(in.index[i + j]))));
    }
  }
}

constexpr int kChainLanes = 4;
constexpr int kMaxChainGroups = 4;  // lane groups run in one loop, so that their recursions overlap

// Chains' rows side by side, lane-major: one sub-sample (or base-rate sample) of every lane per line.
struct ChainLanes {
  alignas(16) float phase[kPmSubSamples][kChainLanes * kMaxChainGroups];
  alignas(16) float gain[kOscBlockSize][kChainLanes * kMaxChainGroups];
};

// Lines of lanes g..g+3 from `length` samples of a row per chain, four samples at a time: lane c of line k
// holds load(g + c, k)'s sample k, or 0 where there is no chain.
template <typename Load>
void gatherLanes(int g, int n, int length, Load&& load, float (*lines)[kChainLanes * kMaxChainGroups]) {
  using namespace ml::simd;
  for (int k = 0; k < length; k += 4) {
    F4 rows[kChainLanes];
    for (int c = 0; c < kChainLanes; ++c) rows[c] = g + c < n ? load(g + c, k) : splat(0.f);
    transpose4(rows[0], rows[1], rows[2], rows[3]);
    for (int j = 0; j < 4; ++j) storeF(&lines[k + j][g], rows[j]);
  }
}

// Lane c of the lines holds chain c's phases and feedback gains; lanes without a chain hold zeros.
void gatherChains(const PmFeedbackChain* chains, int n, int lanes, ChainLanes& l) {
  using namespace ml::simd;
  for (int g = 0; g < lanes; g += kChainLanes) {
    gatherLanes(
        g, n, kOscBlockSize,
        [&](int c, int i) { return mul(loadU(chains[c].feedback + i), splat(kFeedbackGain)); }, l.gain);
    gatherLanes(
        g, n, kPmSubSamples, [&](int c, int k) { return loadF(chains[c].subSamples + k); }, l.phase);
  }
}

void scatterChains(const PmFeedbackChain* chains, int n, const ChainLanes& l) {
  using namespace ml::simd;
  for (int g = 0; g < n; g += kChainLanes) {
    for (int k = 0; k < kPmSubSamples; k += 4) {
      F4 rows[kChainLanes];
      for (int j = 0; j < 4; ++j) rows[j] = loadF(&l.phase[k + j][g]);
      transpose4(rows[0], rows[1], rows[2], rows[3]);
      for (int c = 0; c < kChainLanes && g + c < n; ++c) storeF(chains[g + c].subSamples + k, rows[c]);
    }
  }
}

// The plain sine with feedback in kGroups x 4 lanes, in place: y = sine(phase + gain x (y1 + y2)), where
// the gain of each base-rate sample serves its four sub-samples.
template <int kGroups>
void feedbackSineLanes(const PmFeedbackChain* chains, int n, ChainLanes& l) {
  using namespace ml::simd;
  F4 y1[kGroups];
  F4 y2[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    alignas(16) float h1[kChainLanes]{};
    alignas(16) float h2[kChainLanes]{};
    for (int c = 0; c < kChainLanes && kChainLanes * g + c < n; ++c) {
      h1[c] = chains[kChainLanes * g + c].history->y1;
      h2[c] = chains[kChainLanes * g + c].history->y2;
    }
    y1[g] = loadF(h1);
    y2[g] = loadF(h2);
  }
  for (int k = 0; k < kPmSubSamples; ++k) {
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      const F4 gain = loadF(&l.gain[k / 4][kChainLanes * g]);
      const F4 y =
          phasorToSineWrappedLanes(add(loadF(&l.phase[k][kChainLanes * g]), mul(gain, add(y1[g], y2[g]))));
      y2[g] = y1[g];
      y1[g] = y;
      storeF(&l.phase[k][kChainLanes * g], y);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    alignas(16) float h1[kChainLanes];
    alignas(16) float h2[kChainLanes];
    storeF(h1, y1[g]);
    storeF(h2, y2[g]);
    for (int c = 0; c < kChainLanes && kChainLanes * g + c < n; ++c)
      *chains[kChainLanes * g + c].history = {h1[c], h2[c]};
  }
}

}  // namespace

bool beginPmOscillator(PMOversampler& pm, const OscillatorInputs& in, FeedbackHistory& fb,
                       PmBlockRows& rows) {
  float* sub = rows.subSamples();
  pmModulatedPhases(pm, in, sub);
  if (feedbackSineOnly(in)) return true;
  if (shapedPath(in)) {
    float w[kOscBlockSize];
    sineWarpWeights(in.render, w);
    for (int k = 0; k < kPmSubSamples; ++k) sub[k] = shapedSample(sub[k], k / 4, in, w, fb);
  } else {
    using namespace ml::simd;
    for (int k = 0; k < kPmSubSamples; k += 4) storeF(sub + k, phasorToSineWrappedLanes(loadF(sub + k)));
  }
  return false;
}

void runPmFeedbackChains(const PmFeedbackChain* chains, int n) {
  ChainLanes lanes;
  for (; n > 0; chains += kChainLanes * kMaxChainGroups, n -= kChainLanes * kMaxChainGroups) {
    const int groups = std::min((n + kChainLanes - 1) / kChainLanes, kMaxChainGroups);
    gatherChains(chains, n, groups * kChainLanes, lanes);
    switch (groups) {
      case 1:
        feedbackSineLanes<1>(chains, n, lanes);
        break;
      case 2:
        feedbackSineLanes<2>(chains, n, lanes);
        break;
      case 3:
        feedbackSineLanes<3>(chains, n, lanes);
        break;
      default:
        feedbackSineLanes<4>(chains, n, lanes);
        break;
    }
    scatterChains(chains, std::min(n, groups * kChainLanes), lanes);
  }
}

void finishPmOscillator(PMOversampler& pm, PmBlockRows& rows, const float* carFade, float* out) {
  constexpr int kHistory = PmBlockRows::kHistory;
  float* fourX = rows.fourX();
  float* twoX = rows.twoX();
  unrollHalfband(pm.firstStage, fourX);
  unrollHalfband(pm.secondStage, twoX);
  // Each decimator keeps every second output, the ones after the odd samples of its input.
  halfbandDecimate(fourX, twoX + kHistory, kPmSubSamples / 2);
  alignas(16) float base[kOscBlockSize];
  halfbandDecimate(twoX, base, kOscBlockSize);
  for (int i = 0; i < kOscBlockSize; ++i) out[i] = base[i] * carFade[i];
  rollHalfband(pm.firstStage, fourX + kPmSubSamples);
  rollHalfband(pm.secondStage, twoX + kPmSubSamples / 2);
}

void renderPmOscillator(PMOversampler& pm, const OscillatorInputs& in, FeedbackHistory& fb, float* out) {
  PmBlockRows rows;
  if (beginPmOscillator(pm, in, fb, rows)) {
    const PmFeedbackChain chain{rows.subSamples(), in.feedback, &fb};
    runPmFeedbackChains(&chain, 1);
  }
  finishPmOscillator(pm, rows, in.carFade, out);
}

void renderPlainOscillator(const float* phase, const float* modSine, const OscillatorInputs& in,
                           FeedbackHistory& fb, float* out) {
  if (!shapedPath(in)) {
    // The modulated phase leaves 0..1 at high FM amounts: wrap it before the polynomial.
    using namespace ml::simd;
    ml::DSPVector p;
    for (int i = 0; i < kOscBlockSize; i += 4) {
      const F4 modulated = add(loadU(phase + i), mul(loadU(modSine + i), loadU(in.index + i)));
      storeF(p.getBuffer() + i, wrapPhaseLanes(modulated));
    }
    const ml::DSPVector y = ml::phasorToSine(p);
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) out[i] = y[i] * in.carFade[i];
    return;
  }
  float p[kOscBlockSize];
  for (int i = 0; i < kOscBlockSize; ++i) p[i] = phase[i] + modSine[i] * in.index[i];
  if (feedbackSineOnly(in)) {
    feedbackSineRow(p, in.feedback, fb);
  } else {
    float w[kOscBlockSize];
    sineWarpWeights(in.render, w);
    for (int i = 0; i < kOscBlockSize; ++i) p[i] = shapedSample(p[i], i, in, w, fb);
  }
  for (int i = 0; i < kOscBlockSize; ++i) out[i] = p[i] * in.carFade[i];
}

void finishShapeFade(ModeTracker& t, const ShapeRender& r, float* out) {
  if (!t.fading) return;
  if (r.bankFade) {
    for (int i = 0; i < kOscBlockSize; ++i) {
      const float pos = r.fadePos + float(i) / 256.f;
      out[i] *= std::fabs(std::cos(kPi * (pos < 1.f ? pos : 1.f)));
    }
  }
  t.fadePos = (t.fadePos + 0.25f < 1.f) ? t.fadePos + 0.25f : 1.f;
  if (t.fadePos >= 1.f) {
    t.fading = false;
    t.fadePos = 0.f;
  }
}
