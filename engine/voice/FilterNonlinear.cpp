// Drive-dependent gains of the nonlinear filter.
#include "engine/voice/FilterNonlinear.h"

#include "foundation/MLSafeValue.h"

NlSvfDrive nlSvfDrive(float d) {
  const float dc = ml::safeClamp(d, 0.f, 1.f);
  NlSvfDrive r;
  r.bpGain = 3.5f * dc + 0.5f;
  r.invBpGain = 1.f / r.bpGain;
  r.stateGain = 2.3f * dc + 0.7f;
  r.invStateGain = 1.f / r.stateGain;
  r.colour = 0.12f * dc;
  return r;
}
