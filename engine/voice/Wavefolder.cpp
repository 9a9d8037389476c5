#include "engine/voice/Wavefolder.h"

#include <cmath>

const float kLockRaw0 = 1.f - lambertW0pos(2.7182817f);

float sergeFold(float x) { return sinf(1.6f * tanhf(x / 1.6f)); }

float lambertW0pos(float x) {
  const float w = logf(1.f + x);
  return w * (1.f - logf(1.f + w) / (2.f + w));
}

float lockhartFold(float x) {
  // 2/pi asin(sin x) is a unit triangle wave of x.
  const float v = 0.63661975f * asinf(sinf(x));
  const float r = 1.f - lambertW0pos(2.7182817f * (1.f - std::fabs(v))) - kLockRaw0;
  return v < 0.f ? -r : r;
}

float foldCharMorph(float x, float s, float c) {
  if (c <= 0.f) return s;
  const float serge = 0.697744f * sergeFold(x);
  if (c < 0.5f) return s + (serge - s) * 2.f * c;
  const float lockhart = 1.612524f * lockhartFold(x);
  return serge + (lockhart - serge) * 2.f * (c - 0.5f);
}
