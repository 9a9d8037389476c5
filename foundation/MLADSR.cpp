#include "foundation/MLADSR.h"

#include <algorithm>

namespace ml {

ADSR::Coeffs ADSR::calcCoeffs(float attack, float decay, float sustain, float release, float sampleRate) {
  const float k = (1.0f / sampleRate) * 6.2831855f;
  return Coeffs{k / std::max(attack, minSegmentTime), k / std::max(decay, minSegmentTime), sustain,
                k / std::max(release, minSegmentTime)};
}

void ADSR::clear() {
  stage = kOff;
  y = yPrev = 0.f;
  gatePrev = 0.f;
}

}  // namespace ml
