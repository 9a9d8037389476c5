#include "engine/DattorroReverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/CycleSine.h"
#include "foundation/MLSafeValue.h"

namespace {

int32_t scaledLength(int32_t refLength, float scale, int32_t maxLength) {
  return std::min(static_cast<int32_t>(static_cast<float>(refLength) * scale + 0.5f), maxLength);
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
    lineWrite[i] = 0;
    lowpass[i] = prevTap[i] = dcState[i] = 0.0f;
    tankDiffIndex[i] = 0;
    modPhase[i] = static_cast<float>(i) / kNumLines;
  }
  for (int i = 0; i < kNumInputDiffusers; ++i) inputDiffIndex[i] = 0;
  preDelayWrite = 0;
}

float DattorroReverb::allpass(float x, float* buffer, int delay, int32_t& index, int size, float g) {
  int r = index - delay;
  if (r < 0) r += size;
  const float v = buffer[r];
  const float w = x + g * v;
  buffer[index] = w;
  index = (index + 1 == size) ? 0 : index + 1;
  return v - g * w;
}

float DattorroReverb::readInterp(int line, float delay) const {
  float pos = static_cast<float>(lineWrite[line]) - delay;
  if (pos < 0.0f) pos += kLineSize;
  // pos is at least 0 here, where truncation is the floor.
  const int whole = static_cast<int>(pos);
  const int i = whole & kLineMask;
  const float frac = pos - static_cast<float>(whole);
  const float* ring = lines[line];
  return ring[i] + frac * (ring[(i + 1) & kLineMask] - ring[i]);
}

void DattorroReverb::hadamard8(float* v) {
  for (int span = 1; span < kNumLines; span *= 2) {
    for (int start = 0; start < kNumLines; start += 2 * span) {
      for (int i = start; i < start + span; ++i) {
        const float a = v[i];
        const float b = v[i + span];
        v[i] = a + b;
        v[i + span] = a - b;
      }
    }
  }
  for (int i = 0; i < kNumLines; ++i) v[i] *= kHadamardScale;
}

void DattorroReverb::process(const ml::DSPVector& in, float preDelayMs, float decaySeconds, float tone,
                             ml::DSPVector& outL, ml::DSPVector& outR) {
  // Per-block coefficients.
  const float decay = std::max(ml::finiteOr(decaySeconds, kMinDecaySeconds), kMinDecaySeconds);
  float feedback[kNumLines];
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

  for (size_t n = 0; n < ml::kFloatsPerDSPVector; ++n) {
    // Pre-delay with a fractional read.
    preDelay[preDelayWrite] = in[n];
    const int r = (preDelayWrite - preInt) & kPreDelayMask;
    const int r1 = (r - 1) & kPreDelayMask;
    const float x = preDelay[r] + preFrac * (preDelay[r1] - preDelay[r]);
    preDelayWrite = (preDelayWrite + 1) & kPreDelayMask;

    float d = x;
    for (int k = 0; k < kNumInputDiffusers; ++k) {
      d = allpass(d, inputDiff[k], inputDiffLength[k], inputDiffIndex[k], kDiffuserSize, kInputDiffCoeffs[k]);
    }

    // The lines' modulation, four lines at a time.
    alignas(16) float mod[kNumLines];
    for (int i = 0; i < kNumLines; i += 4) {
      using namespace ml::simd;
      const F4 phase = loadF(modPhase + i);
      storeF(mod + i, sineOfCycles4(phase));
      const F4 next = add(phase, loadF(modStep + i));
      storeF(modPhase + i, select(next, sub(next, splat(1.0f)), greaterThan(splat(1.0f), next)));
    }

    // Taps: even lines feed the left, odd lines the right; each line's extra tap feeds the other side.
    float tap[kNumLines];
    float sumL = 0.0f;
    float sumR = 0.0f;
    for (int i = 0; i < kNumLines; ++i) {
      const float modulated = static_cast<float>(lineLength[i]) + mod[i] * modDepth;
      const float delay = std::clamp(modulated, 1.0f, kMaxModulatedDelay);
      tap[i] = readInterp(i, delay);
      const float extra = readInterp(i, delay * kExtraTapFrac[i]);
      if (i % 2 == 0) {
        sumL += tap[i];
        sumR += kExtraTapGain * extra;
      } else {
        sumR += tap[i];
        sumL += kExtraTapGain * extra;
      }
    }
    outL[n] = kWetGain * sumL;
    outR[n] = kWetGain * sumR;

    // Feedback paths: DC blocker, damping, loss, tank allpass, then the orthogonal mix.
    float y[kNumLines];
    for (int i = 0; i < kNumLines; ++i) {
      dcState[i] = kDcPole * dcState[i] + (tap[i] - prevTap[i]);
      prevTap[i] = tap[i];
      lowpass[i] += damp * (dcState[i] - lowpass[i]);
      y[i] = allpass(lowpass[i] * feedback[i], tankDiff[i], tankDiffLength[i], tankDiffIndex[i],
                     kDiffuserSize, kTankDiffCoeff);
    }
    hadamard8(y);
    for (int i = 0; i < kNumLines; ++i) {
      lines[i][lineWrite[i]] = kHadamardScale * d + y[i];
      lineWrite[i] = (lineWrite[i] + 1) & kLineMask;
    }
  }
}
