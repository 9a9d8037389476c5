// The engine-wide table of up to 48 sine partials of the "Carrier" shape, and its per-block upkeep.
#pragma once

#include <cstdint>

inline constexpr int kCarrierPartials = 48;
// Highest partial frequency rendered, cycles per sample; higher partials (and carriers) fall silent.
inline constexpr float kCarrierMaxIncrement = 0.45f;

// Partial ratios (ascending; the harmonic series or the active tuning's keys from middle C), their
// target and live amplitudes (live glides toward target once per block) and start phases 0..1.
struct CarrierBank {
  float ratios[kCarrierPartials]{};
  float targetAmps[kCarrierPartials]{};
  float liveAmps[kCarrierPartials]{};
  float seedPhases[kCarrierPartials]{};  // set once by the owner: carrierSeedPhase(k) of each partial
  int32_t count{0};                      // partials of the last rebuild (1..48)
  int32_t liveCount{0};                  // partials rendered (retired ones stay until they have faded out)
  uint32_t builtGeneration{0};
  float builtTilt{0.f};
  bool built{false};
};

// Start phase 0..1 of partial i, the same in every voice and every run.
float carrierSeedPhase(int i);

// True when the tables must be rebuilt: never built, another tuning generation, or Shape (the
// tilt) moved by more than 0.0001.
bool carrierBankNeedsRebuild(const CarrierBank& b, float tilt, uint32_t generation);

// Rebuilds ratios and target amplitudes for tilt 0..1 (amplitude ratio^(-2.5 (1 - tilt))), with a
// total level of 0.85 / sqrt(ln n). keyHz holds the frequencies of keys 0..127 under the active
// tuning, or is null without one: then the ratios are the harmonics 1..48. Keys from 60 up whose ratio
// to key 60 is at least 0.999 give the tuned ratios; non-positive or non-finite keys are skipped.
void rebuildCarrierBank(CarrierBank& b, float tilt, uint32_t generation, const float* keyHz);

// Once per block after any rebuild: glides the live amplitudes toward the targets (or takes them at
// once on the first build) and retires faded partials beyond the count.
void glideCarrierBank(CarrierBank& b);
