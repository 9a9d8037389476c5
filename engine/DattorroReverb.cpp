#include "engine/DattorroReverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/CycleSine.h"
#include "foundation/MLSafeValue.h"

namespace {

using ml::simd::F4;
constexpr int kQuads = DattorroReverb::kNumLines / 4;  // the lines go four to a lane group
alignas(16) constexpr float kSigns1[4] = {1.0f, -1.0f, 1.0f, -1.0f};
alignas(16) constexpr float kSigns2[4] = {1.0f, 1.0f, -1.0f, -1.0f};

int32_t scaledLength(int32_t refLength, float scale, int32_t maxLength) {
  return std::min(static_cast<int32_t>(static_cast<float>(refLength) * scale + 0.5f), maxLength);
}

// One butterfly stage within each group of four lanes: lane i becomes v[i] + v[i + span] and lane
// i + span becomes v[i] - v[i + span] (adding the negation is the exact difference).
template <int kSpan>
F4 butterflyWithin(F4 v) {
  using namespace ml::simd;
  if constexpr (kSpan == 1) {
    return add(shuffle<0, 0, 2, 2>(v), mul(shuffle<1, 1, 3, 3>(v), loadF(kSigns1)));
  } else {
    return add(shuffle<0, 1, 0, 1>(v), mul(shuffle<2, 3, 2, 3>(v), loadF(kSigns2)));
  }
}

// Lane l is rings[l][at[l]].
template <int kSize>
F4 gather4(const float (*rings)[kSize], const int32_t* at) {
  return ml::simd::fromLanes(rings[0][at[0]], rings[1][at[1]], rings[2][at[2]], rings[3][at[3]]);
}

// rings[l][at] = lane l.
template <int kSize>
void scatter4(float (*rings)[kSize], int32_t at, F4 v) {
  alignas(16) float lanes[4];
  ml::simd::storeF(lanes, v);
  for (int l = 0; l < 4; ++l) rings[l][at] = lanes[l];
}

// Linearly interpolated reads from four lines' rings, each `delay` samples (at least 0) behind the write
// position `write`.
F4 readInterp4(const float (*lines)[DattorroReverb::kLineSize], F4 write, F4 delay) {
  using namespace ml::simd;
  constexpr int kMask = DattorroReverb::kLineMask;
  F4 pos = sub(write, delay);
  pos = select(add(pos, splat(static_cast<float>(DattorroReverb::kLineSize))), pos,
               greaterThan(splat(0.0f), pos));
  // pos is at least 0 here, where truncation is the floor.
  const I4 whole = truncToInt(pos);
  const F4 frac = sub(pos, toFloat(whole));
  alignas(16) int32_t here[4];
  alignas(16) int32_t next[4];
  storeI(here, whole);
  for (int l = 0; l < 4; ++l) {
    here[l] &= kMask;
    next[l] = (here[l] + 1) & kMask;
  }
  const F4 a = gather4(lines, here);
  return add(a, mul(frac, sub(gather4(lines, next), a)));
}

}  // namespace

void DattorroReverb::setSampleRate(float sr) {
  if (!(sr > 0.0f) || !std::isfinite(sr)) return;
  sampleRate = sr;
  const float scale = sr / kRefSampleRate;
  modDepth = kRefModDepth * scale;
  for (int i = 0; i < kNumLines; ++i) {
    lineLength[i] = scaledLength(kRefDelays[i], scale, kMaxLineLength);
    tankDiffLength[i] = scaledLength(kRefTankDiffDelays[i], scale, kMaxDiffuserLength);
  }
  for (int i = 0; i < kNumInputDiffusers; ++i) {
    inputDiffLength[i] = scaledLength(kRefInputDiffDelays[i], scale, kMaxDiffuserLength);
  }
  clear();
}

void DattorroReverb::clear() {
  std::memset(lines, 0, sizeof(lines));
  std::memset(inputDiff, 0, sizeof(inputDiff));
  std::memset(tankDiff, 0, sizeof(tankDiff));
  std::memset(preDelay, 0, sizeof(preDelay));
  for (int i = 0; i < kNumLines; ++i) {
    lowpass[i] = prevTap[i] = dcState[i] = 0.0f;
    modPhase[i] = static_cast<float>(i) / kNumLines;
  }
  lineWrite = inputDiffIndex = tankDiffIndex = preDelayWrite = 0;
}

float DattorroReverb::allpass(float x, float* buffer, int32_t delay, int32_t index, float g) {
  const float v = buffer[(index - delay) & kDiffuserMask];
  const float w = x + g * v;
  buffer[index] = w;
  return v - g * w;
}

void DattorroReverb::hadamard8(F4& low, F4& high) {
  using namespace ml::simd;
  const F4 a = butterflyWithin<2>(butterflyWithin<1>(low));
  const F4 b = butterflyWithin<2>(butterflyWithin<1>(high));
  low = mul(add(a, b), splat(kHadamardScale));
  high = mul(sub(a, b), splat(kHadamardScale));
}

void DattorroReverb::process(const ml::DSPVector& in, float preDelayMs, float decaySeconds, float tone,
                             ml::DSPVector& outL, ml::DSPVector& outR) {
  using namespace ml::simd;
  // Per-block coefficients.
  const float decay = std::max(ml::finiteOr(decaySeconds, kMinDecaySeconds), kMinDecaySeconds);
  alignas(16) float feedback[kNumLines];
  alignas(16) float modStep[kNumLines];
  for (int i = 0; i < kNumLines; ++i) {
    const float t = static_cast<float>(lineLength[i] + tankDiffLength[i]) / sampleRate;
    feedback[i] = std::min(std::pow(10.0f, -3.0f * t / decay) + 0.035f * t, 1.0f);
    modStep[i] = kModRates[i] / sampleRate;
  }
  const float damp = std::max(1.0f - 0.85f * ml::safeClamp(tone, 0.0f, 1.0f), 0.05f);
  const float pre = ml::safeClamp(0.001f * preDelayMs * sampleRate, 0.0f, static_cast<float>(kPreDelayMask));
  const int preInt = static_cast<int>(pre);
  const float preFrac = pre - static_cast<float>(preInt);

  // The filter states stay in registers through the block.
  F4 phase[kQuads], dc[kQuads], lp[kQuads], prev[kQuads];
  for (int q = 0; q < kQuads; ++q) {
    phase[q] = loadF(modPhase + 4 * q);
    dc[q] = loadF(dcState + 4 * q);
    lp[q] = loadF(lowpass + 4 * q);
    prev[q] = loadF(prevTap + 4 * q);
  }

  for (size_t n = 0; n < ml::kFloatsPerDSPVector; ++n) {
    // Pre-delay with a fractional read.
    preDelay[preDelayWrite] = in[n];
    const int r = (preDelayWrite - preInt) & kPreDelayMask;
    const int r1 = (r - 1) & kPreDelayMask;
    const float x = preDelay[r] + preFrac * (preDelay[r1] - preDelay[r]);
    preDelayWrite = (preDelayWrite + 1) & kPreDelayMask;

    float d = x;
    for (int k = 0; k < kNumInputDiffusers; ++k)
      d = allpass(d, inputDiff[k], inputDiffLength[k], inputDiffIndex, kInputDiffCoeffs[k]);

    // Taps, then the feedback paths: DC blocker, damping, loss and tank allpass.
    alignas(16) float tap[kNumLines];
    alignas(16) float extra[kNumLines];
    F4 y[kQuads];
    const F4 write = splat(static_cast<float>(lineWrite));
    for (int q = 0; q < kQuads; ++q) {
      const int first = 4 * q;
      const F4 mod = sineOfCycles4(phase[q]);
      const F4 next = add(phase[q], loadF(modStep + first));
      phase[q] = select(next, sub(next, splat(1.0f)), greaterThan(splat(1.0f), next));
      const F4 modulated = add(toFloat(loadI(lineLength + first)), mul(mod, splat(modDepth)));
      const F4 delay = min(max(modulated, splat(1.0f)), splat(kMaxModulatedDelay));
      const F4 t = readInterp4(lines + first, write, delay);
      const F4 extraDelay = mul(delay, loadUnalignedF(kExtraTapFrac + first));
      storeF(tap + first, t);
      storeF(extra + first, mul(splat(kExtraTapGain), readInterp4(lines + first, write, extraDelay)));

      dc[q] = add(mul(splat(kDcPole), dc[q]), sub(t, prev[q]));
      prev[q] = t;
      lp[q] = add(lp[q], mul(splat(damp), sub(dc[q], lp[q])));
      alignas(16) int32_t read[4];
      for (int l = 0; l < 4; ++l) read[l] = (tankDiffIndex - tankDiffLength[first + l]) & kDiffuserMask;
      const F4 v = gather4(tankDiff + first, read);
      const F4 w = add(mul(lp[q], loadF(feedback + first)), mul(splat(kTankDiffCoeff), v));
      scatter4(tankDiff + first, tankDiffIndex, w);
      y[q] = sub(v, mul(splat(kTankDiffCoeff), w));
    }

    // Even lines feed the left, odd lines the right; each line's extra tap feeds the other side.
    float sumL = 0.0f;
    float sumR = 0.0f;
    for (int i = 0; i < kNumLines; i += 2) {
      sumL += tap[i];
      sumR += extra[i];
      sumR += tap[i + 1];
      sumL += extra[i + 1];
    }
    outL[n] = kWetGain * sumL;
    outR[n] = kWetGain * sumR;

    // The orthogonal mix back into the lines.
    hadamard8(y[0], y[1]);
    const F4 input = splat(kHadamardScale * d);
    for (int q = 0; q < kQuads; ++q) scatter4(lines + 4 * q, lineWrite, add(input, y[q]));
    lineWrite = (lineWrite + 1) & kLineMask;
    inputDiffIndex = (inputDiffIndex + 1) & kDiffuserMask;
    tankDiffIndex = (tankDiffIndex + 1) & kDiffuserMask;
  }
  for (int q = 0; q < kQuads; ++q) {
    storeF(modPhase + 4 * q, phase[q]);
    storeF(dcState + 4 * q, dc[q]);
    storeF(lowpass + 4 * q, lp[q]);
    storeF(prevTap + 4 * q, prev[q]);
  }
}
