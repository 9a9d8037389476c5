#include "engine/voice/VoiceState.h"

#include <cmath>

namespace {

// A voice below both floors has faded out and need not hand its sound to a release tail.
constexpr float kAudibleLevel = 0.01f;
constexpr float kAudibleFilterEnergy = 0.001f;

}  // namespace

void VoiceState::clear() {
  VoiceState fresh;
  fresh.modulatorSine.clear();
  fresh.filterA = filterA;
  fresh.filterA.clear();
  fresh.filterB = filterB;
  fresh.filterB.clear();
  fresh.glideCoeff = glideCoeff;
  fresh.drift = drift;
  fresh.drift.clear();
  fresh.paramSmoothers = paramSmoothers;
  fresh.noteChannel = noteChannel;
  *this = fresh;
}

bool VoiceState::sounding() const {
  const float energy = std::fabs(filterA.ic1eq) + std::fabs(filterA.ic2eq) + std::fabs(filterB.ic1eq) +
                       std::fabs(filterB.ic2eq);
  return ampLevel * gainCurrent >= kAudibleLevel || energy > kAudibleFilterEnergy;
}
