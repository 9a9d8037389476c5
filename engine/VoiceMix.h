// Mixing the voices into the stereo sum: the pan law and the voice-count gain ramp.
#pragma once

#include <cstdint>

#include "foundation/MLDSPVector.h"

// Left and right gains of a panned source.
struct StereoGains {
  float left;
  float right;
};

// Pan law for voices and release tails: pan p in -1..1 (clamped; NaN gives -1), source gain g.
// Centre gives g on both sides; hard right gives 0 left and 1.189 x g right.
StereoGains panLaw(float p, float g);

// Gain on the summed voices, 1 / n^0.35 for n voices, so a full chord does not grow with the voice count.
// The first target is taken at once; later changes ramp linearly over 8 ms.
struct VoiceSumGain {
  float current{0.0f};
  float target{0.0f};
  float step{0.0f};
  bool initialised{false};
  uint64_t lastVoices{0};  // the count the target was last computed for

  void clear() { *this = VoiceSumGain{}; }
  // n voices (0 counts as 1, more than 8 as 8) at sampleRate Hz.
  void setVoiceCount(uint64_t n, double sampleRate);
  // Scales both rows in place, advancing the ramp per sample.
  void apply(ml::DSPVector& left, ml::DSPVector& right);
};
