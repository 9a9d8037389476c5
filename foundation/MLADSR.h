// Exponential attack-decay-sustain-release envelope generator, one sample at a time.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ml {

// Per-sample ADSR. Each segment approaches a point 10 percent beyond its end level with a one-pole
// step and ends on the sample that crosses the end level, so segments have a finite length of about
// ln(11)/(2 pi) of their nominal time. Times are in seconds, levels 0..1, the gate is 0 (off) or a
// positive level that scales the output and is latched at each note start.
struct ADSR {
  // Per-sample approach coefficients of attack, decay and release; s is the sustain level.
  struct Coeffs {
    float a{0.f};
    float d{0.f};
    float s{0.f};
    float r{0.f};
  };

  enum Stage : int32_t { kAttack = 0, kDecay = 1, kSustain = 2, kRelease = 3, kOff = 4 };

  // Shortest attack, decay or release time in seconds.
  static constexpr float minSegmentTime = 0.0002f;
  // A release whose output falls to this level ends, so a release toward sustain 0 stops.
  static constexpr float kReleaseEndLevel = 1e-7f;
  // Distance from the sustain level at which a decay counts as arrived.
  static constexpr float kSettledDistance = 1e-6f;

  Coeffs coeffs{};
  float y{0.f};
  float yPrev{0.f};
  float gatePrev{0.f};
  float target{0.f};
  float overshootTarget{0.f};
  float coefficient{0.f};
  float amplitude{0.f};
  int32_t stage{kOff};

  static Coeffs calcCoeffs(float attack, float decay, float sustain, float release, float sampleRate) {
    const float k = (1.0f / sampleRate) * 6.2831855f;
    return Coeffs{k / std::max(attack, minSegmentTime), k / std::max(decay, minSegmentTime), sustain,
                  k / std::max(release, minSegmentTime)};
  }

  // Returns one output sample for the given gate; a new coeffs record acts at the next stage change.
  float processSample(float gate) {
    if (stage == kOff && gate == 0.f) return 0.f;

    const int32_t before = stage;
    int32_t next = stage;
    if (next < kOff && ((y > target) != (yPrev > target))) ++next;
    if (gatePrev == 0.f && gate > 0.f) {
      next = kAttack;
      amplitude = gate;
    } else if (gatePrev > 0.f && gate == 0.f) {
      next = kRelease;
    }
    if (next != before) beginStage(next);

    gatePrev = gate;
    yPrev = y;
    y = y + coefficient * (overshootTarget - y);

    if (stage == kRelease && y <= kReleaseEndLevel) beginStage(kOff);
    return y * amplitude;
  }

  // True when the generator holds its sustain level unchanged: every further sample with a held gate
  // (after a held one) returns sustainOutput() and leaves the state as it is.
  bool holdingSustain() const {
    return stage == kSustain && gatePrev > 0.f && coefficient == 0.f && y == yPrev;
  }
  float sustainOutput() const { return y * amplitude; }

  // True in the decay stage once it no longer moves toward the sustain level: the last step made no
  // progress, or the output is within 1e-6 of the sustain. A sustain of 1 (or just below) never
  // crosses into the sustain stage, so latches that wait for sustain also accept this.
  bool decaySettled() const {
    return stage == kDecay && (y == yPrev || std::fabs(y - coeffs.s) <= kSettledDistance);
  }

  // Turns the generator off and forgets the previous gate and output, so the next positive gate is
  // always a note start. Keeps the coefficients.
  void clear();

private:
  // Inline with processSample, so that a generator copied into a local keeps its state in registers.
  void beginStage(int32_t newStage) {
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
};

}  // namespace ml
