#include "engine/voice/ParamSmoother.h"

#include <bit>
#include <cmath>
#include <cstdint>

void ParamSmoother::setTime(float ms, float sampleRate) {
  const double samples = 0.001 * static_cast<double>(ms) * static_cast<double>(sampleRate);
  const bool usable = ms > 0.0f && sampleRate > 0.0f && std::isfinite(samples);
  // Computed in double: 1 - exp(-x) for small x loses most of its digits in float.
  coeff = usable ? static_cast<float>(1.0 - std::exp(-1.0 / samples)) : 1.0f;
  rested = false;
}

bool ParamSmoother::atRest(float toward) {
  if (coeff == 1.0f) {
    // value + (toward - value) can miss toward by one rounding step; without smoothing the row is exact.
    value = toward;
    rested = true;
    return true;
  }
  // A step that leaves the value where it is leaves it there for the whole row: settled (or stalled
  // a rounding step short of the target), the row is constant.
  rested = value + coeff * (toward - value) == value;
  return rested;
}

ml::DSPVector ParamSmoother::smooth(float toward) {
  if (atRest(toward)) return ml::DSPVector(value);
  ml::DSPVector row;
  stepInto(toward, row);
  return row;
}

void ParamSmoother::smoothInto(float toward, ml::DSPVector& row) {
  if (!atRest(toward)) {
    rowHeld = false;
    stepInto(toward, row);
    return;
  }
  if (rowHeld && std::bit_cast<uint32_t>(heldValue) == std::bit_cast<uint32_t>(value)) return;
  row = value;
  rowHeld = true;
  heldValue = value;
}

void ParamSmoother::stepInto(float toward, ml::DSPVector& row) {
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) {
    value += coeff * (toward - value);
    row[i] = value;
  }
}

float ParamSmoother::smoothLast(float toward) {
  if (atRest(toward)) return value;
  for (size_t i = 0; i < ml::kFloatsPerDSPVector; ++i) value += coeff * (toward - value);
  return value;
}
