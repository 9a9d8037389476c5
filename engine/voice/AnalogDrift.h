// Deterministic per-voice randomness: integer hashes, the fixed analog offsets of each voice, the
// bounded pitch walk, the drift of the FM ratio between neighbouring ratios, and the cutoff snap to
// harmonic ratios.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

// Harmonic ratios the FM ratio drifts between when no tuning gives its own.
inline constexpr std::array<double, 14> kHarmonicTargets = {0.5, 0.667, 0.75, 1.0, 1.333, 1.5, 2.0,
                                                            2.5, 3.0,   4.0,  5.0, 6.0,   7.0, 8.0};
// The FM ratios the drift works between: the range of the Ratio parameter, which the engine checks
// against its table.
inline constexpr double kDriftRatioMin = 0.5;
inline constexpr double kDriftRatioMax = 16.0;
// Bound of the pitch walk in cents, both ways.
inline constexpr float kAnalogDriftMaxCents = 2.0f;

uint32_t analogHash(uint32_t x);
// -1 .. about 1 from a 32-bit integer.
inline float analogSignedUnit(uint32_t u) {
  return static_cast<float>(u) * 4.656613e-10f - 1.f;
}
// Advances a nonzero xorshift state and returns it.
inline uint32_t analogXorshift(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}
// Triangular-distributed value in -1..1: the mean of two uniform draws.
float analogGaussian(uint32_t& s);

// Fixed offsets that make one voice differ from the others, drawn once per voice life.
struct AnalogOffsets {
  float pitchCents{0.f};   // -1.4 .. 1.4
  float cutoffCents{0.f};  // -18 .. 18
  float timeOffset{0.f};   // -0.04 .. 0.04, added to 1 as the Env 1 time factor
  float gainDb{0.f};       // -0.35 .. 0.35
  float startDelay{0.f};   // samples, 0 .. 0.3 ms
  float cutoffMul{1.f};    // the cutoff and gain offsets as multipliers
  float gainMul{1.f};
};

// The offsets of synthesis voice `voice` (0..7) at the given sample rate.
AnalogOffsets drawAnalogOffsets(int voice, float sampleRate);

// Seed of the voice's walk and start-phase stream; odd, so never 0.
uint32_t analogSeedForVoice(int voice);

// The walk's leak per block at the given sample rate.
float analogWalkDecay(float sampleRate);

// One block of the pitch walk in cents: seeds `seed` when it is 0, then a leaky step of the walk with
// `decay` (analogWalkDecay), bounded to -2 .. kAnalogDriftMaxCents.
float analogWalkStep(uint32_t& seed, float walkCents, int voice, float decay);

// Ratios the drift may pick, built from the active tuning; count 0 means kHarmonicTargets.
struct DriftTargets {
  static constexpr int kMaxTargets = 32;
  double values[kMaxTargets]{};  // ascending
  int32_t count{0};
  uint32_t generation{0};  // tuning generation the table was built for
};

// Drift clock of one voice (or release tail). Plain value, lives in the voice state.
struct DriftClock {
  float phase{0.f};   // 0..1
  float rate{0.f};    // Hz, 0.05..0.5 once initialised
  float target{1.f};  // picked target ratio
  float ratio{1.f};   // current drift multiplier
  float coeff{0.f};   // per-block glide coefficient toward target
  bool needsInit{true};

  // Starts over; the rate is kept, as needsInit re-derives it before use. The glide coefficient is
  // zeroed: kept, it would glide the ratio toward 1 / Ratio before the first new target is picked.
  void clear();
};

// A usable FM ratio for the drift: not finite gives 1, then clamped to the Ratio range 0.5..16.
double sanitizeDriftRatio(double ratio);

// Picks one table entry within `range` octaves of `ratio`, the same one for the same voice and
// ratio; the ratio itself when none lies in range. Voice -1 is a release tail.
double pickDriftTarget(const DriftTargets& targets, int voice, double ratio, double range);

// One 64-sample block of the drift clock; returns the block's multiplier of the FM ratio.
// `drift` is the Drift parameter (0..1); the multiplier is 1 and nothing moves at or below 0.001.
float driftStep(DriftClock& clock, const DriftTargets& targets, int voice, double ratio, double drift,
                float sampleRate);

// Moves `cutoff` to the nearest octave multiple of noteHz times one of the ratio steps. The result is
// always clamped to 20..20000 Hz (NaN gives 20); without steps, for noteHz <= 1 or cutoff <= 0 nothing
// else changes.
float snapCutoffToHarmonic(const double* ratioSteps, int32_t ratioStepCount, float noteHz, float cutoff);

// Rebuilds the targets from the tuning's note frequencies (noteFreq(n) in Hz for notes 0..127) when
// the tuning generation changed: the distinct ratios to note 60 between 0.5 and 16, at most 32.
// Without an active tuning the table is empty and the harmonic targets apply.
template <typename NoteFreq>
void recomputeDriftTargets(DriftTargets& targets, uint32_t generation, bool tuningActive,
                           NoteFreq&& noteFreq) {
  if (generation == targets.generation && targets.count > 0) return;
  targets.generation = generation;
  targets.count = 0;
  if (!tuningActive) return;
  const double f0 = noteFreq(60);
  if (!(f0 > 0.0)) return;
  double keys[DriftTargets::kMaxTargets];
  for (int n = 0; n < 128 && targets.count < DriftTargets::kMaxTargets; ++n) {
    const double r = noteFreq(n) / f0;
    if (!(r >= 0.5 && r <= 16.0)) continue;
    const double key = std::round(1000.0 * r) / 1000.0;
    const bool seen =
        std::any_of(keys, keys + targets.count, [key](double k) { return std::fabs(k - key) < 0.001; });
    if (seen) continue;
    keys[targets.count] = key;
    targets.values[targets.count++] = r;
  }
  std::sort(targets.values, targets.values + targets.count);
}
