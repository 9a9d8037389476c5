#include "engine/MasterChain.h"

#include <algorithm>
#include <cmath>

#include "engine/ParamTable.h"
#include "engine/Silence.h"
#include "engine/StereoPairs.h"
#include "engine/voice/FilterSaturation.h"
#include "foundation/MLDSPGens.h"
#include "foundation/MLSIMD.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr int kBlock = ml::kFloatsPerDSPVector;
constexpr float kPi = 3.14159265f;
constexpr float kKneeStart = 0.9f;
constexpr float kKneeWidth = 1.0f - kKneeStart;  // 0.10000002 in single precision
constexpr float kEqLowHz = 200.0f;
constexpr float kEqMidHz = 1000.0f;
constexpr float kEqHighHz = 6000.0f;
constexpr float kEqBypass = 0.001f;
constexpr float kLn10Times12Over20 = 2.3025851f * 12.0f / 20.0f;  // gain = exp(this x value): +-12 dB
constexpr float kNoiseCutoffHz = 8000.0f;
constexpr float kNoiseScale = 0.0005f;
constexpr float kNoiseBypass = 0.001f;
constexpr float kLevelHotThreshold = 0.9f;
constexpr float kColourLift = 1.2f;
constexpr float kColourSatAmount = 1.9f;
constexpr float kColourTanhBlend = 0.28f;

// Clamps v into the range of parameter id; NaN gives the low end.
float clampParam(float v, uint32_t id) {
  return ml::safeClamp(v, static_cast<float>(kParams[id].min), static_cast<float>(kParams[id].max));
}

MasterSettings clamped(const MasterSettings& s) {
  MasterSettings c;
  c.reverbPreDelayMs = clampParam(s.reverbPreDelayMs, kParamReverbPreDelay);
  c.reverbDecaySeconds = clampParam(s.reverbDecaySeconds, kParamReverbDecay);
  c.reverbTone = clampParam(s.reverbTone, kParamReverbTone);
  c.reverbMix = clampParam(s.reverbMix, kParamReverbMix);
  c.eqLow = clampParam(s.eqLow, kParamEqLow);
  c.eqMid = clampParam(s.eqMid, kParamEqMid);
  c.eqHigh = clampParam(s.eqHigh, kParamEqHigh);
  c.noiseLevel = clampParam(s.noiseLevel, kParamNoiseLevel);
  c.outputGain = clampParam(s.outputGain, kParamOutputGain);
  return c;
}

// Whether the three bands' settings at the block's end are all close enough to 0 dB to pass it unchanged.
bool eqBypassed(float low, float mid, float high) {
  return std::fabs(low) <= kEqBypass && std::fabs(mid) <= kEqBypass && std::fabs(high) <= kEqBypass;
}

float normalisedFrequency(float hz, float sampleRate, float lo) {
  return std::clamp(hz / sampleRate, lo, 0.49f);
}

// Every sample at or below the knee (a NaN is not).
bool withinKnee(const ml::DSPVector& v) {
  static const float kAboveKnee = std::nextafter(kKneeStart, 1.0f);
  return allQuieterThan(v.getConstBuffer(), kBlock, kAboveKnee);
}

// A low-pass whose state and input are silent would only follow them to silence.
bool quietLowpass(const ml::DSPVector& in, float state) {
  return std::fabs(state) < kSilenceLevel && allQuieterThan(in.getConstBuffer(), kBlock, kSilenceLevel);
}

// low += coef (x - low) over the block for both channels, the two recursions side by side in two lanes of
// one vector: each lane takes the very steps of its channel alone.
void followLowpass(const ml::DSPVector& left, const ml::DSPVector& right, float coef, float& lowL,
                   float& lowR) {
  using namespace ml::simd;
  const StereoPairs both(left, right);
  const F4 k = splat(coef);
  F4 low = fromLanes(lowL, lowR, 0.0f, 0.0f);
#pragma GCC unroll 8
  for (int i = 0; i < kBlock; ++i) low = add(low, mul(k, sub(both.at(i), low)));
  alignas(16) float lanes[4];
  storeF(lanes, low);
  lowL = lanes[0];
  lowR = lanes[1];
}

}  // namespace

MasterSettings MasterSettings::fromParams(const double* values) {
  MasterSettings s;
  s.reverbPreDelayMs = static_cast<float>(values[kParamReverbPreDelay]);
  s.reverbDecaySeconds = static_cast<float>(values[kParamReverbDecay]);
  s.reverbTone = static_cast<float>(values[kParamReverbTone]);
  s.reverbMix = static_cast<float>(values[kParamReverbMix]);
  s.eqLow = static_cast<float>(values[kParamEqLow]);
  s.eqMid = static_cast<float>(values[kParamEqMid]);
  s.eqHigh = static_cast<float>(values[kParamEqHigh]);
  s.noiseLevel = static_cast<float>(values[kParamNoiseLevel]);
  s.outputGain = static_cast<float>(values[kParamOutputGain]);
  return s;
}

EqBandCoeffs eqBandCoeffs(float f) {
  const float g = std::tan(kPi * f);
  EqBandCoeffs c;
  c.a1 = 1.0f / (1.0f + g * (g + 1.0f));
  c.a2 = g * c.a1;
  c.a3 = g * c.a2;
  return c;
}

float softKnee(float x) {
  const float a = std::fabs(x);
  if (a <= kKneeStart) return x;
  return std::copysign(kKneeStart + kKneeWidth * std::tanh((a - kKneeStart) / kKneeWidth), x);
}

ColourCoeffs colourCoeffs(float sampleRate) {
  ColourCoeffs c;
  c.lpCoef = std::clamp(18849.556f / sampleRate, 0.0001f, 0.49f);  // 2 pi x 3000 Hz
  c.dcCoef = ml::dcBlockerPole(31.4159f, sampleRate);              // 2 pi x 5 Hz
  return c;
}

float colour(float x, const ColourCoeffs& c, ColourState& s) {
  s.lowpass += c.lpCoef * (x - s.lowpass);
  const float a = std::fabs(x);
  if (a <= kKneeStart) return x;
  const float wet = std::clamp((a - kKneeStart) / kKneeWidth, 0.0f, 1.0f);
  // Shape the part above the low-pass, lifted, then bring it back down.
  const float lp = s.lowpass;
  const float u = lp + kColourLift * (x - lp);
  const float t = std::tanh(u);
  const float sat = analogSat(u, kColourSatAmount);
  const float y = u + (sat - t) + kColourTanhBlend * (t - u);
  const float z = lp + (y - lp) / kColourLift;
  s.dcOut = c.dcCoef * s.dcOut + (z - s.dcIn);
  s.dcIn = z;
  return x + wet * (s.dcOut - x);
}

void MasterChain::setSampleRate(float sr, const MasterSettings& unclamped) {
  if (!(sr > 0.0f) || !std::isfinite(sr)) return;
  const MasterSettings settings = clamped(unclamped);
  sampleRate = sr;
  reverb.setSampleRate(sr);
  ParamSmoother* smoothers[] = {&preDelaySmoother, &decaySmoother,      &toneSmoother,
                                &mixSmoother,      &eqLowSmoother,      &eqMidSmoother,
                                &eqHighSmoother,   &noiseLevelSmoother, &outputGainSmoother};
  for (ParamSmoother* s : smoothers) s->setTime(kSmootherMs, sr);
  preDelaySmoother.set(settings.reverbPreDelayMs);
  decaySmoother.set(settings.reverbDecaySeconds);
  toneSmoother.set(settings.reverbTone);
  mixSmoother.set(settings.reverbMix);
  eqLowSmoother.set(settings.eqLow);
  eqMidSmoother.set(settings.eqMid);
  eqHighSmoother.set(settings.eqHigh);
  noiseLevelSmoother.set(settings.noiseLevel);
  outputGainSmoother.set(settings.outputGain);
  noiseGen.reset();
  clearFilterStates();
  levelHot.store(false, std::memory_order_relaxed);
}

void MasterChain::resetAll() {
  reverb.clear();
  clearFilterStates();
}

void MasterChain::clearFilterStates() {
  for (int i = 0; i < kNumEqStates; ++i) eqIc1[i] = eqIc2[i] = 0.0f;
  noiseFilter.y = 0.0f;
  colourState[0] = colourState[1] = ColourState{};
}

void MasterChain::process(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right) {
  processReverb(settings, left, right);
  processEq(settings, left, right);
  processNoise(settings, left, right);
  processOutputGain(settings, left, right);
  processSaturation(left, right);
}

// Each stage clamps only the settings it reads.
void MasterChain::processReverb(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right) {
  // The network reads its three settings once a block, at the block's end.
  const float preDelay =
      preDelaySmoother.smoothLast(clampParam(settings.reverbPreDelayMs, kParamReverbPreDelay));
  const float decay = decaySmoother.smoothLast(clampParam(settings.reverbDecaySeconds, kParamReverbDecay));
  const float tone = toneSmoother.smoothLast(clampParam(settings.reverbTone, kParamReverbTone));
  const float mixTarget = clampParam(settings.reverbMix, kParamReverbMix);
  ml::DSPVector wetL;
  ml::DSPVector wetR;
  if (reverb.asleep && allPositiveZero(left.getConstBuffer()) && allPositiveZero(right.getConstBuffer())) {
    // Zeros in (their mono sum is zeros too) leave the network asleep and give zeros out; a mix of
    // zeros by weights in 0..1 is the zeros the rows already hold.
    mixSmoother.smoothLast(mixTarget);
    reverb.process(left, preDelay, decay, tone, wetL, wetR);
    return;
  }
  const ml::DSPVector mix = mixSmoother.smooth(mixTarget);
  ml::DSPVector in;
  for (int i = 0; i < kBlock; ++i) in[i] = (left[i] + right[i]) * 0.5f;
  reverb.process(in, preDelay, decay, tone, wetL, wetR);
  for (int i = 0; i < kBlock; ++i) {
    left[i] = left[i] * (1.0f - mix[i]) + wetL[i] * mix[i];
    right[i] = right[i] * (1.0f - mix[i]) + wetR[i] * mix[i];
  }
}

void MasterChain::processEq(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right) {
  const float lowTarget = clampParam(settings.eqLow, kParamEqLow);
  const float midTarget = clampParam(settings.eqMid, kParamEqMid);
  const float highTarget = clampParam(settings.eqHigh, kParamEqHigh);
  // Bands resting near 0 dB pass the block as it is, without the rows of their settings.
  if (eqLowSmoother.atRest(lowTarget) && eqMidSmoother.atRest(midTarget) &&
      eqHighSmoother.atRest(highTarget) &&
      eqBypassed(eqLowSmoother.value, eqMidSmoother.value, eqHighSmoother.value)) {
    return;
  }
  const ml::DSPVector low = eqLowSmoother.smooth(lowTarget);
  const ml::DSPVector mid = eqMidSmoother.smooth(midTarget);
  const ml::DSPVector high = eqHighSmoother.smooth(highTarget);
  const int last = kBlock - 1;
  if (eqBypassed(low[last], mid[last], high[last])) return;
  const EqBandCoeffs cLow = eqBandCoeffs(normalisedFrequency(kEqLowHz, sampleRate, 0.0001f));
  const EqBandCoeffs cMid = eqBandCoeffs(normalisedFrequency(kEqMidHz, sampleRate, 0.0001f));
  const EqBandCoeffs cHigh = eqBandCoeffs(normalisedFrequency(kEqHighHz, sampleRate, 0.0001f));
  for (int i = 0; i < kBlock; ++i) {
    const float gLow = std::exp(kLn10Times12Over20 * low[i]);
    const float gMid = std::exp(kLn10Times12Over20 * mid[i]);
    const float gHigh = std::exp(kLn10Times12Over20 * high[i]);
    float l = eqBand(left[i], cLow, gLow, kEqLow, eqIc1[0], eqIc2[0]);
    float r = eqBand(right[i], cLow, gLow, kEqLow, eqIc1[1], eqIc2[1]);
    l = eqBand(l, cMid, gMid, kEqMid, eqIc1[2], eqIc2[2]);
    r = eqBand(r, cMid, gMid, kEqMid, eqIc1[3], eqIc2[3]);
    left[i] = eqBand(l, cHigh, gHigh, kEqHigh, eqIc1[4], eqIc2[4]);
    right[i] = eqBand(r, cHigh, gHigh, kEqHigh, eqIc1[5], eqIc2[5]);
  }
}

void MasterChain::processNoise(const MasterSettings& settings, ml::DSPVector& left, ml::DSPVector& right) {
  const ml::DSPVector level = noiseLevelSmoother.smooth(clampParam(settings.noiseLevel, kParamNoiseLevel));
  if (blockPeak(level.getConstBuffer()) <= kNoiseBypass) return;
  if (noiseFilterRate != sampleRate) {
    noiseFilter.setCoeffs(ml::OnePole::makeCoeffs(normalisedFrequency(kNoiseCutoffHz, sampleRate, 0.001f)));
    noiseFilterRate = sampleRate;
  }
  const ml::DSPVector filtered = noiseFilter(noiseGen());
  for (int i = 0; i < kBlock; ++i) {
    const float n = filtered[i] * level[i] * kNoiseScale;
    left[i] += n;
    right[i] += n;
  }
}

void MasterChain::processOutputGain(const MasterSettings& settings, ml::DSPVector& left,
                                    ml::DSPVector& right) {
  const ml::DSPVector gain = outputGainSmoother.smooth(clampParam(settings.outputGain, kParamOutputGain));
  for (int i = 0; i < kBlock; ++i) {
    left[i] *= gain[i];
    right[i] *= gain[i];
  }
  const bool hot = blockPeak(left.getConstBuffer()) > kLevelHotThreshold ||
                   blockPeak(right.getConstBuffer()) > kLevelHotThreshold;
  levelHot.store(hot, std::memory_order_relaxed);
}

void MasterChain::processSaturation(ml::DSPVector& left, ml::DSPVector& right) {
  const ColourCoeffs c = colourCoeffs(sampleRate);
  if (withinKnee(left) && withinKnee(right)) {
    // Both stages pass every sample unchanged; only the colour low-pass follows them.
    float& lowL = colourState[0].lowpass;
    float& lowR = colourState[1].lowpass;
    if (quietLowpass(left, lowL) && quietLowpass(right, lowR)) {
      lowL = lowR = 0.0f;
      return;
    }
    followLowpass(left, right, c.lpCoef, lowL, lowR);
    return;
  }
  ml::DSPVector* rows[2] = {&left, &right};
  for (int ch = 0; ch < 2; ++ch) {
    ml::DSPVector& row = *rows[ch];
    for (int i = 0; i < kBlock; ++i) row[i] = colour(softKnee(row[i]), c, colourState[ch]);
  }
}
