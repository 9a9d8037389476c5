// Cutoff calibration curves and their interpolation in ln(hz).
#include "engine/voice/FilterCalibration.h"

#include <cmath>

#include "engine/voice/FilterApprox.h"
#include "engine/voice/FilterSvf.h"

namespace {

using ml::simd::Lanes;

constexpr float kTopHz = 19000.f;

// ln of each curve point and the inverse of each segment's width in ln(hz), with the same log as the
// cutoffs so that a cutoff on a point lands on it exactly. Built before main.
struct CurveLogs {
  Lanes point[kCalibCurvePoints];
  Lanes invWidth[kCalibCurvePoints - 1];
};

CurveLogs curveLogs() {
  CurveLogs c;
  for (int k = 0; k < kCalibCurvePoints; ++k) c.point[k] = logApprox(Lanes(k < 8 ? kCalibKnobHz[k] : kTopHz));
  for (int k = 0; k + 1 < kCalibCurvePoints; ++k) c.invWidth[k] = 1.f / (c.point[k + 1] - c.point[k]);
  return c;
}

const CurveLogs kCurveLogs = curveLogs();

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

Lanes filterCalibFactor(Lanes hz, const Lanes* curve) {
  using ml::simd::max;
  using ml::simd::min;
  const Lanes l = logApprox(min(max(hz, kCalibKnobHz[0]), kTopHz));
  Lanes factor = curve[0];
  for (int k = 0; k + 1 < kCalibCurvePoints; ++k) {
    const Lanes w = min(max((l - kCurveLogs.point[k]) * kCurveLogs.invWidth[k], 0.f), 1.f);
    factor = factor + curve[k + 1] * w;
  }
  const ml::simd::I4 inRange = ml::simd::andMask(ml::simd::greaterThan(ml::simd::splat(kTopHz), hz.v),
                                                 ml::simd::greaterThan(hz.v, ml::simd::splat(-INFINITY)));
  return select(factor, 1.f, inRange);
}

float filterCalibCorrForMode(int mode, float hz) {
  return scaledFactor(1.f, hz, mode, false, mode, mode, 0.f);
}

float applyFilterCalibration(float hz, int mode, bool blendActive, int fromMode, int toMode, float t) {
  return scaledFactor(hz, hz, mode, blendActive, fromMode, toMode, t);
}
