#include "foundation/MLADSR.h"

namespace ml {

void ADSR::clear() {
  stage = kOff;
  y = yPrev = 0.f;
  gatePrev = 0.f;
}

}  // namespace ml
