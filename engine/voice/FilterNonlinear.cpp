// Drive-dependent gains of the nonlinear filter.
#include "engine/voice/FilterNonlinear.h"

NlSvfDrive nlSvfDrive(float d) {
  const float dc = (d > 0.f) ? ((d < 1.f) ? d : 1.f) : 0.f;
  NlSvfDrive r;
  r.bpGain = 3.5f * dc + 0.5f;
  r.invBpGain = 1.f / r.bpGain;
  r.stateGain = 2.3f * dc + 0.7f;
  r.invStateGain = 1.f / r.stateGain;
  r.colour = 0.12f * dc;
  return r;
}
