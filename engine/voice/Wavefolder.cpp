#include "engine/voice/Wavefolder.h"

#include <cmath>

#include "engine/voice/FilterSaturation.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLSafeValue.h"

const float kLockRaw0 = 1.f - lambertW0pos(2.7182817f);

float sergeFold(float x) {
  return sinf(1.6f * tanhApprox(x / 1.6f));
}

float lambertW0pos(float x) {
  const float w = logf(1.f + x);
  return w * (1.f - logf(1.f + w) / (2.f + w));
}

namespace {

// The Lockhart fold of x from the sine of x: 2/pi asin(sin x) is a unit triangle wave of x.
float lockhartFoldOfSine(float sinX) {
  const float v = 0.63661975f * asinf(sinX);
  const float r = 1.f - lambertW0pos(2.7182817f * (1.f - std::fabs(v))) - kLockRaw0;
  return v < 0.f ? -r : r;
}

}  // namespace

float lockhartFold(float x) {
  return lockhartFoldOfSine(sinf(x));
}

float foldCharMorph(float x, float s, float c) {
  if (c <= 0.f) return s;
  const float serge = 0.697744f * sergeFold(x);
  if (c < 0.5f) return s + (serge - s) * 2.f * c;
  const float lockhart = 1.612524f * lockhartFoldOfSine(s);
  return serge + (lockhart - serge) * 2.f * (c - 0.5f);
}

namespace {

constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);

bool usesCharacterPath(const FoldInputs& in) {
  return in.character[kBlock - 1] > 0.0001f || in.character[0] > 0.0001f || in.characterVoiceSource ||
         std::fabs(in.characterOffset) > 1e-9f;
}

}  // namespace

void foldStage(float* row, Oversampler2x& oversampler, const FoldInputs& in) {
  float amount[kBlock];
  float maxAmount = 1.f;
  for (int i = 0; i < kBlock; ++i) {
    amount[i] = in.fold[i] + in.foldRoute[i] + in.foldOffset;
    maxAmount = amount[i] > maxAmount ? amount[i] : maxAmount;
  }
  if (maxAmount <= 1.001f) return;

  float gain[kBlock], biasTerm[kBlock], shaperGain[kBlock], character[kBlock];
  for (int i = 0; i < kBlock; ++i) {
    gain[i] = ml::safeClamp(amount[i], 1.f, 8.f);
    const float bias = ml::safeClamp(in.bias[i] + in.biasRoute[i] + in.biasOffset, -1.f, 1.f);
    biasTerm[i] = 0.5f * bias;
    shaperGain[i] = 1.5707964f * gain[i];
  }
  float y[kBlock];
  if (usesCharacterPath(in)) {
    for (int i = 0; i < kBlock; ++i)
      character[i] = ml::safeClamp(in.character[i] + in.characterRoute[i] + in.characterOffset, 0.f, 1.f);
    oversampler.processBlock(row, y, kBlock, [&](int i, float u) {
      const float v = (u + biasTerm[i]) * shaperGain[i];
      return foldCharMorph(v, sinf(v), character[i]);
    });
  } else {
    oversampler.processBlock(row, y, kBlock,
                             [&](int i, float u) { return sinf((u + biasTerm[i]) * shaperGain[i]); });
  }
  for (int i = 0; i < kBlock; ++i) {
    const float wet = ml::safeClamp((gain[i] - 1.f) * 5.f, 0.f, 1.f);
    row[i] = row[i] + (y[i] - row[i]) * wet;
  }
}
