#include "engine/VoiceMix.h"

#include <algorithm>
#include <cmath>

#include "foundation/MLSafeValue.h"

StereoGains panLaw(float p, float g) {
  const float pan = ml::safeClamp(p, -1.0f, 1.0f);
  const float a = pan * 0.7853982f;
  const float w = 1.0f - 0.1586f * std::fabs(pan);
  const float c = std::cos(a), s = std::sin(a);
  return {g * (c - s) * w, g * (c + s) * w};
}

void VoiceSumGain::setVoiceCount(uint64_t n, double sampleRate) {
  const uint64_t voices = std::clamp<uint64_t>(n, 1, 8);
  if (initialised && voices == lastVoices) return;
  lastVoices = voices;
  const float newTarget = 1.0f / std::pow(static_cast<float>(voices), 0.35f);
  if (!initialised) {
    current = target = newTarget;
    step = 0.0f;
    initialised = true;
  } else if (newTarget != target) {
    target = newTarget;
    step = (target - current) / static_cast<float>(std::max(1.0, 0.008 * sampleRate));
  }
}

void VoiceSumGain::apply(ml::DSPVector& left, ml::DSPVector& right) {
  if (step == 0.0f) {
    const float g = current;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) left[i] *= g;
    for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) right[i] *= g;
    return;
  }
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    if (step != 0.0f) {
      current += step;
      if ((step > 0.0f && current >= target) || (step < 0.0f && current <= target)) {
        current = target;
        step = 0.0f;
      }
    }
    left[i] *= current;
    right[i] *= current;
  }
}
