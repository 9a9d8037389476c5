// Cutoff calibration curves and their interpolation in ln(hz).
#include "engine/voice/FilterCalibration.h"

#include <cmath>

#include "engine/voice/FilterApprox.h"
#include "engine/voice/FilterSvf.h"

namespace {

using ml::simd::Lanes;

CurveLogs curveLogs() {
  CurveLogs c;
  for (int k = 0; k < kCalibCurvePoints; ++k)
    c.point[k] = logApprox(Lanes(k < 8 ? kCalibKnobHz[k] : kCalibTopHz));
  for (int k = 0; k + 1 < kCalibCurvePoints; ++k) c.invWidth[k] = 1.f / (c.point[k + 1] - c.point[k]);
  return c;
}

// The points of a mode's curve.
void modePoints(int mode, float* points) {
  const float* corr = mode == kFilterLowPass    ? kCalibCorrLP
                      : mode == kFilterHighPass ? kCalibCorrHP
                                                : nullptr;
  for (int k = 0; k < kCalibCurvePoints; ++k) points[k] = (corr != nullptr && k < 8) ? corr[k] : 1.f;
}

float firstLane(Lanes v) {
  alignas(16) float out[4];
  ml::simd::storeF(out, v.v);
  return out[0];
}

// scale times the factor at hz of one curve.
float scaledFactor(float scale, float hz, int mode, bool blendActive, int fromMode, int toMode, float t) {
  float points[kCalibCurvePoints];
  filterCalibCurve(mode, blendActive, fromMode, toMode, t, points);
  Lanes curve[kCalibCurvePoints];
  for (int k = 0; k < kCalibCurvePoints; ++k) curve[k] = points[k];
  return firstLane(Lanes(scale) * filterCalibFactor(Lanes(hz), curve));
}

}  // namespace

const CurveLogs kCurveLogs = curveLogs();

void filterCalibCurve(int mode, bool blendActive, int fromMode, int toMode, float t, float* curve) {
  float points[kCalibCurvePoints];
  modePoints(blendActive ? fromMode : mode, points);
  if (blendActive) {
    float to[kCalibCurvePoints];
    modePoints(toMode, to);
    for (int k = 0; k < kCalibCurvePoints; ++k) points[k] = points[k] + t * (to[k] - points[k]);
  }
  curve[0] = points[0];
  for (int k = 1; k < kCalibCurvePoints; ++k) curve[k] = points[k] - points[k - 1];
}

float filterCalibCorrForMode(int mode, float hz) {
  return scaledFactor(1.f, hz, mode, false, mode, mode, 0.f);
}

float applyFilterCalibration(float hz, int mode, bool blendActive, int fromMode, int toMode, float t) {
  return scaledFactor(hz, hz, mode, blendActive, fromMode, toMode, t);
}
