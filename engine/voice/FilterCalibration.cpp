// Cutoff calibration tables and their interpolation.
#include "engine/voice/FilterCalibration.h"

#include <cmath>

#include "engine/voice/FilterSvf.h"

float filterCalibCorrForMode(int mode, float hz) {
  if (mode != kFilterLowPass && mode != kFilterHighPass) return 1.f;
  if (!std::isfinite(hz)) return 1.f;
  const float* corr = (mode == kFilterLowPass) ? kCalibCorrLP : kCalibCorrHP;
  if (hz <= kCalibKnobHz[0]) return corr[0];
  if (hz >= 19000.f) return 1.f;
  if (hz >= kCalibKnobHz[7]) {
    return corr[7] + (1.f - corr[7]) * std::log(hz / 12000.f) / std::log(19000.f / 12000.f);
  }
  int i = 1;
  while (i < 7 && kCalibKnobHz[i] < hz) ++i;
  const float lo = std::log(kCalibKnobHz[i - 1]);
  const float w = (std::log(hz) - lo) / (std::log(kCalibKnobHz[i]) - lo);
  return corr[i - 1] + w * (corr[i] - corr[i - 1]);
}

float applyFilterCalibration(float hz, int mode, bool blendActive, int fromMode, int toMode, float t) {
  if (!blendActive) return hz * filterCalibCorrForMode(mode, hz);
  const float from = filterCalibCorrForMode(fromMode, hz);
  const float to = filterCalibCorrForMode(toMode, hz);
  return hz * (from + t * (to - from));
}
