// Cutoff calibration of the low-pass and high-pass modes: a factor read from two 8-point tables.
#pragma once

#include <cmath>

#include "engine/voice/FilterApprox.h"
#include "foundation/MLSIMD.h"

// Knot frequencies (Hz) and the correction factors of low-pass and high-pass at each knot.
inline constexpr float kCalibKnobHz[8] = {100.f, 250.f, 500.f, 1000.f, 2000.f, 4000.f, 8000.f, 12000.f};
inline constexpr float kCalibCorrLP[8] = {0.74f, 0.799f, 0.811f, 0.783f, 0.786f, 0.807f, 0.822f, 0.852f};
inline constexpr float kCalibCorrHP[8] = {1.179f, 1.28f, 1.223f, 1.236f, 1.265f, 1.223f, 1.142f, 1.194f};

// A block's calibration curve: the factor at 100 Hz, then the factor's step to each next point (the
// knots up to 12 kHz, then 1 at 19 kHz).
inline constexpr int kCalibCurvePoints = 9;

// The curve of a mode (band-pass, notch and others: 1 throughout), or while a calibration blend is
// active the curves of fromMode and toMode interpolated by t.
void filterCalibCurve(int mode, bool blendActive, int fromMode, int toMode, float t, float* curve);

// The curve's last point, where the factor is 1.
inline constexpr float kCalibTopHz = 19000.f;

// ln of each curve point and the inverse of each segment's width in ln(hz), with the same log as the
// cutoffs so that a cutoff on a point lands on it exactly. Built before main.
struct CurveLogs {
  ml::simd::Lanes point[kCalibCurvePoints];
  ml::simd::Lanes invWidth[kCalibCurvePoints - 1];
};
extern const CurveLogs kCurveLogs;

// ln of a cutoff clamped to the curve's span: finite for any cutoff, NaN included.
inline ml::simd::Lanes calibLog(ml::simd::Lanes hz) {
  return logApprox(ml::simd::min(ml::simd::max(hz, kCalibKnobHz[0]), kCalibTopHz));
}

// The weight of segment k at log l: 0 below it, 1 above it. It never falls as l rises.
inline ml::simd::Lanes calibWeight(ml::simd::Lanes l, int k) {
  return ml::simd::min(ml::simd::max((l - kCurveLogs.point[k]) * kCurveLogs.invWidth[k], 0.f), 1.f);
}

// The factor summed over the curve, or 1 where hz is at or above the top point or not finite.
inline ml::simd::Lanes calibFactorInRange(ml::simd::Lanes hz, ml::simd::Lanes factor) {
  const ml::simd::I4 inRange = ml::simd::andMask(ml::simd::greaterThan(ml::simd::splat(kCalibTopHz), hz.v),
                                                 ml::simd::greaterThan(hz.v, ml::simd::splat(-INFINITY)));
  return select(factor, 1.f, inRange);
}

// The factor at hz of each lane's curve: the first point at or below 100 Hz, linear in ln(hz) between
// points, 1 from 19 kHz and for cutoffs that are not finite. Inline, as the filters take it at every
// sample where a cutoff moves.
inline ml::simd::Lanes filterCalibFactor(ml::simd::Lanes hz, const ml::simd::Lanes* curve) {
  const ml::simd::Lanes l = calibLog(hz);
  ml::simd::Lanes factor = curve[0];
  for (int k = 0; k + 1 < kCalibCurvePoints; ++k) factor = factor + curve[k + 1] * calibWeight(l, k);
  return calibFactorInRange(hz, factor);
}

// Factor for a cutoff hz in a mode.
float filterCalibCorrForMode(int mode, float hz);

// Calibrated cutoff in Hz: hz times the mode's factor, or while a calibration blend is active the
// factors of fromMode and toMode interpolated by t.
float applyFilterCalibration(float hz, int mode, bool blendActive, int fromMode, int toMode, float t);
