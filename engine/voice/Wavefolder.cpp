#include "engine/voice/Wavefolder.h"

#include <cmath>

#include "engine/voice/FilterSaturation.h"
#include "foundation/MLDSPVector.h"
#include "foundation/MLFastMath.h"
#include "foundation/MLSafeValue.h"

const float kLockRaw0 = 1.f - lambertW0pos(2.7182817f);

namespace {

// The argument of the Serge fold's sine.
float sergeArgument(float x) {
  return 1.6f * tanhApprox(x / 1.6f);
}

}  // namespace

float sergeFold(float x) {
  return ml::sinApprox(sergeArgument(x));
}

float lambertW0pos(float x) {
  const float w = logf(1.f + x);
  return w * (1.f - logf(1.f + w) / (2.f + w));
}

namespace {

// The Lockhart fold from the folded angle asin(sin x) of its input: 2/pi of it is a unit triangle wave.
float lockhartFoldOfAngle(float angle) {
  const float v = 0.63661975f * angle;
  const float r = 1.f - lambertW0pos(2.7182817f * (1.f - std::fabs(v))) - kLockRaw0;
  return v < 0.f ? -r : r;
}

}  // namespace

float lockhartFold(float x) {
  return lockhartFoldOfAngle(ml::foldedAngle(x));
}

namespace {

// The character morph from the sine fold s, the Serge fold's sine and the folded angle of one input.
float foldCharMix(float s, float sergeSine, float angle, float c) {
  if (c <= 0.f) return s;
  const float serge = 0.697744f * sergeSine;
  if (c < 0.5f) return s + (serge - s) * 2.f * c;
  const float lockhart = 1.612524f * lockhartFoldOfAngle(angle);
  return serge + (lockhart - serge) * 2.f * (c - 0.5f);
}

}  // namespace

float foldCharMorph(float x, float s, float c) {
  if (c <= 0.f) return s;
  return foldCharMix(s, sergeFold(x), ml::foldedAngle(x), c);
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
    oversampler.processBlockRows(row, y, kBlock, [&](float* u) {
      float serge[2 * kBlock];
      float angle[2 * kBlock];
      for (int k = 0; k < 2 * kBlock; ++k) {
        const float v = (u[k] + biasTerm[k / 2]) * shaperGain[k / 2];
        serge[k] = sergeArgument(v);
        angle[k] = ml::foldedAngle(v);
        u[k] = ml::sinOfFoldedAngle(angle[k]);
      }
      ml::sinApprox(serge, 2 * kBlock);
      for (int k = 0; k < 2 * kBlock; ++k) u[k] = foldCharMix(u[k], serge[k], angle[k], character[k / 2]);
    });
  } else {
    oversampler.processBlockRows(row, y, kBlock, [&](float* u) {
      for (int k = 0; k < 2 * kBlock; ++k) u[k] = (u[k] + biasTerm[k / 2]) * shaperGain[k / 2];
      ml::sinApprox(u, 2 * kBlock);
    });
  }
  for (int i = 0; i < kBlock; ++i) {
    const float wet = ml::safeClamp((gain[i] - 1.f) * 5.f, 0.f, 1.f);
    row[i] = row[i] + (y[i] - row[i]) * wet;
  }
}
