#include "foundation/MLADSR.h"

#include <algorithm>
#include <cmath>

namespace ml {

ADSR::Coeffs ADSR::calcCoeffs(float attack, float decay, float sustain, float release, float sampleRate) {
  const float k = (1.0f / sampleRate) * 6.2831855f;
  return Coeffs{k / std::max(attack, minSegmentTime), k / std::max(decay, minSegmentTime), sustain,
                k / std::max(release, minSegmentTime)};
}

void ADSR::beginStage(int32_t newStage) {
  stage = newStage;
  // A segment always starts from its nominal level, not from the current output.
  float start = 0.f;
  float end = 0.f;
  switch (stage) {
    case kAttack:
      end = 1.f;
      coefficient = coeffs.a;
      break;
    case kDecay:
      start = 1.f;
      end = coeffs.s;
      coefficient = coeffs.d;
      break;
    case kSustain:
      start = end = coeffs.s;
      coefficient = 0.f;
      y = yPrev = coeffs.s;
      break;
    case kRelease:
      start = coeffs.s;
      coefficient = coeffs.r;
      break;
    default:
      coefficient = 0.f;
      y = yPrev = 0.f;
      break;
  }
  target = end;
  overshootTarget = end + (end - start) * 0.1f;
}

bool ADSR::decaySettled() const {
  return stage == kDecay && (y == yPrev || std::fabs(y - coeffs.s) <= kSettledDistance);
}

void ADSR::clear() {
  stage = kOff;
  y = yPrev = 0.f;
  gatePrev = 0.f;
}

}  // namespace ml
